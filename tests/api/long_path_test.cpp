// Paths of any length the system takes: a GPB file deep in folders (a path
// of about 1,000 characters) and output names of 250 bytes convert through
// rawconv_convert (a station file named by such a path too), and give the
// same files as short paths do. The dialog
// library's records keep their 256-byte fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

struct LongPathCase {
  const char* Name;
  int32_t Split;
  int32_t Qc;
  int32_t Compress;
};

class LongPathTest : public SampleSessionFixture,
                     public testing::WithParamInterface<LongPathCase> {
 protected:
  // A folder of `depth` components of 110 characters below the scratch
  // folder, created.
  std::string DeepFolder(const std::string& root, int depth) {
    std::string folder = root;
    for (int i = 0; i < depth; ++i) folder += "/" + std::string(109, 'a' + i) + "x";
    fs::create_directories(folder);
    return folder;
  }

  static void Collect(void* user, int32_t, const char* path, int32_t) {
    static_cast<std::vector<std::string>*>(user)->push_back(path);
  }

  // Converts gpb into out_dir with the case's options; the outputs listed.
  int Convert(const std::string& gpb, const std::string& out_dir,
              std::vector<std::string>* outputs) {
    const LongPathCase& c = GetParam();
    o_.gpb_path = gpb.c_str();
    o_.output_dir = out_dir.c_str();
    o_.split = c.Split;
    o_.qc = c.Qc;
    o_.compress = c.Compress;
    o_.output = &Collect;
    o_.output_user = outputs;
    rawconv_report_init(&report_);
    return rawconv_convert(session_, &o_, &report_);
  }

  static std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_P(LongPathTest, AThousandCharacterPathConvertsLikeAShortOne) {
  // The short conversion first: the reference bytes.
  std::vector<std::string> short_outputs;
  ASSERT_EQ(RAWCONV_OK, Convert(gpb_, out_, &short_outputs)) << report_.error;

  const std::string deep = DeepFolder(Path("deep"), 8);
  for (const char* ext : {".gpb", ".epp", ".sta"})
    fs::copy_file(Path(std::string("sample") + ext), deep + "/sample" + ext);
  const std::string gpb = deep + "/sample.gpb";
  ASSERT_GE(gpb.size(), 900u);
  std::vector<std::string> outputs;
  ASSERT_EQ(RAWCONV_OK, Convert(gpb, deep, &outputs)) << report_.error;
  for (const std::string& path : outputs) EXPECT_EQ(deep + "/", path.substr(0, deep.size() + 1));

  // The same files under the same names, with the same bytes but for the
  // reports of the check, which name their input by the path given.
  // The short conversion's bytes, its GPB path replaced by the long one.
  auto reference = [&](size_t i) {
    std::string text = ReadFile(short_outputs[i]);
    for (size_t at = text.find(gpb_); at != std::string::npos; at = text.find(gpb_, at + gpb.size()))
      text.replace(at, gpb_.size(), gpb);
    return text;
  };
  ASSERT_EQ(short_outputs.size(), outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    SCOPED_TRACE(outputs[i]);
    EXPECT_EQ(fs::path(short_outputs[i]).filename(), fs::path(outputs[i]).filename());
    EXPECT_EQ(reference(i), ReadFile(outputs[i]));
  }
  // Nothing else in the folder: no temporary file is left.
  std::vector<std::string> expected = {"sample.epp", "sample.gpb", "sample.sta"};
  for (const std::string& path : outputs) expected.push_back(fs::path(path).filename().string());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Entries(deep));

  // The station file named by its long path gives the same files again.
  const std::string station = deep + "/sample.sta";
  o_.station = RAWCONV_STATION_FILE;
  o_.station_path = station.c_str();
  o_.existing = RAWCONV_EXISTING_REPLACE;
  std::vector<std::string> again;
  ASSERT_EQ(RAWCONV_OK, Convert(gpb, deep, &again)) << report_.error;
  ASSERT_EQ(outputs, again);
  for (size_t i = 0; i < outputs.size(); ++i)
    EXPECT_EQ(reference(i), ReadFile(again[i])) << again[i];
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LongPathTest,
    testing::Values(
        LongPathCase{"Plain", RAWCONV_SPLIT_NONE, RAWCONV_QC_NONE, RAWCONV_COMPRESS_NONE},
        LongPathCase{"Split", RAWCONV_SPLIT_15M, RAWCONV_QC_NONE, RAWCONV_COMPRESS_CRX},
        LongPathCase{"Check", RAWCONV_SPLIT_NONE, RAWCONV_QC_WITH, RAWCONV_COMPRESS_NONE},
        LongPathCase{"CheckOnly", RAWCONV_SPLIT_NONE, RAWCONV_QC_ONLY, RAWCONV_COMPRESS_NONE}),
    [](const testing::TestParamInfo<LongPathCase>& info) { return std::string(info.param.Name); });

