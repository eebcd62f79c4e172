#include "ephem/block_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace rawconv {
namespace {

// A stream over the given file text, read from its start.
struct TextStream {
  explicit TextStream(const std::string& text) : file(std::tmpfile()) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
  }
  ~TextStream() { std::fclose(file); }
  std::FILE* file;
};

class BlockReaderTest : public testing::Test {
 protected:
  std::unique_ptr<BlockRecord> record = std::make_unique<BlockRecord>();
};

TEST_F(BlockReaderTest, OpeningLineRule) {
  TextStream s(
      "name{\n"
      "  name {\n"
      "}\n"
      "; only a comment {\n"
      "a;b {\n"
      "abcdefghijklmno {\n"  // 16 characters before the brace
      "}\n"
      "abcdefghijklmn {\n"  // 15
      "}\n"
      "\tx{\n"
      "}\n");
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_STREQ(record->Name, "name");
  EXPECT_EQ(record->EntryCount, 0);
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_STREQ(record->Name, "abcdefghijklmn");
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_STREQ(record->Name, "x{");
  EXPECT_EQ(ReadBlock(s.file, record.get()), -1);
}

TEST_F(BlockReaderTest, EntriesCommentsAndQuotes) {
  TextStream s(
      "gis { Feat: Road\n"
      "Rem: ; nothing\n"
      "; only a comment {\n"
      "   \n"
      "ID: \"A B\" x ; \"c d\" } not the end\n"
      "Pos: 1.5,2.5, 3.5\n"
      "Tail: v } ignored\n"
      "Next: 1\n"
      "}\n");
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_STREQ(record->Name, "gis");
  ASSERT_EQ(record->EntryCount, 4);
  EXPECT_STREQ(record->Entries[0].Key, "Feat:");
  ASSERT_EQ(record->Entries[0].ValueCount, 1);
  EXPECT_STREQ(record->Entries[0].Values[0], "Road");
  EXPECT_STREQ(record->Entries[1].Key, "Rem:");
  EXPECT_EQ(record->Entries[1].ValueCount, 0);
  EXPECT_STREQ(record->Entries[2].Key, "ID:");
  ASSERT_EQ(record->Entries[2].ValueCount, 2);
  EXPECT_STREQ(record->Entries[2].Values[0], "\"A`B\"");
  EXPECT_STREQ(record->Entries[2].Values[1], "x");
  EXPECT_EQ(record->Entries[2].Used, 0);
  EXPECT_STREQ(record->Entries[3].Key, "Pos:");
  // The "Next:" line after the closing "}" belongs to no block.
  EXPECT_EQ(ReadBlock(s.file, record.get()), -1);
}

TEST_F(BlockReaderTest, LimitsOfEntriesValuesKeysAndLines) {
  std::string text = "big {\n";
  for (int i = 0; i < 40; ++i) text += "K" + std::to_string(i) + ": v\n";
  text += "}\n";
  text += "wide {\n V: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\n";
  text += " " + std::string(40, 'k') + " 1\n";
  text += "L: " + std::string(300, 'a') + "\n}\n";
  TextStream s(text);
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_EQ(record->EntryCount, 32);
  EXPECT_STREQ(record->Entries[31].Key, "K31:");
  // The rest of the 40 lines and its "}" open no block.
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  EXPECT_STREQ(record->Name, "wide");
  ASSERT_EQ(record->EntryCount, 4);
  EXPECT_EQ(record->Entries[0].ValueCount, 15);
  EXPECT_STREQ(record->Entries[0].Values[14], "15");
  EXPECT_EQ(std::string(record->Entries[1].Key), std::string(31, 'k'));
  // 254 characters per read: "L: " plus 251 letters, then the other 49.
  EXPECT_EQ(std::string(record->Entries[2].Values[0]), std::string(251, 'a'));
  EXPECT_EQ(std::string(record->Entries[3].Key), std::string(31, 'a'));  // 49, cut as a key
  EXPECT_EQ(record->Entries[3].ValueCount, 0);
}

