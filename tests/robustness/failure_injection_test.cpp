// A call that fails part way leaves the user's files as they were. Every
// output name of the call holds a file of the user's, the call replaces
// them (--force), and a failure is injected at each output in turn: a
// folder in the way, a full disk, a file size limit, and (for gpb2rinex)
// SIGINT at each phase. Afterwards every file of the folder is byte for
// byte what it was, and no temporary (".part-") or kept-aside (".old-")
// file is left. The same cases run through gpb2rinex and through the
// library, for plain, split, compressed and check-only calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/tool_run.h"
#include "rawconv_api.h"
#include "support/child_process.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;
using clitest::RunProgram;
using clitest::Slurp;
using clitest::ToolRun;
using testsupport::InChild;
using testsupport::Inject;
using testsupport::Injection;
using testsupport::Outcome;
using testsupport::Wait;

struct CallKind {
  const char* Name;
  std::vector<std::string> Args;  // gpb2rinex's options for it
  int32_t Split, Compress, Qc;     // the library's
};

const CallKind kKinds[] = {
    {"PlainWithCheck", {"--qc"}, RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_NONE, RAWCONV_QC_WITH},
    {"Split15m", {"--qc", "--split", "15m"}, RAWCONV_SPLIT_15M, RAWCONV_COMPRESS_NONE,
     RAWCONV_QC_WITH},
    {"Split1h", {"--split", "1h"}, RAWCONV_SPLIT_1H, RAWCONV_COMPRESS_NONE, RAWCONV_QC_NONE},
    {"CheckOnly", {"--qc-only"}, RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_NONE, RAWCONV_QC_ONLY},
    {"Gzip", {"--compress", "gz"}, RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_GZ, RAWCONV_QC_NONE},
    {"CompactGzip", {"--qc", "--compress", "crx.gz"}, RAWCONV_SPLIT_NONE, RAWCONV_COMPRESS_CRX_GZ,
     RAWCONV_QC_WITH},
};

enum class Route { kGpb2rinex, kLibrary };

struct Case {
  Route Via;
  const CallKind* Kind;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  return std::string(info.param.Via == Route::kGpb2rinex ? "Gpb2rinex" : "Library") +
         info.param.Kind->Name;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (Route via : {Route::kGpb2rinex, Route::kLibrary})
    for (const CallKind& kind : kKinds) cases.push_back({via, &kind});
  return cases;
}

// This process in a mount namespace of its own (once), so that the small
// file systems the tests mount are seen by it and its children only and go
// away with it. false where the system does not allow it (no privileges).
bool PrivateMounts() {
  static const bool ok = unshare(CLONE_NEWNS) == 0 &&
                         mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ok;
}