// Output names of 250 bytes: given as fixed paths, and made from a GPB file
// of that name. Their temporary files fit the name limit too.
TEST_F(SampleSessionFixture, OutputNamesOf250BytesConvert) {
  const std::string obs_name = std::string(246, 'o') + ".obs";
  const std::string nav_name = std::string(246, 'n') + ".nav";
  const std::string obs_path = out_ + "/" + obs_name;
  const std::string nav_path = out_ + "/" + nav_name;
  o_.output_dir = nullptr;
  o_.obs_path = obs_path.c_str();
  o_.nav_path = nav_path.c_str();
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  EXPECT_STREQ(obs_path.c_str(), report_.obs_path);
  EXPECT_NE(std::string::npos, ReadFile(obs_path).find("END OF HEADER"));
  EXPECT_NE(std::string::npos, ReadFile(nav_path).find("END OF HEADER"));

  // The GPB file's own name of 250 bytes names the outputs by its stem.
  const std::string stem = std::string(246, 's');
  const std::string named = Path("named");
  fs::create_directory(named);
  fs::copy_file(gpb_, named + "/" + stem + ".gpb");
  fs::copy_file(Path("sample.epp"), named + "/" + stem + ".epp");
  const std::string gpb = named + "/" + stem + ".gpb";
  rawconv_options_init(&o_);
  o_.gpb_path = gpb.c_str();
  o_.use_run_date = 1;
  o_.run_date = 1133965800;
  rawconv_report_init(&report_);
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  const std::vector<std::string> names = {stem + ".05n", stem + ".05o", stem + ".epp",
                                          stem + ".gpb"};
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(named)) found.push_back(e.path().filename().string());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(names, found);
}

// The dialog library keeps its records' limit: a GPB path of 255 characters
// is read, one that fills the whole field is refused as before, and the job
// takes longer paths only through the reentrant interface.
TEST_F(SampleSessionFixture, TheDialogRecordsKeepTheirFieldLimit) {
  // A folder deep enough that the GPB path is exactly 255 characters.
  std::string folder = Path("d");
  const std::string tail = "/sample.gpb";
  ASSERT_LT(folder.size() + tail.size() + 2, 255u);
  const size_t room = 255 - folder.size() - tail.size() - 1;
  folder += "/" + std::string(room, 'f');
  fs::create_directories(folder);
  const std::string gpb = folder + tail;
  ASSERT_EQ(255u, gpb.size());
  fs::copy_file(gpb_, gpb);
  fs::copy_file(Path("sample.epp"), folder + "/sample.epp");

  ObsRequest obs{};
  NavRequest nav{};
  obs.StructSize = sizeof obs;
  nav.StructSize = sizeof nav;
  std::memcpy(obs.GpbFile, gpb.c_str(), gpb.size() + 1);
  std::snprintf(obs.ObsFile, sizeof obs.ObsFile, "%s", Path("dialog.obs").c_str());
  std::snprintf(nav.EppFile, sizeof nav.EppFile, "%s", (folder + "/sample.epp").c_str());
  std::snprintf(nav.NavFile, sizeof nav.NavFile, "%s", Path("dialog.nav").c_str());
  ASSERT_EQ(0, Gpb_To_Rinex_Ver(&obs, &nav, RINEX_VERSION_2_1)) << ErrorText();
  EXPECT_STREQ(Path("dialog.05o").c_str(), obs.ObsFile);
  EXPECT_STREQ(Path("dialog.05n").c_str(), nav.NavFile);

  // An output path that cannot take its new extension within the field
  // leaves both fields and the folder as they were.
  const std::string full = Path(std::string(255 - Path("").size(), 'o'));
  ASSERT_EQ(255u, full.size());
  std::memcpy(obs.ObsFile, full.c_str(), full.size() + 1);
  std::snprintf(nav.NavFile, sizeof nav.NavFile, "%s", Path("dialog.nav").c_str());
  EXPECT_EQ(1, Gpb_To_Rinex_Ver(&obs, &nav, RINEX_VERSION_2_1));
  // (the error text holds 255 characters)
  EXPECT_EQ(("Output path too long: " + full).substr(0, 255), ErrorText());
  EXPECT_STREQ(full.c_str(), obs.ObsFile);
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
