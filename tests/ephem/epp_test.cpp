#include "ephem/epp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/context.h"

namespace rawconv {
namespace {

// One "GpsEph" block with the given PRN, week and toe (and toc = toe).
std::string Block(int prn, const std::string& week, const std::string& toe,
                  const std::string& el1_tail = " 0 -1.1e-8 5 ") {
  return "GpsEph {\n  Prn: " + std::to_string(prn) + "\n  El1: " + week + el1_tail + toe +
         "\n  El2: 0.0 1.5e-12 -3.25e-4\n  El3: 17 -52.1875 4.0e-9 2.87\n"
         "  El4: -2.6e-6 5.9e-3 4.1e-6 5153.63\n  El5: " +
         toe + " 1.06e-7 -2.49 -9.3e-8\n  El6: 0.98 309.375 -1.65 -7.9e-9 -8.5e-12\n}\n";
}

class EppFileTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + "epp_test_" + name;
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
  }
  std::FILE* Open(const std::string& name, const std::string& text) {
    return std::fopen(Write(name, text).c_str(), "r");
  }
};

TEST_F(EppFileTest, SequentialRecordsWithIntegerForms) {
  std::FILE* f = Open("seq.epp",
                      "$EPHREC 1 2\n" + Block(5, "317", "345600") +
                          Block(0x1f, "0x53c", "0125") + "}\n  trailing words { \n\n");
  ASSERT_EQ(CheckEppHeader(f), 0);
  EphemerisRecord r{};
  ASSERT_EQ(ReadEphemerisRecord(f, &r), 0);
  EXPECT_EQ(r.Prn, 5);
  EXPECT_EQ(r.Week, 1341);  // below 700: completed
  EXPECT_EQ(r.Extra, 0);
  EXPECT_DOUBLE_EQ(r.Tgd, -1.1e-8);
  EXPECT_EQ(r.Iodc, 5);
  EXPECT_EQ(r.Toc, 345600);
  EXPECT_DOUBLE_EQ(r.Af2, 0.0);
  EXPECT_DOUBLE_EQ(r.Af1, 1.5e-12);
  EXPECT_DOUBLE_EQ(r.Af0, -3.25e-4);
  EXPECT_EQ(r.Iode, 17);
  EXPECT_DOUBLE_EQ(r.Crs, -52.1875);
  EXPECT_DOUBLE_EQ(r.DeltaN, 4.0e-9);
  EXPECT_DOUBLE_EQ(r.M0, 2.87);
  EXPECT_DOUBLE_EQ(r.Cuc, -2.6e-6);
  EXPECT_DOUBLE_EQ(r.Ecc, 5.9e-3);
  EXPECT_DOUBLE_EQ(r.Cus, 4.1e-6);
  EXPECT_DOUBLE_EQ(r.SqrtA, 5153.63);
  EXPECT_EQ(r.Toe, 345600);
  EXPECT_DOUBLE_EQ(r.Cic, 1.06e-7);
  EXPECT_DOUBLE_EQ(r.Omega0, -2.49);
  EXPECT_DOUBLE_EQ(r.Cis, -9.3e-8);
  EXPECT_DOUBLE_EQ(r.I0, 0.98);
  EXPECT_DOUBLE_EQ(r.Crc, 309.375);
  EXPECT_DOUBLE_EQ(r.Omega, -1.65);
  EXPECT_DOUBLE_EQ(r.OmegaDot, -7.9e-9);
  EXPECT_DOUBLE_EQ(r.Idot, -8.5e-12);

  ASSERT_EQ(ReadEphemerisRecord(f, &r), 0);
  EXPECT_EQ(r.Prn, 31);
  EXPECT_EQ(r.Week, 0x53c);  // 1340: at or above 700, as read
  EXPECT_EQ(r.Toe, 0125);    // octal 85
  EXPECT_EQ(ReadEphemerisRecord(f, &r), -1);
  EXPECT_EQ(r.Prn, 31);  // left as it was
  std::fclose(f);
}

