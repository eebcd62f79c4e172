// Conversions running at the same time, each on its own context, must write
// exactly what the same conversions write one after the other: in process
// (threads calling ConvertGpbFile) and through gpb2rinex -j.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "api/conversion.h"
#include "obs/run_date.h"
#include "perf/synthetic_gpb.h"
#include "support/file_bytes.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 16;
constexpr int64_t kRunClock = 1133965800;

std::string ReadAll(const std::string& path) { return testio::ReadBytes(path); }

// Sixteen small inputs that differ in everything the writer looks at:
// format, satellites, interval, start, kinematic events, station blocks; one
// has no ephemeris file and one is not a GPB file, so two conversions fail.
class ParallelBatch : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "parallel_" + std::to_string(getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "/in");
    for (int i = 0; i < kFiles; ++i) {
      const std::string stem = In(i);
      names_.push_back(stem + ".gpb");
      if (i == 13) {
        std::FILE* f = std::fopen(names_.back().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("not a GPB file", f);
        std::fclose(f);
        continue;
      }
      synthetic::SyntheticDay day;
      day.Epochs = 200 + 37 * i;
      day.Interval = (i % 3 == 0) ? 30.0 : 1.0;
      day.Satellites = 4 + (i * 5) % 21;
      day.StartTime = 86400.0 * (i % 6) + 100.0 * i;
      day.NewFormat = i % 4 != 1;
      day.Seed = static_cast<uint32_t>(i + 1);
      if (i % 5 == 2) {
        day.KinematicStart = 20;
        day.KinematicEnd = 120;
      }
      ASSERT_TRUE(synthetic::WriteSyntheticGpb(names_.back(), day));
      if (i != 7) {
        ASSERT_TRUE(synthetic::WriteSyntheticEpp(stem + ".epp", day));
      }
      if (i % 4 == 3) {
        std::FILE* f = std::fopen((stem + ".sta").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "STA: *%.1f*\"S%02d\"*1.5*\"station\"*\"file\"*\n",
                     day.StartTime + day.Interval * 10, i);
        std::fclose(f);
      }
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string In(int i) const { return dir_ + "/in/f" + std::to_string(i); }

  // The observation and navigation files written for file i into out_dir
  // (empty texts when a file is missing).
  std::string Outputs(const std::string& out_dir, int i) const {
    std::string all;
    for (const char* ext : {".05o", ".05n"}) {
      all += ReadAll(out_dir + "/f" + std::to_string(i) + ext);
      all += '\x1e';
    }
    return all;
  }

  std::string dir_;
  std::vector<std::string> names_;
};

struct Outcome {
  int Result = 0;
  std::string Error;
};

// One conversion on the calling thread's current context, into out_dir.
Outcome ConvertInto(const std::string& gpb, const std::string& out_dir, int index) {
  ObsRequest obs{};
  NavRequest nav{};
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  const std::string stem = gpb.substr(0, gpb.size() - 4);
  const std::string out = out_dir + "/f" + std::to_string(index);
  std::snprintf(obs.GpbFile, sizeof obs.GpbFile, "%s", gpb.c_str());
  std::snprintf(obs.ObsFile, sizeof obs.ObsFile, "%s.obs", out.c_str());
  std::snprintf(nav.EppFile, sizeof nav.EppFile, "%s.epp", stem.c_str());
  std::snprintf(nav.NavFile, sizeof nav.NavFile, "%s.nav", out.c_str());
  std::snprintf(obs.MarkerName, sizeof obs.MarkerName, "F%d", index);
  SetRunClockForTesting(kRunClock);
  Outcome outcome;
  outcome.Result = ConvertGpbFile(&obs, &nav, index % 2 ? RINEX_VERSION_2_0 : RINEX_VERSION_2_1);
  outcome.Error = Ctx().ErrorText;
  return outcome;
}

// Threads, each with its own context, convert the batch; results, messages
// and files are those of the same batch converted on one thread.
TEST_F(ParallelBatch, ParallelThreadsMatchSequentialRun) {
  const std::string seq = dir_ + "/seq", par = dir_ + "/par";
  fs::create_directories(seq);
  fs::create_directories(par);
  std::vector<Outcome> expected(kFiles);
  for (int i = 0; i < kFiles; ++i) {
    Context context{};
    ContextScope scope(context);
    expected[static_cast<size_t>(i)] = ConvertInto(names_[static_cast<size_t>(i)], seq, i);
  }
  EXPECT_NE(expected[7].Result, 0);
  EXPECT_NE(expected[13].Result, 0);
  EXPECT_EQ(expected[0].Result, 0) << expected[0].Error;
  // The batch holds station blocks, kinematic events and long satellite lists.
  EXPECT_NE(Outputs(seq, 3).find("S03 "), std::string::npos);
  EXPECT_NE(Outputs(seq, 2).find("*** START OF KINEMATIC DATA ***"), std::string::npos);
  EXPECT_NE(Outputs(seq, 2).find("*** END OF KINEMATIC DATA ***"), std::string::npos);

  std::vector<Outcome> got(kFiles);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      Context context{};
      ContextScope scope(context);
      for (int i = t; i < kFiles; i += 4) {
        context = Context{};
        got[static_cast<size_t>(i)] = ConvertInto(names_[static_cast<size_t>(i)], par, i);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  for (int i = 0; i < kFiles; ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    EXPECT_EQ(got[static_cast<size_t>(i)].Result, expected[static_cast<size_t>(i)].Result);
    EXPECT_EQ(got[static_cast<size_t>(i)].Error, expected[static_cast<size_t>(i)].Error);
    const std::string files = Outputs(seq, i);
    EXPECT_EQ(Outputs(par, i), files);
    if (expected[static_cast<size_t>(i)].Result == 0) {
      EXPECT_GT(files.size(), 1000u);
    }
  }
}

struct ToolRun {
  int Code = -1;
  std::string Out;
};

ToolRun RunTool(const std::string& args) {
  const std::string command =
      "'" + std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex' " + args + " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) run.Out += buf;
  const int status = pclose(pipe);
  run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// gpb2rinex -j 4 prints the same lines in the same (argument) order, exits
// with the same code and writes the same files as the sequential run.
TEST_F(ParallelBatch, ParallelCommandLineMatchesSequentialRun) {
  if (!fs::exists(std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex")) {
    GTEST_SKIP() << "gpb2rinex not built";
  }
  std::string files;
  for (const std::string& name : names_) files += " '" + name + "'";
  const std::string seq = dir_ + "/cli_seq", par = dir_ + "/cli_par";
  fs::create_directories(seq);
  fs::create_directories(par);
  const std::string common = "--fixed-run-date " + std::to_string(kRunClock) + " --marker BATCH ";
  const ToolRun one = RunTool(common + "--output-dir '" + seq + "'" + files);
  const ToolRun four = RunTool(common + "-j 4 --output-dir '" + par + "'" + files);
  EXPECT_EQ(one.Code, 1);  // two files fail
  EXPECT_EQ(four.Code, one.Code);
  EXPECT_EQ(four.Out, one.Out);
  EXPECT_NE(one.Out.find("f0.gpb -> f0.05o f0.05n\n"), std::string::npos) << one.Out;
  EXPECT_NE(one.Out.find("f7.gpb: No ephemeris file "), std::string::npos) << one.Out;
  for (int i = 0; i < kFiles; ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    EXPECT_EQ(Outputs(par, i), Outputs(seq, i));
  }
  // The fixed run date is in both headers.
  EXPECT_NE(ReadAll(seq + "/f0.05o").find("7-DEC-05 14:30"), std::string::npos);
  // More workers than files, and bad counts.
  EXPECT_EQ(RunTool(common + "-j64 --force --output-dir '" + par + "'" + files).Out, one.Out);
  EXPECT_EQ(RunTool("-j 0 x.gpb").Code, 2);
  EXPECT_EQ(RunTool("-j 65 x.gpb").Code, 2);
  EXPECT_EQ(RunTool("-j").Code, 2);
  EXPECT_EQ(RunTool("--help").Out.find("fixed-run-date"), std::string::npos);
}

}  // namespace
}  // namespace rawconv