// A scratch folder, gpb2rinex, and the files of the folder before a call.
class FolderTest : public testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex";
    char pattern[] = "/tmp/rawconv_fail_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    if (dir_.empty()) return;
    std::error_code ec;
    fs::remove_all(dir_, ec);
    EXPECT_FALSE(ec) << dir_ << ": " << ec.message();
    fs::remove(dir_ + ".err", ec);
  }

  // gpb2rinex started in the folder with these arguments, injected as `how`
  // says; its standard error goes to a file beside the folder.
  pid_t Start(const std::vector<std::string>& args, const Injection& how) const {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(tool_.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string err = dir_ + ".err";
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_RDWR);
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (null < 0 || fd < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(fd, 2) < 0 ||
          chdir(dir_.c_str()) != 0)
        _exit(120);
      Inject(how);
      execv(tool_.c_str(), argv.data());
      _exit(122);
    }
    return pid;
  }
  Outcome RunTool(const std::vector<std::string>& args, const Injection& how = Injection()) const {
    Outcome out;
    out.Code = Wait(Start(args, how), how);
    out.Message = Slurp(dir_ + ".err");
    return out;
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The folder on a file system of its own (tmpfs), whose size Resize sets.
  bool MountSmallDisk() {
    if (!PrivateMounts()) return false;
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=4m") == 0;
    return mounted_;
  }
  // Leaves `free_bytes` free on it.
  bool Resize(uint64_t free_bytes) {
    struct statvfs st;
    if (statvfs(dir_.c_str(), &st) != 0) return false;
    const uint64_t used = uint64_t(st.f_blocks - st.f_bfree) * st.f_frsize;
    const std::string size = "size=" + std::to_string(used + free_bytes);
    return mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT, size.c_str()) == 0;
  }

  // The outputs of a first call in the folder holding only the inputs,
  // then a file of the user's under each of their names.
  void SetUpOutputs(const std::function<Outcome()>& call) {
    const std::set<std::string> inputs = Names();
    const Outcome first = call();
    ASSERT_EQ(0, first.Code) << first.Message;
    for (const std::string& name : Names()) {
      if (inputs.count(name)) continue;
      outputs_.push_back(name);
      sizes_[name] = fs::file_size(Path(name));
    }
    ASSERT_GE(outputs_.size(), 2u);
    PutUserFiles();
  }
  void PutUserFiles() {
    for (const std::string& name : outputs_) {
      fs::remove(Path(name));
      Write(name, "USER " + name + "\n");
    }
    before_ = Snapshot();
  }

  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  void Write(const std::string& name, const std::string& text) const {
    std::FILE* f = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  // Every entry of the folder with its bytes ("<folder>" for a folder).
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : Names())
      files[name] = fs::is_directory(Path(name)) ? "<folder>" : Slurp(Path(name));
    return files;
  }
  void ExpectUntouched(const std::map<std::string, std::string>& before) const {
    const std::map<std::string, std::string> now = Snapshot();
    for (const auto& entry : now)
      EXPECT_TRUE(before.count(entry.first)) << "left behind: " << entry.first;
    for (const auto& entry : before) {
      auto it = now.find(entry.first);
      if (it == now.end()) {
        ADD_FAILURE() << "gone: " << entry.first;
      } else {
        EXPECT_TRUE(it->second == entry.second) << "changed: " << entry.first << " from "
                                                << entry.second.substr(0, 40) << " to "
                                                << it->second.substr(0, 40);
      }
    }
  }

  // A failed call that left every file as it was. Returns the output its
  // message names ("" when none).
  std::string ExpectFailedCleanly(const Outcome& out) {
    EXPECT_NE(0, out.Code) << out.Message;
    ExpectUntouched(before_);
    std::string named;
    for (const std::string& name : outputs_)
      if (out.Message.find(name) != std::string::npos && name.size() > named.size()) named = name;
    EXPECT_NE("", named) << "no output named in: " << out.Message;
    return named;
  }

  std::string tool_, dir_;
  bool mounted_ = false;
  std::vector<std::string> outputs_;
  std::map<std::string, uintmax_t> sizes_;
  std::map<std::string, std::string> before_;
};

class FailureInjectionTest : public FolderTest, public testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    if (Via() == Route::kGpb2rinex && !fs::exists(tool_)) GTEST_SKIP() << "gpb2rinex not built";
  }
  Route Via() const { return GetParam().Via; }
  const CallKind& Kind() const { return *GetParam().Kind; }

  // The shipped sample, and the user's files under its outputs' names.
  void SetUpOutputs() {
    const std::string examples = std::string(RAWCONV_SOURCE_DIR) + "/examples/";
    for (const char* ext : {".gpb", ".epp"})
      fs::copy_file(examples + "sample" + ext, Path(std::string("sample") + ext));
    FolderTest::SetUpOutputs([this]() { return Call(); });
  }

  // One call replacing existing outputs, as the case makes it.
  Outcome Call(const Injection& how = Injection()) {
    if (Via() == Route::kGpb2rinex) {
      std::vector<std::string> args = Kind().Args;
      args.insert(args.begin(), "-f");
      args.push_back("sample.gpb");
      return RunTool(args, how);
    }
    auto call = [this]() {
      rawconv_options o;
      rawconv_options_init(&o);
      o.gpb_path = gpb_path_.c_str();
      o.split = Kind().Split;
      o.compress = Kind().Compress;
      o.qc = Kind().Qc;
      o.existing = RAWCONV_EXISTING_REPLACE;
      rawconv_session* session = rawconv_session_new();
      rawconv_report report;
      rawconv_report_init(&report);
      Outcome out;
      out.Code = rawconv_convert(session, &o, &report);
      out.Message = report.error;
      rawconv_session_free(session);
      return out;
    };
    gpb_path_ = Path("sample.gpb");
    if (how.FileSizeLimit < 0 && !how.AtCommit) return call();
    return InChild(call, how);
  }

  std::string gpb_path_;
};

