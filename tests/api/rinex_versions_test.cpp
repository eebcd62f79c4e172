// RINEX versions through the reentrant interface: the one table of version
// texts every caller reads, what each version writes for the shipped sample,
// the observation codes of either version in obs_types, and MARKER TYPE.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

// Every text a user may give, and the texts that name no version offered.
TEST(RinexVersionTexts, OneTableForEveryCaller) {
  const struct {
    const char* Text;
    int32_t Value;
  } kNames[] = {
      {"2.0", RAWCONV_RINEX_2_00},  {"2.00", RAWCONV_RINEX_2_00}, {"2.1", RAWCONV_RINEX_2_10},
      {"2.10", RAWCONV_RINEX_2_10}, {"2.11", RAWCONV_RINEX_2_11}, {"2", RAWCONV_RINEX_2_11},
      {"3.02", RAWCONV_RINEX_3_02}, {"3.03", RAWCONV_RINEX_3_03}, {"3.04", RAWCONV_RINEX_3_04},
      {"3.05", RAWCONV_RINEX_3_05}, {"3", RAWCONV_RINEX_3_05},    {"4", RAWCONV_RINEX_4_00},
      {"4.0", RAWCONV_RINEX_4_00},  {"4.00", RAWCONV_RINEX_4_00},
  };
  for (const auto& n : kNames) {
    int32_t value = -1;
    EXPECT_EQ(RAWCONV_OK, rawconv_rinex_from_text(n.Text, &value)) << n.Text;
    EXPECT_EQ(n.Value, value) << n.Text;
    EXPECT_NE(nullptr, std::strstr(rawconv_rinex_texts(), n.Text)) << n.Text;
  }
  for (const char* bad : {"", "1", "2.2", "2.12", "3.0", "3.01", "3.1", "3.050", "4.01", "5",
                          " 3", "3 ", "v3", "3.05x", "02.11", "2,11"}) {
    int32_t value = 77;
    EXPECT_EQ(RAWCONV_INVALID, rawconv_rinex_from_text(bad, &value)) << bad;
    EXPECT_EQ(77, value) << bad;
  }
  int32_t value = 0;
  EXPECT_EQ(RAWCONV_INVALID, rawconv_rinex_from_text(nullptr, &value));
  EXPECT_EQ(RAWCONV_INVALID, rawconv_rinex_from_text("3", nullptr));
}

class RinexVersionTest : public SampleSessionFixture {
 protected:
  // Converts the sample with `rinex` into out/<name>; the observation and
  // navigation files' texts.
  int Convert(int32_t rinex, const std::string& name) {
    const std::string dir = Path("out/" + name);
    fs::create_directories(dir);
    o_.output_dir = dir.c_str();
    o_.rinex = rinex;
    rawconv_report_init(&report_);
    const int result = rawconv_convert(session_, &o_, &report_);
    obs_ = result == RAWCONV_OK ? ReadFile(report_.obs_path) : "";
    nav_ = result == RAWCONV_OK ? ReadFile(report_.nav_path) : "";
    o_.output_dir = out_.c_str();
    return result;
  }
  // The header lines carrying label, columns 1-60.
  static std::vector<std::string> Labelled(const std::string& file, const std::string& label) {
    std::vector<std::string> found;
    for (const std::string& line : Lines(file)) {
      if (line.size() > 60 && line.compare(60, label.size(), label) == 0 &&
          (line.size() == 60 + label.size() || line[60 + label.size()] == ' '))
        found.push_back(line.substr(0, 60));
      if (line.find("END OF HEADER") == 60) break;
    }
    return found;
  }
  static std::string AfterFirstLine(const std::string& file) {
    return file.substr(file.find('\n') + 1);
  }
  static std::string Body(const std::string& file) {
    const size_t end = file.find("END OF HEADER");
    return end == std::string::npos ? "" : file.substr(file.find('\n', end) + 1);
  }

  std::string obs_, nav_;
};

