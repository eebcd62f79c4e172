// Shared fixture of the observation writer tests: a fresh context with the
// run clock fixed, GPB input written with the fixture builder, and the whole
// observation file (header and epochs) read back as text.
#ifndef RAWCONV_TESTS_OBS_OBS_TEST_UTIL_H_
#define RAWCONV_TESTS_OBS_OBS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/run_date.h"
#include "support/file_bytes.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace obstest {

// 2005-12-07 14:30:00, the run date of every test file: "7-DEC-05 14:30".
constexpr int64_t kRunClock = 1133965800;

// Week 1346, 345600 s: 2005-10-27 00:00:00.
constexpr int kWeek = 1346;
constexpr double kT0 = 345600.0;

inline WeekReference TestReference() {
  WeekReference ref{};
  ref.Found = 1;
  ref.Week = kWeek;
  ref.Toe = kT0;
  return ref;
}

// Text padded with blanks to width (never cut).
inline std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A header-style line: values padded to 60 columns, label to 20.
inline std::string HeaderLine(const std::string& values, const std::string& label) {
  return Pad(values, 60) + Pad(label, 20) + "\n";
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The header lines that carry label.
inline std::vector<std::string> LabelLines(const std::string& file, const std::string& label) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(file)) {
    if (line.size() > 60 && line.compare(60, std::string::npos, Pad(label, 20)) == 0)
      found.push_back(line.substr(0, 60));
    if (line.find("END OF HEADER") != std::string::npos) break;
  }
  return found;
}

inline std::string ReadText(const std::string& path) { return testio::ReadBytes(path); }

inline void WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

// A channel whose mask follows its non-zero values; both lock bits set.
inline GpbChannel MakeChannel(int prn, double c1, double l1, double l2 = 0.0, double p1 = 0.0,
                              double p2 = 0.0, double d1 = 0.0, double s1 = 0.0,
                              double s2 = 0.0, double lock1 = 10.0, double lock2 = 10.0) {
  GpbChannel c{};
  c.Prn = prn;
  c.C1 = c1;
  c.L1 = l1;
  c.L2 = l2;
  c.P1 = p1;
  c.P2 = p2;
  c.D1 = d1;
  c.Cn0L1 = s1;
  c.Cn0L2 = s2;
  c.LockTime1 = lock1;
  c.LockTime2 = lock2;
  c.LockSec1 = static_cast<uint8_t>(lock1 > 255 ? 255 : lock1);
  c.ObsMask = kObsLock1 | kObsLock2;
  if (c1 != 0.0) c.ObsMask |= kObsC1;
  if (l1 != 0.0) c.ObsMask |= kObsL1;
  if (l2 != 0.0) c.ObsMask |= kObsL2;
  if (p1 != 0.0) c.ObsMask |= kObsP1;
  if (p2 != 0.0) c.ObsMask |= kObsP2;
  if (d1 != 0.0) c.ObsMask |= kObsD1;
  if (s1 != 0.0) c.ObsMask |= kObsCn0L1;
  if (s2 != 0.0) c.ObsMask |= kObsCn0L2;
  return c;
}

class ObsFileTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps parallel runs of the suite (several build trees)
    // apart.
    base_ = testing::TempDir() + "obs_" + std::to_string(getpid()) + "_" +
            info->test_suite_name() + "_" + info->name();
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
    SetRunClockForTesting(kRunClock);
    request_ = ObsInput();
    request_.GpbFile = base_ + ".gpb";
    request_.ObsFile = base_ + ".05o";
    request_.RunBy = "tester";
    request_.MarkerName = "SITE";
    request_.Observer = "obs";
    request_.Agency = "agency";
    request_.AntHeight = 1.5;
  }
  void TearDown() override {
    delete scope_;
    std::remove(request_.GpbFile.c_str());
    std::remove(request_.ObsFile.c_str());
    std::remove(StationPath().c_str());
  }

  std::string StationPath() const { return base_ + ".sta"; }

  void WriteGpb(const gpbtest::GpbFileBuilder& builder) {
    ASSERT_TRUE(builder.Write(request_.GpbFile));
  }

  // Pre-scan, header and epochs into the observation file; its whole text.
  std::string Convert(int version, const WeekReference& ref = TestReference()) {
    ScanObsSummary(request_, &summary_);
    std::FILE* out = std::fopen(request_.ObsFile.c_str(), "w");
    if (out == nullptr) return "";
    header_result_ = WriteObsHeader(out, request_, summary_, version, ref, &edits_);
    epochs_result_ = WriteObsEpochs(out, request_, summary_, version, ref, &edits_);
    std::fclose(out);
    return ReadText(request_.ObsFile);
  }

  // The part of a converted file after its "END OF HEADER" line.
  static std::string Body(const std::string& file) {
    const std::string end = "END OF HEADER       \n";
    const size_t at = file.find(end);
    return at == std::string::npos ? std::string() : file.substr(at + end.size());
  }

  std::string base_;
  Context context_;
  ContextScope* scope_ = nullptr;
  ObsInput request_;
  ObsEdits edits_{};  // zero: as without edits
  ObsHeaderSummary summary_{};
  int header_result_ = -1;
  int epochs_result_ = -1;
};

}  // namespace obstest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_OBS_OBS_TEST_UTIL_H_
