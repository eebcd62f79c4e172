// The fixture of the command-line tests: gpb2rinex from the build tree,
// a scratch folder per test, and inputs in it (small built files or copies
// of the shipped sample).
#ifndef RAWCONV_TESTS_CLI_CLI_FIXTURE_H_
#define RAWCONV_TESTS_CLI_CLI_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/tool_run.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace clitest {

namespace fs = std::filesystem;

// Writes a GPB file of three epochs 30 s apart, each like `first` (its
// time, position and flags) with one satellite's C1; false when it cannot
// be written.
inline bool WriteThreeEpochGpb(const std::string& path, const GpbEpoch& first) {
  gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::New(6, "CLI");
  for (int i = 0; i < 3; ++i) {
    GpbEpoch e = first;
    e.RcvTime = e.RawRcvTime = first.RcvTime + 30.0 * i;
    GpbChannel ch[1]{};
    ch[0].Prn = 5;
    ch[0].ObsMask = kObsC1;
    ch[0].C1 = 21000000.0;
    e.NumChannels = 1;
    file.AddEpoch(e, ch, 1, false);
  }
  return file.Write(path);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::string(RAWCONV_BINARY_DIR) + "/cli/gpb2rinex";
    if (!fs::exists(tool_)) GTEST_SKIP() << "gpb2rinex not built";
    char pattern[] = "/tmp/rawconv_cli_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  bool Exists(const std::string& name) const { return fs::exists(Path(name)); }
  std::string Read(const std::string& name) const { return Slurp(Path(name)); }
  void Write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    std::FILE* f = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(nullptr, f) << name;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  // gpb2rinex with these arguments, run in the scratch folder.
  ToolRun Run(const std::vector<std::string>& args, const RunSetup& setup = RunSetup()) const {
    return RunProgram(tool_, args, dir_, setup);
  }
  // A shell command line in the scratch folder; $TOOL names gpb2rinex.
  ToolRun Shell(const std::string& command) const {
    return RunProgram("/bin/sh", {"-c", "TOOL='" + tool_ + "'; " + command}, dir_);
  }

  // <stem>.gpb (three epochs of week 1341, 2005) and its ephemeris file,
  // named epp_name when given.
  void WriteInput(const std::string& stem, const std::string& epp_name = "") const {
    fs::create_directories(fs::path(Path(stem)).parent_path());
    GpbEpoch first{};
    first.RcvTime = first.RawRcvTime = 345600.0;
    ASSERT_TRUE(WriteThreeEpochGpb(Path(stem + ".gpb"), first));
    ASSERT_TRUE(epptest::WriteEppFile(Path(epp_name.empty() ? stem + ".epp" : epp_name),
                                      {{1341, 345600}}));
  }

  // Copies of examples/sample.gpb and .epp (and .sta when a name is given).
  void CopySample(const std::string& gpb, const std::string& epp, const std::string& sta = "") const {
    const std::string examples = std::string(RAWCONV_SOURCE_DIR) + "/examples/";
    fs::create_directories(fs::path(Path(gpb)).parent_path());
    fs::copy_file(examples + "sample.gpb", Path(gpb), fs::copy_options::overwrite_existing);
    fs::copy_file(examples + "sample.epp", Path(epp), fs::copy_options::overwrite_existing);
    if (!sta.empty())
      fs::copy_file(examples + "sample.sta", Path(sta), fs::copy_options::overwrite_existing);
  }

  // Names in the scratch folder (recursively) that contain `part`.
  std::vector<std::string> FilesContaining(const std::string& part) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
      if (entry.path().filename().string().find(part) != std::string::npos)
        found.push_back(entry.path().string());
    return found;
  }

  std::string tool_;
  std::string dir_;
};

}  // namespace clitest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_CLI_CLI_FIXTURE_H_