// 2.11: the 2.10 files but for the version line of each; 200 and 210 are
// the same as the old values 1 and 0.
TEST_F(RinexVersionTest, Version211WritesThe210RecordsAndOldValuesKeepTheirMeaning) {
  ASSERT_EQ(RAWCONV_OK, Convert(RAWCONV_RINEX_2_10, "v210")) << report_.error;
  const std::string obs210 = obs_, nav210 = nav_;
  ASSERT_EQ(RAWCONV_OK, Convert(RAWCONV_RINEX_2_11, "v211")) << report_.error;
  EXPECT_EQ("     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE",
            obs_.substr(0, obs_.find('\n')));
  EXPECT_EQ("     2.11           N: GPS NAV DATA                         RINEX VERSION / TYPE",
            nav_.substr(0, nav_.find('\n')));
  EXPECT_EQ(AfterFirstLine(obs210), AfterFirstLine(obs_));
  EXPECT_EQ(AfterFirstLine(nav210), AfterFirstLine(nav_));

  ASSERT_EQ(RAWCONV_OK, Convert(210, "alias210")) << report_.error;
  EXPECT_EQ(obs210, obs_);
  EXPECT_EQ(nav210, nav_);
  ASSERT_EQ(RAWCONV_OK, Convert(RAWCONV_RINEX_2_00, "v200")) << report_.error;
  const std::string obs200 = obs_, nav200 = nav_;
  ASSERT_EQ(RAWCONV_OK, Convert(200, "alias200")) << report_.error;
  EXPECT_EQ(obs200, obs_);
  EXPECT_EQ(nav200, nav_);
  EXPECT_EQ(0u, nav200.find("     2.10"));  // the 2.00 observation file's navigation file

  for (int32_t bad : {2, 199, 201, 212, 300, 301, 306, 401, -1}) {
    EXPECT_EQ(RAWCONV_INVALID, Convert(bad, "bad" + std::to_string(bad + 10))) << bad;
    EXPECT_NE(std::string::npos, std::string(report_.error).find(std::to_string(bad)));
  }
}

// The RINEX 3 family and 4.00: the version lines of both files, the
// navigation file of the same family, and the same epoch records in every
// version.
TEST_F(RinexVersionTest, EachVersionOfTheRinex3FamilyAndRinex4) {
  std::string body305;
  for (int32_t rinex : {RAWCONV_RINEX_3_05, RAWCONV_RINEX_3_02, RAWCONV_RINEX_3_03,
                        RAWCONV_RINEX_3_04, RAWCONV_RINEX_4_00}) {
    const std::string number = std::to_string(rinex / 100) + "." + std::to_string(rinex % 100 / 10) +
                               std::to_string(rinex % 10);
    ASSERT_EQ(RAWCONV_OK, Convert(rinex, "v" + std::to_string(rinex))) << report_.error;
    EXPECT_EQ("     " + number + "           OBSERVATION DATA    G (GPS)             ",
              obs_.substr(0, 60));
    EXPECT_EQ("     " + number + "           N: GNSS NAV DATA    G: GPS              ",
              nav_.substr(0, 60));
    const bool v4 = rinex == RAWCONV_RINEX_4_00;
    EXPECT_EQ(v4 ? 0u : 2u, Labelled(obs_, "SYS / PHASE SHIFT").size()) << number;  // L1C, L2W
    EXPECT_EQ(v4, Body(nav_).compare(0, 15, "> EPH G01 LNAV\n") == 0) << number;
    EXPECT_EQ(162, static_cast<int>(report_.nav_records));
    EXPECT_EQ(v4 ? 162 : 0, std::count(nav_.begin(), nav_.end(), '>')) << number;
    if (body305.empty()) body305 = Body(obs_);
    EXPECT_EQ(body305, Body(obs_)) << number;
  }
}

// RINEX 3 codes in obs_types pick the types the RINEX 2 names pick, in any
// output version; an unknown code is refused, named in the message.
TEST_F(RinexVersionTest, ObservationCodesOfEitherVersion) {
  for (int32_t rinex : {RAWCONV_RINEX_2_10, RAWCONV_RINEX_3_05}) {
    o_.obs_types = "C1,L2,P2";
    ASSERT_EQ(RAWCONV_OK, Convert(rinex, "r2types" + std::to_string(rinex))) << report_.error;
    const std::string by_rinex2 = obs_;
    o_.obs_types = "C2W,C1C, L2W";
    ASSERT_EQ(RAWCONV_OK, Convert(rinex, "r3types" + std::to_string(rinex))) << report_.error;
    EXPECT_EQ(by_rinex2, obs_) << rinex;
  }
  EXPECT_EQ("G    3 C1C L2W C2W", Labelled(obs_, "SYS / # / OBS TYPES").at(0).substr(0, 18));
  o_.obs_types = "C1C,L5Q";
  EXPECT_EQ(RAWCONV_INVALID, Convert(RAWCONV_RINEX_3_05, "unknown"));
  EXPECT_NE(std::string::npos, std::string(report_.error).find("\"L5Q\"")) << report_.error;
  EXPECT_TRUE(fs::is_empty(Path("out/unknown")));
}

