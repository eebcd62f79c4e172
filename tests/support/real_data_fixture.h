// The fixture of the tests that convert the real data pairs in the library:
// a scratch folder, a context of the test's own installed for the test's
// thread, and a fixed run date, so that outputs are byte-for-byte
// repeatable.
#ifndef RAWCONV_TESTS_SUPPORT_REAL_DATA_FIXTURE_H_
#define RAWCONV_TESTS_SUPPORT_REAL_DATA_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "api/context.h"
#include "obs/run_date.h"
#include "support/real_data.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace realdata {

template <typename Param>
class RealDataTest : public testing::TestWithParam<Param> {
 protected:
  // prefix names the scratch folder (/tmp/<prefix>_XXXXXX); when the
  // environment variable keep_env is set the folder is kept for a look.
  explicit RealDataTest(const char* prefix, const char* keep_env = nullptr)
      : prefix_(prefix), keep_env_(keep_env) {}

  void SetUp() override {
    dir_ = testsupport::MakeScratchDir(prefix_);
    ASSERT_FALSE(dir_.empty());
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
    SetRunClockForTesting(1133965800);
  }
  void TearDown() override {
    delete scope_;
    scope_ = nullptr;
    if (keep_env_ != nullptr && std::getenv(keep_env_) != nullptr) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The navigation file of the shared folder as plain text: gzipped ones
  // are unpacked into the scratch folder; "" when that fails.
  std::string PlainNav(const char* name) const {
    const std::string path = DataPath(name);
    if (std::filesystem::path(path).extension() != ".gz") return path;
    const std::string out = Path("plain.nav");
    const std::string command = "gzip -dc '" + path + "' > '" + out + "'";
    return std::system(command.c_str()) == 0 ? out : std::string();
  }

  // The recording of pair as our input: its observation file read into
  // *original, its navigation file as <stem>.epp and its observations as
  // <stem>.gpb (new format) in the scratch folder. Fails the test when a
  // file cannot be read or written.
  void MakeGpbInput(const DataPair& pair, const std::string& stem,
                    rnxtest::RinexObsFile* original) {
    std::string error;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(DataPath(pair.Obs), original, &error)) << error;
    const std::string nav = PlainNav(pair.Nav);
    ASSERT_FALSE(nav.empty()) << pair.Nav;
    ASSERT_TRUE(rinexnav::ConvertNavToEpp(nav, Path(stem + ".epp"), error)) << error;
    rnxtest::RnxToGpbOptions options;
    options.NewFormat = true;
    gpbtest::GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(original->Header, options);
    rnxtest::RnxToGpbSummary converted;
    rnxtest::ConvertRinexObs(*original, options, &gpb, &converted);
    ASSERT_TRUE(gpb.Write(Path(stem + ".gpb")));
  }

  std::string dir_;
  Context context_;
  ContextScope* scope_ = nullptr;

 private:
  std::string prefix_;
  const char* keep_env_;
};

}  // namespace realdata
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_REAL_DATA_FIXTURE_H_