// A folder in the way of each output in turn, there from the start or
// put there while the call is held at its commit, after the targets were
// checked (the outputs before it in the commit are then in place already,
// and are taken back).
TEST_P(FailureInjectionTest, AFolderInTheWayOfEachOutput) {
  ASSERT_NO_FATAL_FAILURE(SetUpOutputs());
  for (const bool during_commit : {false, true}) {
    for (const std::string& blocked : outputs_) {
      SCOPED_TRACE(blocked + (during_commit ? " during the commit" : ""));
      auto block = [&]() {
        fs::remove(Path(blocked));
        fs::create_directory(Path(blocked));
      };
      Injection how;
      if (during_commit) how.AtCommit = block;
      else block();
      auto before = before_;
      before_[blocked] = "<folder>";
      EXPECT_EQ(blocked, ExpectFailedCleanly(Call(how)));
      before_ = before;
      fs::remove(Path(blocked));
      Write(blocked, "USER " + blocked + "\n");
    }
  }
}

// The disk fills up while the output being written is each one in turn:
// the free space is narrowed down between two amounts at which different
// outputs failed, until every output has been the one that found the disk
// full (the outputs are written one after another, so each fails at some
// amount).
TEST_P(FailureInjectionTest, AFullDiskAtEachOutput) {
  if (!MountSmallDisk()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_NO_FATAL_FAILURE(SetUpOutputs());
  const uint64_t page = 4096;
  uint64_t total = 0;
  for (const auto& s : sizes_) total += (s.second + page - 1) / page;
  std::map<uint64_t, std::string> failed_at;  // pages free -> output that failed
  auto run = [&](uint64_t pages) -> std::string {
    auto it = failed_at.find(pages);
    if (it != failed_at.end()) return it->second;
    SCOPED_TRACE(std::to_string(pages) + " pages free");
    if (!Resize(pages * page)) {
      ADD_FAILURE() << "cannot resize the tmpfs";
      return "?";
    }
    return failed_at[pages] = ExpectFailedCleanly(Call());
  };
  failed_at[total] = "";  // room for every output, page for page: tried last
  std::function<void(uint64_t, uint64_t)> narrow = [&](uint64_t lo, uint64_t hi) {
    if (hi - lo < 2 || HasFailure()) return;
    const std::string low = run(lo);
    if (low == run(hi)) return;
    const uint64_t mid = (lo + hi) / 2;
    run(mid);
    narrow(lo, mid);
    narrow(mid, hi);
  };
  narrow(0, total);
  std::set<std::string> failed;
  for (const auto& f : failed_at)
    if (!f.second.empty()) failed.insert(f.second);
  EXPECT_EQ(std::set<std::string>(outputs_.begin(), outputs_.end()), failed);
  ASSERT_TRUE(Resize(total * page));
  const Outcome out = Call();
  EXPECT_EQ(0, out.Code) << out.Message;
}

// A file size limit just below the size of each output in turn: the
// first output written that is larger fails the call.
TEST_P(FailureInjectionTest, AFileSizeLimitAtEachOutput) {
  ASSERT_NO_FATAL_FAILURE(SetUpOutputs());
  std::set<uintmax_t> limits;  // not below the size of gpb2rinex's messages
  for (const auto& s : sizes_) limits.insert(s.second - 1);
  for (uintmax_t limit : limits) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    Injection how;
    how.FileSizeLimit = static_cast<long>(limit);
    ExpectFailedCleanly(Call(how));
  }
  // The largest output fits: every file is replaced.
  Injection how;
  how.FileSizeLimit = static_cast<long>(*limits.rbegin() + 1);
  ASSERT_EQ(0, Call(how).Code);
  for (const std::string& name : outputs_) EXPECT_EQ(sizes_[name], fs::file_size(Path(name)));
}

INSTANTIATE_TEST_SUITE_P(Calls, FailureInjectionTest, testing::ValuesIn(AllCases()), CaseName);

// SIGINT while gpb2rinex reads the recording (before any output exists),
// while it writes its outputs, and at the start of the commit. The first two
// are found by watching the files the process has open: the test stops it
// (SIGSTOP), checks that it is still in the phase, and only then sends the
// SIGINT and lets it go on. The commit is reached through the output set's
// test-only stop point.
enum class Phase { kReading, kWriting, kCommit };

