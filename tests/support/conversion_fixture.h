// Shared pieces of the tests of whole conversion calls (header-only): a
// scratch directory per test, file helpers, GPB and EPP inputs, conversion
// requests and a count of the process's open file descriptors.
#ifndef RAWCONV_TESTS_SUPPORT_CONVERSION_FIXTURE_H_
#define RAWCONV_TESTS_SUPPORT_CONVERSION_FIXTURE_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "api/context.h"
#include "api/rawconv.h"
#include "api/rawconv_api.h"
#include "obs/run_date.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"
#include "support/scratch_dir.h"
#include "support/file_bytes.h"

namespace rawconv {
namespace convtest {

namespace fs = std::filesystem;

inline std::string ReadFile(const std::string& path) { return testio::ReadBytes(path); }

// Writes the bytes exactly (binary mode).
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f) << path;
  ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f));
  ASSERT_EQ(0, std::fclose(f));
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Open file descriptors of this process.
inline int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;
}

// A new-format GPB file of n epochs, interval s apart from tow, four
// satellites with C1 and L1.
inline gpbtest::ByteVec GpbBytes(double tow, int n, double interval = 30.0) {
  gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::New(6, "TEST RX");
  for (int i = 0; i < n; ++i) {
    GpbEpoch e = gpbtest::MakeEpoch(tow + interval * i, 35.0, 139.0, 80.0f);
    GpbChannel ch[4]{};
    for (int k = 0; k < 4; ++k) {
      ch[k].Prn = 3 + k;
      ch[k].ObsMask = kObsC1 | kObsL1 | kObsLock1;
      ch[k].C1 = 20000000.0 + 1000.0 * k + i;
      ch[k].L1 = 100000.25 + k;
      ch[k].LockTime1 = 30.0 * (i + 1);
      ch[k].LockSec1 = static_cast<uint8_t>(30 * (i + 1) > 255 ? 255 : 30 * (i + 1));
    }
    file.AddEpoch(e, ch, 4, false);
  }
  return file.Bytes();
}

inline std::string AsText(const gpbtest::ByteVec& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Every test runs on a fresh library context with the run clock fixed, in
// a directory of its own, with requests that name files in it.
class ConversionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeScratchDir("rawconv_conv");
    ASSERT_FALSE(dir_.empty());
    SetRunClockForTesting(1133965800);  // 2005-12-07 14:30
    std::memset(&obs_, 0, sizeof obs_);
    std::memset(&nav_, 0, sizeof nav_);
    obs_.StructSize = sizeof obs_;
    nav_.StructSize = sizeof nav_;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The four paths of a request, each given whole.
  void Fill(const std::string& gpb, const std::string& obs, const std::string& epp,
            const std::string& nav) {
    std::snprintf(obs_.GpbFile, sizeof obs_.GpbFile, "%s", gpb.c_str());
    std::snprintf(obs_.ObsFile, sizeof obs_.ObsFile, "%s", obs.c_str());
    std::snprintf(nav_.EppFile, sizeof nav_.EppFile, "%s", epp.c_str());
    std::snprintf(nav_.NavFile, sizeof nav_.NavFile, "%s", nav.c_str());
    std::snprintf(obs_.MarkerName, sizeof obs_.MarkerName, "MARK");
  }
  // dir/<stem>.gpb, .obs, .epp, .nav.
  void Fill(const std::string& stem) {
    Fill(Path(stem + ".gpb"), Path(stem + ".obs"), Path(stem + ".epp"), Path(stem + ".nav"));
  }

  // dir/<stem>.gpb with n epochs from tow 345600 (week 1341, 2005) and the
  // EPP file beside it.
  void WriteInputs(const std::string& stem, int epochs = 3, int epp_records = 1) {
    WriteFile(Path(stem + ".gpb"), AsText(GpbBytes(345600.0, epochs)));
    std::vector<epptest::EppTag> tags;
    for (int i = 0; i < epp_records; ++i) tags.push_back({1341, 345600, 1 + i % 32});
    WriteFile(Path(stem + ".epp"), epptest::EppText(tags));
  }

  int Convert(int version = RINEX_VERSION_2_1) { return Gpb_To_Rinex_Ver(&obs_, &nav_, version); }

  std::string ErrorText() const {
    char text[256];
    Get_Error_Str(text);
    return text;
  }

  Context context_{};
  ContextScope scope_{context_};
  std::string dir_;
  ObsRequest obs_;
  NavRequest nav_;
};

// The reentrant interface on a copy of the shipped sample (sample.gpb, .epp
// and .sta in the scratch folder): a session, options set to convert it into
// "out" with a fixed run date, and a report.
class SampleSessionFixture : public ConversionFixture {
 protected:
  void SetUp() override {
    ConversionFixture::SetUp();
    const std::string examples = std::string(RAWCONV_SOURCE_DIR) + "/examples/";
    for (const char* ext : {".gpb", ".epp", ".sta"})
      fs::copy_file(examples + "sample" + ext, Path(std::string("sample") + ext));
    gpb_ = Path("sample.gpb");
    out_ = Path("out");
    fs::create_directory(out_);
    rawconv_options_init(&o_);
    o_.gpb_path = gpb_.c_str();
    o_.output_dir = out_.c_str();
    o_.use_run_date = 1;
    o_.run_date = 1133965800;
    session_ = rawconv_session_new();
    rawconv_report_init(&report_);
  }
  void TearDown() override {
    rawconv_session_free(session_);
    ConversionFixture::TearDown();
  }

  std::string gpb_, out_;
  rawconv_options o_;
  rawconv_session* session_ = nullptr;
  rawconv_report report_;
};

}  // namespace convtest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_CONVERSION_FIXTURE_H_