TEST_F(EppFileTest, HeaderVariants) {
  // Fewer than three header words: the first record's words fill the
  // header, so that record is passed over.
  std::FILE* f = Open("short.epp", "$EPHREC x\n" + Block(1, "1341", "0") + Block(2, "1341", "7200"));
  ASSERT_EQ(CheckEppHeader(f), 0);
  EphemerisRecord r{};
  ASSERT_EQ(ReadEphemerisRecord(f, &r), 0);
  EXPECT_EQ(r.Prn, 2);
  EXPECT_EQ(ReadEphemerisRecord(f, &r), -1);
  std::fclose(f);

  f = Open("lower.epp", "$ephrec 1 2\n" + Block(1, "1341", "0"));
  EXPECT_EQ(CheckEppHeader(f), 1);
  std::fclose(f);
  f = Open("empty.epp", "");
  EXPECT_EQ(CheckEppHeader(f), 1);
  std::fclose(f);

  // A header line beginning with a blank passes the sequential reading but
  // sends the lookup to the six-line layout, where the file has no group.
  const std::string spaced = Write("spaced.epp", " $EPHREC 1 2\n" + Block(1, "1341", "7200"));
  f = std::fopen(spaced.c_str(), "r");
  EXPECT_EQ(CheckEppHeader(f), 0);
  EXPECT_EQ(ReadEphemerisRecord(f, &r), 0);
  std::fclose(f);
  int week = 0;
  double toe = 0;
  int tags = 0;
  EXPECT_EQ(FindReferenceEphemeris(spaced.c_str(), &week, &toe, &tags), 1);
}

TEST_F(EppFileTest, RecordCutOffByEndOfStream) {
  const std::string full = Block(3, "1341", "7200");
  std::FILE* f = Open("cut.epp", "$EPHREC 1 2\n" + full.substr(0, full.size() - 20));
  ASSERT_EQ(CheckEppHeader(f), 0);
  EphemerisRecord r{};
  r.Prn = 99;
  EXPECT_EQ(ReadEphemerisRecord(f, &r), -1);
  EXPECT_EQ(r.Prn, 99);
  std::fclose(f);
}

