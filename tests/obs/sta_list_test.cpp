#include "obs/sta_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace rawconv {
namespace {

class StaListTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::TempDir() + "stalist_" + info->name() + ".sta";
    table_.reset(new StaRecord[kMaxStaRecords]());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  int Read(const std::string& text) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) return -1;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return ReadStaList(path_.c_str(), table_.get());
  }

  std::string path_;
  std::unique_ptr<StaRecord[]> table_;
};

StaRecord Parse(const char* text) {
  StaRecord record;
  std::memset(&record, 0, sizeof record);
  ParseStaLine(text, &record);
  return record;
}

TEST_F(StaListTest, ReadsRecordsBetweenOtherText) {
  int n = Read(
      "Station list of the dam survey\n"
      "STA: *86400.5*\"BASE\"*1.523*\"Pillar on the roof\"*\"set up by JW\"*\n"
      "  some notes STA: *90000*\"MT01\"*0.5*\"\"*\"second only\"*  trailing words\n"
      "STA:\n"                                     // nothing after it: no record
      "STA: *93600*'MT02'*1.0*\"lost\"*\"lost\"*\n"  // apostrophes end the text
      "STA:x *1*\"NO\"*\n"                           // not the word STA:
      "STA: *97200*\"MT03\"*2.25*\r\n"              // CR LF line end
      "STA: *99000*\"ABCDEFG\"*\n");
  ASSERT_EQ(n, 5);
  EXPECT_DOUBLE_EQ(table_[0].StaTime, 86400.5);
  EXPECT_STREQ(table_[0].StaName, "BASE");
  EXPECT_DOUBLE_EQ(table_[0].StaHeight, 1.523);
  EXPECT_STREQ(table_[0].StaComment1, "Pillar on the roof");
  EXPECT_STREQ(table_[0].StaComment2, "set up by JW");

  EXPECT_STREQ(table_[1].StaName, "MT01");
  EXPECT_STREQ(table_[1].StaComment1, "");
  EXPECT_STREQ(table_[1].StaComment2, "second only");

  EXPECT_DOUBLE_EQ(table_[2].StaTime, 93600.0);
  EXPECT_STREQ(table_[2].StaName, "");
  EXPECT_EQ(table_[2].StaHeight, 0.0);
  EXPECT_STREQ(table_[2].StaComment1, "");

  EXPECT_DOUBLE_EQ(table_[3].StaTime, 97200.0);
  EXPECT_STREQ(table_[3].StaName, "MT03");
  EXPECT_DOUBLE_EQ(table_[3].StaHeight, 2.25);
  EXPECT_STREQ(table_[3].StaComment1, "");

  EXPECT_STREQ(table_[4].StaName, "ABCD");  // cut to the field
}

TEST_F(StaListTest, KeepsTheFirst500Records) {
  std::string text;
  for (int i = 0; i < 600; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "STA: *%d*\"S%03d\"*1.0*\"c\"*\"d\"*\n", i * 30, i % 1000);
    text += line;
  }
  ASSERT_EQ(Read(text), kMaxStaRecords);
  EXPECT_DOUBLE_EQ(table_[499].StaTime, 499 * 30.0);
  EXPECT_STREQ(table_[499].StaName, "S499");
  EXPECT_STREQ(table_[0].StaComment1, "c");
}

TEST_F(StaListTest, OverlongWordsAndTextsAreCut) {
  std::string long_comment(150, 'c');
  std::string long_word(111, 'w');  // "STA:" right after it is not a word of its own
  int n = Read("STA: *10*\"AB\"*1.5*\"" + long_comment + "\"*\"never\"*\n" +
               long_word + "STA: *11*\"XX\"*\n"  // rest of an overlong word's line dropped
               "STA: *12*\"CD\"*\n");
  ASSERT_EQ(n, 2);
  EXPECT_STREQ(table_[0].StaName, "AB");
  // The record text is cut at 111 characters: " *10*"AB"*1.5*"" takes 15,
  // the rest is the comment field, which then runs to the end of the text.
  EXPECT_EQ(std::string(table_[0].StaComment1), std::string(111 - 15 - 1, 'c'));
  EXPECT_STREQ(table_[0].StaComment2, "");
  EXPECT_DOUBLE_EQ(table_[1].StaTime, 12.0);
}

TEST(StaLineTest, FieldRules) {
  StaRecord r = Parse(" *3600*\"MT01\"*");  // three asterisks only
  EXPECT_DOUBLE_EQ(r.StaTime, 3600.0);
  EXPECT_STREQ(r.StaName, "MT01");
  EXPECT_EQ(r.StaHeight, 0.0);

  r = Parse(" *3600*\"MT01\"*1.25");  // no 4th asterisk: no height
  EXPECT_EQ(r.StaHeight, 0.0);

  r = Parse("ignored *  42.5xyz*\"A\"*1.25*\"x\"*\"second\"*");
  EXPECT_DOUBLE_EQ(r.StaTime, 42.5);
  EXPECT_STREQ(r.StaName, "A");
  EXPECT_DOUBLE_EQ(r.StaHeight, 1.25);
  EXPECT_STREQ(r.StaComment1, "x");
  EXPECT_STREQ(r.StaComment2, "second");

  r = Parse("*1*\"A\"*2*\"\"*\"second\"*");  // first comment of two characters
  EXPECT_STREQ(r.StaComment1, "");
  EXPECT_STREQ(r.StaComment2, "second");

  r = Parse("*1*\"A\"*2*x*\"second\"*");  // one character empties both
  EXPECT_STREQ(r.StaComment1, "");
  EXPECT_STREQ(r.StaComment2, "");
  r = Parse("*1*\"A\"*2**\"second\"*");
  EXPECT_STREQ(r.StaComment2, "");

  r = Parse("*1*\"\"*2*\"one\"");  // missing closing asterisk: field runs to the end
  EXPECT_STREQ(r.StaName, "");
  EXPECT_STREQ(r.StaComment1, "one");
  EXPECT_STREQ(r.StaComment2, "");

  r = Parse("*1*\"AB\"*2*\"one\"*\"two");
  EXPECT_STREQ(r.StaComment2, "tw");

  r = Parse("no asterisks at all");
  EXPECT_EQ(r.StaTime, 0.0);
  EXPECT_STREQ(r.StaName, "");

  r = Parse("*x*\"LONGNAME\"*");
  EXPECT_EQ(r.StaTime, 0.0);
  EXPECT_STREQ(r.StaName, "LONG");

  std::string long_text = "*1*\"A\"*2*\"" + std::string(300, 'k') + "\"*";
  r = Parse(long_text.c_str());
  EXPECT_EQ(std::string(r.StaComment1), std::string(127, 'k'));
}

}  // namespace
}  // namespace rawconv