class InterruptTest : public FolderTest, public testing::WithParamInterface<const CallKind*> {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    const std::string maker = std::string(RAWCONV_BINARY_DIR) + "/tools/make_synthetic_gpb";
    if (!fs::exists(tool_) || !fs::exists(maker)) GTEST_SKIP() << "gpb2rinex not built";
    // Six hours at 1 s (18 MB): long enough to be caught in each phase.
    const ToolRun made = RunProgram(maker, {"--epochs", "21600", "day.gpb", "day.epp"}, dir_);
    ASSERT_EQ(0, made.Code) << made.Err;
    args_ = GetParam()->Args;
    args_.insert(args_.begin(), "-f");
    args_.push_back("day.gpb");
    ASSERT_NO_FATAL_FAILURE(SetUpOutputs([this]() { return RunTool(args_); }));
  }

  static bool InPhase(pid_t pid, Phase phase) {
    bool reading = false, writing = false;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fds, ec)) {
      const std::string target = fs::read_symlink(entry.path(), ec).string();
      if (target.find(".part-") != std::string::npos) writing = true;
      if (target.size() >= 8 && target.compare(target.size() - 8, 8, "/day.gpb") == 0)
        reading = true;
    }
    return phase == Phase::kWriting ? writing : reading && !writing;
  }

  // True once `signo` waits at process pid no longer (taken by a handler,
  // or the process ended), looked for up to two seconds.
  static bool Taken(pid_t pid, int signo) {
    const unsigned long long bit = 1ull << (signo - 1);
    for (int i = 0; i < 400; ++i) {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      std::string line;
      unsigned long long pending = 0;
      while (std::getline(status, line)) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
          pending |= std::stoull(line.substr(7), nullptr, 16);
      }
      if ((pending & bit) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Runs gpb2rinex until a run is caught in `phase` and interrupted there
  // by `stop`, then `again` once the first was taken (0: none); its exit
  // code. Runs that got past the phase first are undone.
  int InterruptAt(Phase phase, int stop = SIGINT, int again = 0) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      Injection how;
      if (phase == Phase::kCommit) how.AtCommit = [] {};
      const pid_t pid = Start(args_, how);
      int status = 0;
      bool caught = false, ended = false;
      if (phase == Phase::kCommit) {
        if (waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status)) caught = true;
        else ended = true;
      }
      while (!caught && !ended) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
          ended = true;
        } else if (InPhase(pid, phase)) {
          kill(pid, SIGSTOP);
          if (waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) ended = true;
          else if (InPhase(pid, phase)) caught = true;
          else kill(pid, SIGCONT);
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }
      if (caught) {
        kill(pid, stop);
        kill(pid, SIGCONT);
        if (again != 0 && Taken(pid, stop)) kill(pid, again);
      }
      while (!ended && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
      }
      if (caught) return testsupport::ExitCodeOf(status);
      PutUserFiles();  // missed: the run may have replaced them
    }
    ADD_FAILURE() << "never caught in the phase";
    return -1;
  }

  std::vector<std::string> args_;
};

TEST_P(InterruptTest, WhileReadingOrWritingNothingChanges) {
  std::vector<Phase> phases = {Phase::kReading};
  if (GetParam()->Qc != RAWCONV_QC_ONLY) phases.push_back(Phase::kWriting);
  for (Phase phase : phases) {
    SCOPED_TRACE(phase == Phase::kReading ? "reading" : "writing");
    EXPECT_EQ(128 + SIGINT, InterruptAt(phase));
    ExpectUntouched(before_);
  }
}

// A SIGINT that arrives while the outputs are put in place still cancels
// the call: the commit is taken back and every output is the user's file.
TEST_P(InterruptTest, AtTheCommitTheUsersFilesStay) {
  EXPECT_EQ(128 + SIGINT, InterruptAt(Phase::kCommit));
  ExpectUntouched(before_);
}

// A scheduler signals every process of a task and the task's script passes
// the stop on: a SIGTERM followed at once by a SIGINT is one stop, still
// taken back whole, and the exit code names the first.
TEST_P(InterruptTest, AStopDeliveredTwiceIsOneStop) {
  EXPECT_EQ(128 + SIGTERM, InterruptAt(Phase::kCommit, SIGTERM, SIGINT));
  ExpectUntouched(before_);
}

const CallKind* const kInterruptedKinds[] = {&kKinds[0], &kKinds[2], &kKinds[3], &kKinds[5]};

INSTANTIATE_TEST_SUITE_P(Calls, InterruptTest, testing::ValuesIn(kInterruptedKinds),
                         [](const testing::TestParamInfo<const CallKind*>& info) {
                           return std::string(info.param->Name);
                         });

}  // namespace
}  // namespace rawconv