TEST_F(EppFileTest, ReferenceChoiceInBlockLayout) {
  int week = -1;
  double toe = -1;
  int tags = 0;
  EXPECT_EQ(FindReferenceEphemeris("", &week, &toe, &tags), 1);
  EXPECT_EQ(FindReferenceEphemeris(nullptr, &week, &toe, &tags), 1);
  EXPECT_EQ(
      FindReferenceEphemeris((testing::TempDir() + "no_such.epp").c_str(), &week, &toe, &tags), 1);
  EXPECT_EQ(
      FindReferenceEphemeris(Write("none.epp", "$EPHREC 1 2\n").c_str(), &week, &toe, &tags), 1);

  // All toe 0: the last record.
  std::string all_zero = Write("zero.epp", "$EPHREC 1 2\n" + Block(1, "1341", "0") +
                                               Block(2, "1342", "0"));
  ASSERT_EQ(FindReferenceEphemeris(all_zero.c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1342);
  EXPECT_EQ(toe, 0.0);

  // Records with toe 0 are passed over; unacceptable ones do not count;
  // weeks are returned as read; block names and keys in any case.
  std::string mixed = "$EPHREC 1 2\n" + Block(1, "317", "7200") + Block(2, "1341", "0") +
                      Block(3, "4096", "14400") + Block(4, "1341", "604801") +
                      Block(5, "1341", "21600", " 0 1.0 ") +  // El1 of four values
                      Block(6, "-1", "3600");
  ASSERT_EQ(FindReferenceEphemeris(Write("mixed.epp", mixed).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 317);
  EXPECT_EQ(toe, 7200.0);
  EXPECT_EQ(tags, 2);

  std::string lower = "$EPHREC 1 2\n" + Block(1, "1341", "7200");
  lower.replace(lower.find("GpsEph"), 6, "gpseph");
  lower.replace(lower.find("El1:"), 4, "el1:");
  ASSERT_EQ(FindReferenceEphemeris(Write("lower.epp", lower).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1341);

  // Full weeks after the 2019 rollover are references too.
  std::string late = "$EPHREC 1 2\n" + Block(1, "2140", "7200") + Block(2, "4095", "0");
  ASSERT_EQ(FindReferenceEphemeris(Write("late.epp", late).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 2140);
  EXPECT_EQ(toe, 7200.0);
}

TEST_F(EppFileTest, LongFirstLineIsReadAsBlocksAfterItsFirst249Characters) {
  int week = 0;
  double toe = 0;
  int tags = 0;
  // The first line is "$EPHREC" and 242 characters more; a block whose
  // opening line is the rest of that first line is found.
  const std::string head = "$EPHREC 1 2" + std::string(249 - 11, 'x');
  ASSERT_EQ(head.size(), 249u);
  std::string text = head + Block(7, "1341", "7200");
  ASSERT_EQ(FindReferenceEphemeris(Write("long_first.epp", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1341);
  EXPECT_EQ(toe, 7200.0);
  EXPECT_EQ(tags, 1);

  // One character less before it: the block's name is "xGpsEph", which is
  // no ephemeris block.
  text = head.substr(0, 248) + Block(7, "1341", "7200");
  EXPECT_EQ(FindReferenceEphemeris(Write("long_first2.epp", text).c_str(), &week, &toe, &tags), 1);

  // A first line of exactly 249 characters: the blocks start on the next.
  text = head + "\n" + Block(8, "1342", "3600");
  ASSERT_EQ(FindReferenceEphemeris(Write("exact_first.epp", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1342);

  // The rest of a long first line can also hold no block: nothing changes.
  text = head + std::string(5000, 'y') + "\n" + Block(9, "1343", "1800");
  ASSERT_EQ(FindReferenceEphemeris(Write("longer_first.epp", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1343);
  EXPECT_EQ(tags, 1);
}

TEST_F(EppFileTest, OnlyFirst128AcceptedRecordsCount) {
  std::string text = "$EPHREC 1 2\n";
  for (int i = 0; i < 130; ++i) text += Block(1, std::to_string(1300 + i), "3600");
  int week = 0;
  double toe = 0;
  int tags = 0;
  ASSERT_EQ(FindReferenceEphemeris(Write("many.epp", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1300 + 127);
  EXPECT_EQ(tags, 128);
}

TEST_F(EppFileTest, SixLineLayout) {
  auto group = [](int week, int toe) {
    return " 5 " + std::to_string(week) + " 0.1 x\nline2\nline3\nline4\n" + std::to_string(toe) +
           " 1.0\nline6\n";
  };
  int week = 0;
  double toe = 0;
  int tags = 0;
  std::string text = group(1341, 7200) + group(1342, 0) + group(5000, 3600);
  ASSERT_EQ(FindReferenceEphemeris(Write("six.txt", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1341);
  EXPECT_EQ(toe, 7200.0);

  // Reading stops at the first group that does not fit: here the second,
  // so the later group is never seen.
  text = group(1341, 7200) + "5\nline2\nline3\nline4\n0\nline6\n" + group(1350, 3600);
  ASSERT_EQ(FindReferenceEphemeris(Write("six_bad.txt", text).c_str(), &week, &toe, &tags), 0);
  EXPECT_EQ(week, 1341);
  // A group cut short by the end of the file does not count.
  text = group(1341, 7200).substr(0, 30);
  EXPECT_EQ(FindReferenceEphemeris(Write("six_cut.txt", text).c_str(), &week, &toe, &tags), 1);
}

}  // namespace
}  // namespace rawconv
