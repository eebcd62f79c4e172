// Hostile text inputs have defined results: lines of megabytes, NUL bytes,
// CR-only line ends, files that end inside a block or a record, files of
// 10,000 blocks and numbers that no ephemeris holds.
#include <cctype>

#include "ephem/epp.h"
#include "obs/sta_list.h"
#include "obs/station_table.h"
#include "support/conversion_fixture.h"
#include "station/station_file.h"

namespace rawconv {
namespace convtest {
namespace {

using HostileTextTest = ConversionFixture;

// One "GpsEph" block with the given PRN and the words of its six element
// lines after their keys.
std::string EppBlock(int prn, const std::string& el1, const std::string& el2,
                     const std::string& el3, const std::string& el4, const std::string& el5,
                     const std::string& el6) {
  return "GpsEph {\n  PRN: " + std::to_string(prn) + "\n  El1: " + el1 + "\n  El2: " + el2 +
         "\n  El3: " + el3 + "\n  El4: " + el4 + "\n  El5: " + el5 + "\n  El6: " + el6 + "\n}\n";
}

// A sound record of week 1341 with toe (and toc) toe.
std::string SoundBlock(int prn, int toe = 345600) {
  const std::string t = std::to_string(toe);
  return EppBlock(prn, "1341 0 -1.16e-08 100 " + t, "0.0 -5.68e-13 1.06e-04",
                  "100 -68.9 4.48e-09 1.09", "-3.43e-06 6.45e-03 8.86e-06 5153.65",
                  t + " 1.11e-08 -2.07 -7.26e-08", "0.968 224.9 -1.89 -7.87e-09 -3.92e-10");
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// true when line is `lead` characters and then exactly `count` fields of a
// blank and a D form number: "[ -].dddddddddddd D[+-]dd" in 18 columns.
bool DFormFields(const std::string& line, size_t lead, size_t count) {
  if (line.size() != lead + 19 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    const std::string f = line.substr(lead + 19 * i, 19);
    if (f[0] != ' ' || (f[1] != ' ' && f[1] != '-') || f[2] != '.' || f[15] != 'D' ||
        (f[16] != '+' && f[16] != '-'))
      return false;
    for (size_t k : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17, 18}) {
      if (!std::isdigit(static_cast<unsigned char>(f[k]))) return false;
    }
  }
  return true;
}

const char kStation[] =
    "$STAINFO test\n"
    "sta {\n  ID: \"Base 1\" ; first occupation\n  Desc: pillar\n  GTim: 345630.0 1341\n"
    "  Hi: 1.5 VERT\n}\n"
    "mrk {\n  Event: check\n  GTim: 345660.0 1341\n}\n";

TEST_F(HostileTextTest, LinesOfMegabytes) {
  std::string words;
  while (words.size() < (2u << 20)) words += "filler words ";
  const std::string word(1u << 20, 'w');

  // EPP: long lines and a long word between records leave both records and
  // the reference as they are.
  WriteInputs("x");
  WriteFile(Path("x.epp"), "$EPHREC 1 0 " + words + "\n" + SoundBlock(1) + words + "\n" + word +
                               "\n" + SoundBlock(2, 352800));
  Fill("x");
  ASSERT_EQ(0, Convert()) << ErrorText();
  EXPECT_EQ(3u + 16u, Lines(ReadFile(Path("x.05n"))).size());
  int week = 0;
  double toe = 0.0;
  ASSERT_EQ(0, FindReferenceEphemeris(Path("x.epp").c_str(), &week, &toe));
  EXPECT_EQ(352800.0, toe);

  // The six-line layout counts a long line once.
  WriteFile(Path("six.epp"), " 3 1341 " + words + "\nb\nc\nd\n 345600 " + word + "\nf\n");
  ASSERT_EQ(0, FindReferenceEphemeris(Path("six.epp").c_str(), &week, &toe));
  EXPECT_EQ(1341, week);
  EXPECT_EQ(345600.0, toe);

  // Station file: a long line outside the blocks is passed over; one inside
  // a block is read 254 characters at a time, so the block ends after its
  // 32nd entry line and its later lines are lost, the next block is not.
  WriteFile(Path("long.sta"), std::string("$STAINFO\n") + words + "\n" +
                                  "sta {\n  ID: A\n  GTim: 345630 1341\n  Desc: " + word +
                                  "\n  Hi: 1.5\n}\n" + "sta {\n  ID: B\n  GTim: 345660 1341\n}\n");
  StationFile file{};
  ASSERT_EQ(0, ReadStationFile(Path("long.sta").c_str(), kStationAllKinds, &file));
  ASSERT_EQ(2, file.Count);
  EXPECT_STREQ("A", file.Records[0].Name);
  EXPECT_EQ(std::string(63, 'w'), file.Records[0].Text1);
  EXPECT_EQ(0.0, file.Records[0].AntennaHeight);
  EXPECT_STREQ("B", file.Records[1].Name);
  ReleaseStationFile(&file);

  // STA: list: a long word or record text is cut and the rest of its line
  // dropped; the records after it are read.
  WriteFile(Path("list.sta"), word + "\nSTA: *1.0*\"AA\"*" + words + "\nSTA: *2.0*\"BB\"*\n");
  std::unique_ptr<StaRecord[]> table(new StaRecord[kMaxStaRecords]());
  ASSERT_EQ(2, ReadStaList(Path("list.sta").c_str(), table.get()));
  EXPECT_STREQ("AA", table[0].StaName);
  EXPECT_STREQ("BB", table[1].StaName);
  EXPECT_EQ(2.0, table[1].StaTime);
}

TEST_F(HostileTextTest, NulBytesReadAsBlanks) {
  const std::string nul(1, '\0');
  // EPP: a NUL between words changes nothing, in the records or the
  // reference.
  WriteInputs("clean");
  WriteInputs("nul");
  const std::string epp = "$EPHREC 1 0\n" + SoundBlock(5);
  WriteFile(Path("clean.epp"), epp);
  WriteFile(Path("nul.epp"), Replace(Replace(epp, "El1: ", "El1:" + nul), " 1.11e-08", nul + "1.11e-08"));
  Fill("clean");
  ASSERT_EQ(0, Convert()) << ErrorText();
  Fill("nul");
  ASSERT_EQ(0, Convert()) << ErrorText();
  EXPECT_EQ(ReadFile(Path("clean.05n")), ReadFile(Path("nul.05n")));
  EXPECT_EQ(ReadFile(Path("clean.05o")), ReadFile(Path("nul.05o")));

  // Station file: the words on both sides of a NUL are separate values.
  WriteFile(Path("nul.sta"), "$STAINFO\nsta {\n  ID: AB" + nul + "CD\n  GTim: 345630.0" + nul +
                                 "1341\n  Desc: x" + nul + nul + "y\n}\n");
  StationFile file{};
  ASSERT_EQ(0, ReadStationFile(Path("nul.sta").c_str(), kStationAllKinds, &file));
  ASSERT_EQ(1, file.Count);
  EXPECT_STREQ("AB", file.Records[0].Name);
  EXPECT_EQ(345630.0, file.Records[0].Seconds);
  EXPECT_EQ(1341, file.Records[0].Week);
  EXPECT_STREQ("x", file.Records[0].Text1);
  ReleaseStationFile(&file);
  // A NUL inside the tag of the first line: not the block layout.
  WriteFile(Path("tag.sta"), "$STA" + nul + "INFO\n");
  EXPECT_EQ(0, IsStationInfoFile(Path("tag.sta").c_str()));

  // STA: list: inside a record text a NUL is a blank; between words it
  // separates them.
  WriteFile(Path("list.sta"), "STA:" + nul + "*1.0*\"B" + nul + "E\"*2.5*\n" + nul + "STA: *2*\"C\"*\n");
  std::unique_ptr<StaRecord[]> table(new StaRecord[kMaxStaRecords]());
  ASSERT_EQ(2, ReadStaList(Path("list.sta").c_str(), table.get()));
  EXPECT_STREQ("B E", table[0].StaName);
  EXPECT_EQ(1.0, table[0].StaTime);
  EXPECT_EQ(2.0, table[1].StaTime);
}

TEST_F(HostileTextTest, CrOnlyAndCrLfLineEndsReadLikeLf) {
  const std::string epp = "$EPHREC 1 0\n" + SoundBlock(5) + SoundBlock(7, 352800);
  const std::string list = "STA: *345630.0*\"BASE\"*1.5*\"first\"*\"second\"*\nSTA: *345660*\"ROV\"*\n";
  const std::string six = " 3 1341 x\nb\nc\nd\n 345600\nf\n 4 1341\nb\nc\nd\n 352800\nf\n";
  struct Convention {
    const char* Name;
    const char* End;
  };
  for (const Convention& c : {Convention{"lf", "\n"}, Convention{"cr", "\r"}, Convention{"crlf", "\r\n"}}) {
    const std::string name = c.Name;
    WriteInputs(name);
    WriteFile(Path(name + ".epp"), Replace(epp, "\n", c.End));
    WriteFile(Path(name + ".sta"), Replace(kStation, "\n", c.End));
    Fill(name);
    ASSERT_EQ(0, Convert()) << name << ": " << ErrorText();

    WriteInputs("list_" + name);
    WriteFile(Path("list_" + name + ".epp"), Replace(epp, "\n", c.End));
    WriteFile(Path("list_" + name + ".sta"), Replace(list, "\n", c.End));
    Fill("list_" + name);
    ASSERT_EQ(0, Convert()) << name << ": " << ErrorText();

    WriteFile(Path("six_" + name + ".epp"), Replace(six, "\n", c.End));
    int week = 0;
    double toe = 0.0;
    EXPECT_EQ(0, FindReferenceEphemeris(Path("six_" + name + ".epp").c_str(), &week, &toe)) << name;
    EXPECT_EQ(352800.0, toe) << name;
  }
  const std::string lf_obs = ReadFile(Path("lf.05o"));
  EXPECT_NE(std::string::npos, lf_obs.find("\nBase_1 "));
  EXPECT_NE(std::string::npos, lf_obs.find("check"));
  EXPECT_NE(std::string::npos, ReadFile(Path("list_lf.05o")).find("ROV"));
  for (const char* name : {"cr", "crlf"}) {
    EXPECT_EQ(lf_obs, ReadFile(Path(std::string(name) + ".05o"))) << name;
    EXPECT_EQ(ReadFile(Path("lf.05n")), ReadFile(Path(std::string(name) + ".05n"))) << name;
    EXPECT_EQ(ReadFile(Path("list_lf.05o")), ReadFile(Path("list_" + std::string(name) + ".05o")))
        << name;
  }
}

TEST_F(HostileTextTest, FilesEndingInsideABlockOrRecord) {
  // EPP cut inside its second record: the first is written, the reference
  // comes from it.
  WriteInputs("x");
  const std::string epp = "$EPHREC 1 0\n" + SoundBlock(1) + SoundBlock(2, 352800);
  WriteFile(Path("x.epp"), epp.substr(0, epp.find("El5:", epp.find("PRN: 2"))));
  Fill("x");
  ASSERT_EQ(0, Convert()) << ErrorText();
  EXPECT_EQ(3u + 8u, Lines(ReadFile(Path("x.05n"))).size());
  int week = 0;
  double toe = 0.0;
  ASSERT_EQ(0, FindReferenceEphemeris(Path("x.epp").c_str(), &week, &toe));
  EXPECT_EQ(345600.0, toe);

  // Cut in the middle of the only record's "El5:" line: no record, no
  // reference, so the call fails after the navigation header.
  WriteInputs("cut");
  const std::string one = "$EPHREC 1 0\n" + SoundBlock(1);
  WriteFile(Path("cut.epp"), one.substr(0, one.find("El5:") + 12));
  Fill("cut");
  EXPECT_EQ(1, Convert());
  EXPECT_NE(std::string::npos, ErrorText().find("No usable ephemeris record in " + Path("cut.epp")));
  EXPECT_FALSE(fs::exists(Path("cut.nav")));

  // Station file without the closing brace of its last block: the block
  // counts as far as its complete lines go.
  const std::string station = kStation;
  WriteFile(Path("open.sta"), station.substr(0, station.rfind("}")));
  StationFile file{};
  ASSERT_EQ(0, ReadStationFile(Path("open.sta").c_str(), kStationAllKinds, &file));
  EXPECT_EQ(2, file.Count);
  ReleaseStationFile(&file);
  // Cut inside the time line of its only block: that line adds no entry,
  // the record has no time and is dropped.
  WriteFile(Path("cut.sta"), "$STAINFO\nsta {\n  ID: A\n  GTim: 3456");
  EXPECT_EQ(1, ReadStationFile(Path("cut.sta").c_str(), kStationAllKinds, &file));
  EXPECT_STREQ(("1 station records found in " + Path("cut.sta") + ", but all rejected").c_str(),
               file.Message);
  EXPECT_EQ(0, file.Count);

  // STA: list whose last record has no line end: read whole.
  WriteFile(Path("list.sta"), "STA: *1.0*\"AA\"*\nSTA: *2.0*\"BB\"*2.5*\"c\"*");
  std::unique_ptr<StaRecord[]> table(new StaRecord[kMaxStaRecords]());
  ASSERT_EQ(2, ReadStaList(Path("list.sta").c_str(), table.get()));
  EXPECT_EQ(2.5, table[1].StaHeight);
  EXPECT_STREQ("c", table[1].StaComment1);

  // GPB file cut inside its last record: the epochs before it are written.
  WriteInputs("gpb", 3);
  std::string gpb = ReadFile(Path("gpb.gpb"));
  WriteFile(Path("gpb.gpb"), gpb.substr(0, gpb.size() - 20));
  Fill("gpb");
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::string obs = ReadFile(Path("gpb.05o"));
  EXPECT_EQ(2u, Count(obs, "  0  4G 3G 4G 5G 6"));
}

TEST_F(HostileTextTest, TenThousandBlocks) {
  // Station file: every block is a record, and the epochs find theirs.
  std::string station = "$STAINFO\n";
  for (int i = 0; i < 10000; ++i) {
    station += "sta {\n  ID: S" + std::to_string(i) + "\n  GTim: " + std::to_string(345600 + 15 * i) +
               " 1341\n}\n";
  }
  WriteInputs("x", 5);
  WriteFile(Path("x.sta"), station);
  StationFile file{};
  ASSERT_EQ(0, ReadStationFile(Path("x.sta").c_str(), kStationAllKinds, &file));
  EXPECT_EQ(10000, file.Count);
  EXPECT_STREQ("S9999", file.Records[9999].Name);
  ReleaseStationFile(&file);

  // EPP: one navigation record per block, the reference from the first 128.
  std::string epp = "$EPHREC 1 0\n";
  for (int i = 0; i < 10000; ++i) epp += SoundBlock(1 + i % 32, i < 128 ? 345600 : 352800);
  WriteFile(Path("x.epp"), epp);
  Fill("x");
  ASSERT_EQ(0, Convert()) << ErrorText();
  EXPECT_EQ(3u + 8u * 10000u, Lines(ReadFile(Path("x.05n"))).size());
  int week = 0;
  double toe = 0.0;
  ASSERT_EQ(0, FindReferenceEphemeris(Path("x.epp").c_str(), &week, &toe));
  EXPECT_EQ(345600.0, toe);
  const std::string obs = ReadFile(Path("x.05o"));
  for (const char* name : {"S0 ", "S2 ", "S4 ", "S8 "}) {
    EXPECT_NE(std::string::npos, obs.find(std::string("\n") + name)) << name;
  }
  EXPECT_EQ(std::string::npos, obs.find("\nS1 "));  // no epoch at its time
}

TEST_F(HostileTextTest, HostileNumbersKeepTheirColumns) {
  // The second record holds numbers no ephemeris has, in every field.
  const std::string hostile =
      EppBlock(12, "1e308 nan 1e308 -99999999999 99999999999",
               "nan inf -inf", "1e308 -1.7976931348623157e308 4.9e-324 9.99999999999951e98",
               "1e99 -1e-99 1e-100 -0.0", "nan 0x1p3 -nan 1e-320",
               "123456789012345678901234567890 1e308 -1e308 NAN INF");
  WriteInputs("x");
  WriteFile(Path("x.epp"), "$EPHREC 1 0\n" + SoundBlock(1) + hostile);
  Fill("x");
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::vector<std::string> lines = Lines(ReadFile(Path("x.05n")));
  ASSERT_EQ(3u + 16u, lines.size());

  // Every number is a D form in its 19 columns: blank or minus, point,
  // twelve digits, D, sign, two digits.
  for (int record = 0; record < 2; ++record) {
    const size_t at = 3 + 8 * record;
    EXPECT_TRUE(DFormFields(lines[at], 22, 3)) << lines[at];
    for (size_t l = at + 1; l < at + 7; ++l) EXPECT_TRUE(DFormFields(lines[l], 3, 4)) << lines[l];
    EXPECT_TRUE(DFormFields(lines[at + 7], 3, 2)) << lines[at + 7];
  }
  // Beyond the form's range: the largest magnitude; NaN and the tiny: zero.
  EXPECT_EQ(" -.999999999999D+99  .999999999999D+99  .000000000000D+00", lines[11].substr(22));
  EXPECT_EQ("     .100000000000D+01 -.999999999999D+99  .000000000000D+00  .999999999999D+99",
            lines[12]);
  EXPECT_EQ("     .999999999999D+99 -.100000000000D-98  .100000000000D-99  .000000000000D+00",
            lines[13]);

  // Station heights that a 14-column field cannot hold read as none.
  obs_.AntHeight = 1.25;  // the header's line differs from the events'
  WriteFile(Path("x.sta"), "STA: *345630.0*\"BIG\"*1e308*\"a\"*\"b\"*\nSTA: *345660.0*\"NAN\"*nan*\"a\"*\"b\"*\n");
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::string obs = ReadFile(Path("x.05o"));
  const std::string zero_height =
      "        0.0000        0.0000        0.0000                  ANTENNA: DELTA H/E/N\n";
  EXPECT_EQ(2u, Count(obs, zero_height));
  for (const std::string& line : Lines(obs)) EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(HostileTextTest, LargestStationHeightsKeepTheirColumns) {
  WriteInputs("x");
  WriteFile(Path("x.epp"), "$EPHREC 1 0\n" + SoundBlock(1));
  WriteFile(Path("x.sta"),
            "STA: *345630.0*\"UP\"*999999999.9999*\"a\"*\"b\"*\n"
            "STA: *345660.0*\"DOWN\"*-99999999.9999*\"a\"*\"b\"*\n");
  Fill("x");
  obs_.AntHeight = 1.25;
  ASSERT_EQ(0, Convert()) << ErrorText();
  const std::string obs = ReadFile(Path("x.05o"));
  EXPECT_EQ(1u, Count(obs, "999999999.9999        0.0000        0.0000                  "
                           "ANTENNA: DELTA H/E/N\n"));
  EXPECT_EQ(1u, Count(obs, "-99999999.9999        0.0000        0.0000                  "
                           "ANTENNA: DELTA H/E/N\n"));
  for (const std::string& line : Lines(obs)) EXPECT_LE(line.size(), 80u) << line;
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