TEST_F(BlockReaderTest, EndOfStreamCases) {
  {
    TextStream s("");
    EXPECT_EQ(ReadBlock(s.file, record.get()), -1);
  }
  {
    TextStream s("x {");  // the opening line ends the stream
    EXPECT_EQ(ReadBlock(s.file, record.get()), -1);
  }
  {
    TextStream s("x {\nA: 1\nB: 2");  // last line without a line end
    ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
    ASSERT_EQ(record->EntryCount, 1);
    EXPECT_STREQ(record->Entries[0].Key, "A:");
    EXPECT_EQ(ReadBlock(s.file, record.get()), -1);
  }
  {
    TextStream s("x {\nA: 1\n");  // no closing brace
    ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
    EXPECT_EQ(record->EntryCount, 1);
  }
}

TEST(TextLines, WholeLineOrLineStart) {
  char line[6];
  {
    // ReadTextLine drops the rest of a long line; ReadLineStart leaves it to
    // the next read.
    TextStream s("abcdefgh\r\nxy\rz\n");
    ASSERT_TRUE(ReadTextLine(s.file, line, sizeof line));
    EXPECT_STREQ(line, "abcde");
    ASSERT_TRUE(ReadTextLine(s.file, line, sizeof line));
    EXPECT_STREQ(line, "xy");
    ASSERT_TRUE(ReadTextLine(s.file, line, sizeof line));
    EXPECT_STREQ(line, "z");
    EXPECT_FALSE(ReadTextLine(s.file, line, sizeof line));
  }
  {
    TextStream s("abcdefgh\r\nxy\rz");
    ASSERT_TRUE(ReadLineStart(s.file, line, sizeof line));
    EXPECT_STREQ(line, "abcde");
    ASSERT_TRUE(ReadLineStart(s.file, line, sizeof line));
    EXPECT_STREQ(line, "fgh");
    ASSERT_TRUE(ReadLineStart(s.file, line, sizeof line));
    EXPECT_STREQ(line, "xy");
    ASSERT_TRUE(ReadLineStart(s.file, line, sizeof line));
    EXPECT_STREQ(line, "z");
    EXPECT_FALSE(ReadLineStart(s.file, line, sizeof line));
  }
  {
    // A line of exactly the buffer's length: its line end goes with it.
    TextStream s(std::string("abcde\n", 6) + "f {\n}\n");
    ASSERT_TRUE(ReadLineStart(s.file, line, sizeof line));
    EXPECT_STREQ(line, "abcde");
    std::unique_ptr<BlockRecord> record = std::make_unique<BlockRecord>();
    ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
    EXPECT_STREQ(record->Name, "f");
  }
  TextStream s("abc");
  EXPECT_FALSE(ReadLineStart(s.file, line, 1));
}

TEST_F(BlockReaderTest, LookupsConsumeEntries) {
  TextStream s(
      "sta {\n"
      "  ID: \"A B\"\n"
      "  Hi: 1.523 SLANT\n"
      "  Pos: 1.25 2.5\n"
      "  Tri: 1,2,3\n"
      "  Hi: 2.0 VERT\n"
      "  Dot: .5 7\n"
      "}\n");
  ASSERT_EQ(ReadBlock(s.file, record.get()), 0);
  char text[kScanTextSize];
  ASSERT_EQ(GetBlockValues("id:", record.get(), "%s", text), 1);
  EXPECT_STREQ(text, "A`B");
  char field[8];
  CopyFieldText(field, text, sizeof field);
  EXPECT_STREQ(field, "A B");
  ReplaceBackquotes(text, '_');
  EXPECT_STREQ(text, "A_B");

  double h = 0;
  ASSERT_EQ(GetBlockValues("hi:", record.get(), "%lf%s", &h, text), 2);
  EXPECT_DOUBLE_EQ(h, 1.523);
  EXPECT_STREQ(text, "SLANT");
  ASSERT_EQ(GetBlockValues("HI:", record.get(), "%lf%s", &h, text), 2);
  EXPECT_DOUBLE_EQ(h, 2.0);
  EXPECT_EQ(GetBlockValues("Hi:", record.get(), "%lf", &h), -1);

  double x = 0, y = 0, z = -1;
  EXPECT_EQ(GetBlockValues("Pos:", record.get(), "%lf%lf%lf%s", &x, &y, &z, text), 2);
  EXPECT_DOUBLE_EQ(x, 1.25);
  EXPECT_DOUBLE_EQ(y, 2.5);
  EXPECT_DOUBLE_EQ(z, -1);
  EXPECT_EQ(GetBlockValues("Tri:", record.get(), "%lf%lf%lf", &x, &y, &z), 3);
  EXPECT_DOUBLE_EQ(z, 3.0);
  int32_t n = -1;
  EXPECT_EQ(GetBlockValues("Dot:", record.get(), "%d", &n), 0);
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(record->Entries[5].Used);
  EXPECT_EQ(GetBlockValues("Missing:", record.get(), "%d", &n), -1);
}

