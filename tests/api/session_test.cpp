// Sessions of the reentrant interface: many conversions at once, each on its
// own session, give the files of a sequential run; a session's state never
// reaches another's.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

class SessionTest : public ConversionFixture {
 protected:
  // Converts dir/<stem>.gpb on `session` into `out` with a fixed run date.
  int ConvertInto(rawconv_session* session, const std::string& stem, const std::string& out,
                  rawconv_report* report) {
    rawconv_options o;
    rawconv_options_init(&o);
    const std::string gpb = Path(stem + ".gpb");
    o.gpb_path = gpb.c_str();
    o.output_dir = out.c_str();
    o.use_run_date = 1;
    o.run_date = 1133965800;
    o.marker_name = stem.c_str();
    return rawconv_convert(session, &o, report);
  }
};

TEST_F(SessionTest, ParallelSessionsWriteWhatASequentialRunWrites) {
  constexpr int kFiles = 12;
  for (int i = 0; i < kFiles; ++i) WriteInputs("f" + std::to_string(i), 40 + i, 1 + i % 5);
  fs::create_directory(Path("seq"));
  fs::create_directory(Path("par"));

  rawconv_session* one = rawconv_session_new();
  for (int i = 0; i < kFiles; ++i) {
    rawconv_report r;
    rawconv_report_init(&r);
    ASSERT_EQ(RAWCONV_OK, ConvertInto(one, "f" + std::to_string(i), Path("seq"), &r)) << r.error;
  }
  rawconv_session_free(one);

  // Four threads, each with a session of its own, take the files in turn.
  std::vector<int> results(kFiles, -100);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      rawconv_session* s = rawconv_session_new();
      for (int i = t; i < kFiles; i += 4) {
        rawconv_report r;
        rawconv_report_init(&r);
        results[i] = ConvertInto(s, "f" + std::to_string(i), Path("par"), &r);
      }
      rawconv_session_free(s);
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(RAWCONV_OK, results[i]) << i;
    for (const char* ext : {".05o", ".05n"}) {
      const std::string name = "f" + std::to_string(i) + ext;
      EXPECT_EQ(ReadFile(Path("seq/" + name)), ReadFile(Path("par/" + name))) << name;
    }
  }
}

TEST_F(SessionTest, ReportsAndRecordsOfOlderCallers) {
  WriteInputs("a");
  rawconv_session* s = rawconv_session_new();
  // A caller built against a smaller report record gets only its part.
  struct {
    rawconv_report Report;
    char Guard[16];
  } small;
  std::memset(&small, 0x5A, sizeof small);
  small.Report.size = offsetof(rawconv_report, obs_path);
  EXPECT_EQ(RAWCONV_OK, ConvertInto(s, "a", dir_, &small.Report));
  EXPECT_EQ(RAWCONV_OK, small.Report.result);
  EXPECT_EQ(0x5A, static_cast<unsigned char>(small.Report.obs_path[0]));
  EXPECT_EQ(0x5A, static_cast<unsigned char>(small.Guard[0]));

  // The init functions of an older caller's records stay inside them too.
  std::memset(&small, 0x5A, sizeof small);
  rawconv_report_init_sized(&small.Report, offsetof(rawconv_report, obs_path));
  EXPECT_EQ(offsetof(rawconv_report, obs_path), small.Report.size);
  EXPECT_EQ(0, small.Report.error[0]);
  EXPECT_EQ(0x5A, static_cast<unsigned char>(small.Report.obs_path[0]));

  // Records without a size, NULL records and a NULL session are refused.
  rawconv_options o;
  rawconv_options_init(&o);
  o.size = 0;
  EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(s, &o, nullptr));
  EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(s, nullptr, nullptr));
  rawconv_options_init(&o);
  EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(nullptr, &o, nullptr));
  EXPECT_EQ(RAWCONV_INVALID, rawconv_convert(s, &o, nullptr));  // no GPB file

  // A size that ends inside a field leaves that field unset instead of
  // taking part of it: half of the GPB path's pointer is no path, and half
  // of a later text's pointer does not reach the header.
  rawconv_options_init(&o);
  o.gpb_path = "/nonexistent/x.gpb";
  o.size = static_cast<uint32_t>(offsetof(rawconv_options, gpb_path) + 4);
  rawconv_report r;
  rawconv_report_init(&r);
  EXPECT_EQ(RAWCONV_INVALID, rawconv_plan(s, &o, &r));
  EXPECT_STREQ("No GPB file given", r.error);
  for (uint32_t size = offsetof(rawconv_options, epp_path); size <= sizeof o; ++size) {
    rawconv_options_init(&o);
    o.gpb_path = "/nonexistent/x.gpb";
    o.marker_name = o.observer = o.agency = o.run_by = "TEXT";
    o.from_time = "2005-04-02 00:00:00";
    o.exclude = "G01";
    o.size = size;
    rawconv_report_init(&r);
    EXPECT_EQ(RAWCONV_BAD_GPB, rawconv_plan(s, &o, &r)) << size << ": " << r.error;
  }
  rawconv_session_free(s);
  rawconv_session_free(nullptr);
}

TEST_F(SessionTest, RunByWithoutTerminatorStaysInsideItsField) {
  // The dialog's navigation record with a run-by field filled to the end:
  // the header takes the field's own characters and nothing after it.
  WriteInputs("x");
  Fill("x");
  std::memset(nav_.RunBy, 'R', sizeof nav_.RunBy);
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::string nav = ReadFile(Path("x.05n"));
  const std::string line = nav.substr(nav.find('\n') + 1, nav.find('\n', nav.find('\n') + 1) -
                                                              nav.find('\n') - 1);
  EXPECT_EQ(std::string::npos, line.find_first_not_of(" RAWCONV v7.00ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                      "0123456789-:/ ")) << line;
  EXPECT_NE(std::string::npos, line.find(std::string(sizeof nav_.RunBy, 'R')));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