// MARKER TYPE: written in upper case in RINEX 3 and 4 headers, after MARKER
// NAME; refused with RINEX 2 and for unknown names, before anything is
// written; absent for a caller whose record ends before the field.
TEST_F(RinexVersionTest, MarkerType) {
  o_.marker_name = "ROOF";
  o_.marker_type = "Non_Physical";
  for (int32_t rinex : {RAWCONV_RINEX_3_02, RAWCONV_RINEX_4_00}) {
    ASSERT_EQ(RAWCONV_OK, Convert(rinex, "mt" + std::to_string(rinex))) << report_.error;
    EXPECT_EQ(std::vector<std::string>{std::string("NON_PHYSICAL") + std::string(48, ' ')},
              Labelled(obs_, "MARKER TYPE"));
    const size_t name = obs_.find("MARKER NAME");
    EXPECT_EQ(obs_.find("MARKER TYPE"), name + 81) << rinex;
  }
  for (int32_t rinex : {RAWCONV_RINEX_2_00, RAWCONV_RINEX_2_10, RAWCONV_RINEX_2_11}) {
    EXPECT_EQ(RAWCONV_INVALID, Convert(rinex, "mt2_" + std::to_string(rinex)));
    EXPECT_NE(std::string::npos, std::string(report_.error).find("RINEX 2.11 has no MARKER TYPE"))
        << report_.error;
    EXPECT_TRUE(fs::is_empty(Path("out/mt2_" + std::to_string(rinex))));
    char why[RAWCONV_ERROR_MAX];
    o_.rinex = rinex;
    EXPECT_EQ(RAWCONV_INVALID, rawconv_check_edits(&o_, why, sizeof why));
  }
  o_.marker_type = "TRIPOD";
  EXPECT_EQ(RAWCONV_INVALID, Convert(RAWCONV_RINEX_3_05, "tripod"));
  EXPECT_NE(std::string::npos, std::string(report_.error).find("\"TRIPOD\"")) << report_.error;
  EXPECT_NE(std::string::npos, std::string(report_.error).find("FLOATING_ICE"));

  // A caller built before the field: its record ends in front of it.
  o_.marker_type = "HUMAN";
  o_.size = offsetof(rawconv_options, marker_type);
  ASSERT_EQ(RAWCONV_OK, Convert(RAWCONV_RINEX_3_05, "older")) << report_.error;
  EXPECT_TRUE(Labelled(obs_, "MARKER TYPE").empty());
  o_.size = sizeof o_;
  o_.marker_type = "";
  ASSERT_EQ(RAWCONV_OK, Convert(RAWCONV_RINEX_2_10, "empty")) << report_.error;
}

// The dialog's library keeps its own reading of the version argument: 2 is
// 2.10, every other value below 300 (2.11's 211 too) the 2.00 layouts.
using DialogVersionTest = ConversionFixture;
TEST_F(DialogVersionTest, ValuesBelow300OtherThan2WriteThe200Layouts) {
  WriteInputs("a");
  std::string files[3];
  const int versions[3] = {RINEX_VERSION_2_0, 211, 0};
  for (int i = 0; i < 3; ++i) {
    Fill("a");
    ASSERT_EQ(0, Convert(versions[i])) << ErrorText();
    files[i] = ReadFile(obs_.ObsFile) + ReadFile(nav_.NavFile);
  }
  EXPECT_EQ(0u, files[0].find("     2              OBSERVATION DATA"));
  EXPECT_EQ(files[0], files[1]);
  EXPECT_EQ(files[0], files[2]);
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