TEST(ScanValues, Directives) {
  char text[] = "7 x 2.5, -3e2\t0x1f 9 rest of it ";
  int32_t a = 0, b = 0;
  char c = 0;
  float f = 0;
  double d = 0;
  char s[kScanTextSize];
  char rest[kScanTextSize];
  EXPECT_EQ(ScanValues(text, "%d%c%f%le%s%l%S", &a, &c, &f, &d, s, &b, rest), 7);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(c, 'x');
  EXPECT_FLOAT_EQ(f, 2.5f);
  EXPECT_DOUBLE_EQ(d, -300.0);
  EXPECT_STREQ(s, "0x1f");
  EXPECT_EQ(b, 9);
  EXPECT_STREQ(rest, "rest of it ");

  char t2[] = "12 34";
  EXPECT_EQ(ScanValues(t2, "%ld%l", &a, &b), 2);  // "%l" at the end of the format
  EXPECT_EQ(b, 34);
  char t3[] = "1 2 3";
  EXPECT_EQ(ScanValues(t3, "%d%q%d", &a, &b), -1);
  char t4[] = "1 2";
  EXPECT_EQ(ScanValues(t4, "%d%lq", &a, &b), -1);
  char t5[] = "abc 5";
  EXPECT_EQ(ScanValues(t5, "%d%d", &a, &b), 2);  // non-numeric words count
  EXPECT_EQ(a, 0);
  char t6[] = "4";
  EXPECT_EQ(ScanValues(t6, "%d%d", &a, &b), 1);  // the word at the end is the last
  char t7[] = " , ";
  EXPECT_EQ(ScanValues(t7, "%d", &a), 0);
  char t8[] = "";
  EXPECT_EQ(ScanValues(t8, "%S", rest), 0);
  char t9[] = "99999999999 -99999999999";
  EXPECT_EQ(ScanValues(t9, "%d%d", &a, &b), 2);
  EXPECT_EQ(a, INT32_MAX);
  EXPECT_EQ(b, INT32_MIN);
}

TEST(ScanValues, LongTextsAreCut) {
  std::string big(2000, 'w');
  char out[kScanTextSize];
  EXPECT_EQ(ScanValues(&big[0], "%s", out), 1);
  EXPECT_EQ(std::string(out), std::string(kScanTextSize - 1, 'w'));
  std::string big2(2000, 'v');
  EXPECT_EQ(ScanValues(&big2[0], "%S", out), 1);
  EXPECT_EQ(std::string(out).size(), kScanTextSize - 1);
}

TEST_F(BlockReaderTest, JoinedValuesCutAt767) {
  // Fifteen quoted values of 250 letters each: 3765 characters when joined.
  record->EntryCount = 1;
  BlockEntry& e = record->Entries[0];
  std::snprintf(e.Key, sizeof e.Key, "V:");
  e.ValueCount = 15;
  e.Used = 0;
  for (int i = 0; i < 15; ++i)
    std::snprintf(e.Values[i], sizeof e.Values[i], "\"%s\"", std::string(250, 'a' + i).c_str());
  char out[kScanTextSize];
  ASSERT_EQ(GetBlockValues("V:", record.get(), "%S", out), 1);
  const std::string joined = out;
  ASSERT_EQ(joined.size(), 767u);
  EXPECT_EQ(joined.substr(0, 251), std::string(250, 'a') + " ");
  EXPECT_EQ(joined.substr(753), std::string(14, 'd'));
}

TEST(CopyFieldText, CutsAndTrims) {
  char source[] = "Base`1```";
  char dest[32];
  CopyFieldText(dest, source, sizeof dest);
  EXPECT_STREQ(dest, "Base 1");
  char longer[] = "abcdefghij";
  char small[5];
  CopyFieldText(small, longer, sizeof small);
  EXPECT_STREQ(small, "abcd");
  EXPECT_STREQ(longer, "abcd");  // the source is cut in place
  char blank[] = "   ";
  CopyFieldText(dest, blank, sizeof dest);
  EXPECT_STREQ(dest, " ");  // the first character stays
}

}  // namespace
}  // namespace rawconv
