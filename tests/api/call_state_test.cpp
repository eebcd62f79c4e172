// What a call needs reaches its steps as arguments: the session's run date
// reaches every header (observation, navigation, Compact RINEX) and no
// later call, and two sessions converting at once on two threads
// keep their own dates and facts.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

constexpr int64_t kSessionDate = 1262336700;  // 2010-01-01 09:05
const char kSessionDateText[] = "1-JAN-10 09:05";
const char kThreadDateText[] = "7-DEC-05 14:30";  // the fixture's clock

std::string FirstLines(const std::string& text, int count) {
  size_t at = 0;
  for (int i = 0; i < count && at != std::string::npos; ++i) at = text.find('\n', at + 1);
  return text.substr(0, at);
}

TEST_F(SampleSessionFixture, TheSessionRunDateReachesEveryHeader) {
  o_.run_date = kSessionDate;
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  for (const char* path : {report_.obs_path, report_.nav_path}) {
    SCOPED_TRACE(path);
    const std::string head = FirstLines(ReadFile(path), 3);
    EXPECT_NE(std::string::npos, head.find(kSessionDateText)) << head;
    EXPECT_EQ(std::string::npos, head.find(kThreadDateText)) << head;
  }

  // Compact RINEX: its own header line and the RINEX header inside.
  const std::string crx_dir = Path("crx");
  fs::create_directory(crx_dir);
  o_.output_dir = crx_dir.c_str();
  o_.compress = RAWCONV_COMPRESS_CRX;
  rawconv_report_init(&report_);
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  const std::string crx = FirstLines(ReadFile(report_.obs_path), 4);
  const size_t crinex = crx.find("CRINEX PROG / DATE");
  ASSERT_NE(std::string::npos, crinex) << crx;
  EXPECT_NE(std::string::npos, crx.substr(0, crinex).find(kSessionDateText)) << crx;
  EXPECT_EQ(std::string::npos, crx.find(kThreadDateText)) << crx;

  // Without a run date of its own the next call on the session takes the
  // system clock: the session's date does not stay behind.
  o_.use_run_date = 0;
  o_.compress = RAWCONV_COMPRESS_NONE;
  o_.output_dir = out_.c_str();
  o_.existing = RAWCONV_EXISTING_REPLACE;
  rawconv_report_init(&report_);
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  EXPECT_EQ(std::string::npos, FirstLines(ReadFile(report_.obs_path), 3).find(kSessionDateText));
}

TEST_F(SampleSessionFixture, TwoSessionsOnTwoThreadsKeepTheirOwnCalls) {
  struct Call {
    std::string Dir;
    int64_t Date;
    rawconv_session* Session;
    rawconv_report Report;
    int Result;
  };
  Call calls[2] = {{Path("a"), kSessionDate, rawconv_session_new(), {}, -100},
                   {Path("b"), 1133965800 + 86400, rawconv_session_new(), {}, -100}};
  const std::string gpb = gpb_;
  auto run = [&gpb](Call* call) {
    fs::create_directory(call->Dir);
    rawconv_options o;
    rawconv_options_init(&o);
    o.gpb_path = gpb.c_str();
    o.output_dir = call->Dir.c_str();
    o.use_run_date = 1;
    o.run_date = call->Date;
    rawconv_report_init(&call->Report);
    call->Result = rawconv_convert(call->Session, &o, &call->Report);
  };
  std::thread first(run, &calls[0]);
  std::thread second(run, &calls[1]);
  first.join();
  second.join();
  const char* const dates[2] = {kSessionDateText, "8-DEC-05 14:30"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(calls[i].Dir);
    ASSERT_EQ(RAWCONV_OK, calls[i].Result) << calls[i].Report.error;
    EXPECT_NE(std::string::npos, FirstLines(ReadFile(calls[i].Report.obs_path), 3).find(dates[i]));
    EXPECT_EQ(calls[0].Report.epochs_written, calls[i].Report.epochs_written);
    EXPECT_GT(calls[i].Report.epochs_written, 0u);
    rawconv_session_free(calls[i].Session);
  }
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
