// The station table: RFC 4180 CSV keyed by marker, with the columns of the
// header options and validity periods; every fault named by file, line and
// column.
#include <gtest/gtest.h>

#include <string>

#include "meta/sitelog.h"
#include "meta/station_csv.h"

namespace rawconv {
namespace meta {
namespace {

int64_t At(const char* text) {
  int64_t t = 0;
  EXPECT_TRUE(ParseLogTime(text, &t)) << text;
  return t;
}

// The table's error, "" when it reads.
std::string Error(const std::string& text, StationTable* table = nullptr) {
  StationTable local;
  std::string error;
  return ParseStationTable(text, "net.csv", StationTextLimits(), table ? table : &local, &error)
             ? std::string()
             : error;
}

TEST(StationTableTest, ColumnsQuotingAndLineEnds) {
  const std::string text =
      "\xEF\xBB\xBF"
      "Marker,Receiver-Type,antenna_type,ANTENNA_DELTA,position,observer,agency,from\r\n"
      "# the first station\r\n"
      "abcd,\"SEPT, POLARX5\",\"TRM57971.00     NONE\",\"1.5,0,0\",\"1,2,3\",ME,\"Big \"\"Net\"\"\",\r\n"
      "\r\n"
      "EFGH00DNK,,,,,,,2020-01-01\n";
  StationTable table;
  ASSERT_EQ("", Error(text, &table));
  ASSERT_EQ(2u, table.Rows.size());
  const StationRow& a = table.Rows[0];
  EXPECT_EQ(3, a.Line);
  EXPECT_EQ("abcd", a.Marker);
  EXPECT_EQ("SEPT, POLARX5", a.ReceiverType);
  EXPECT_EQ("TRM57971.00     NONE", a.AntennaType);
  ASSERT_TRUE(a.HasAntennaDelta);
  EXPECT_DOUBLE_EQ(1.5, a.AntennaDelta[0]);
  ASSERT_TRUE(a.HasPosition);
  EXPECT_DOUBLE_EQ(3.0, a.Position[2]);
  EXPECT_EQ("Big \"Net\"", a.Agency);
  EXPECT_EQ(INT64_MIN, a.From);
  const StationRow& b = table.Rows[1];
  EXPECT_EQ(5, b.Line);
  EXPECT_TRUE(b.ReceiverType.empty());
  EXPECT_FALSE(b.HasPosition);
  EXPECT_EQ(At("2020-01-01"), b.From);
  // A quoted cell may hold a line end, which no header text takes.
  EXPECT_EQ("Station table net.csv line 2 column observer: not printable ASCII (byte 0x0a at 4)",
            Error("marker,observer,antenna_height\n\"abcd\",\"two\nlines\",1\n"));
}

TEST(StationTableTest, RowsFoundByMarkerAndTime) {
  StationTable table;
  ASSERT_EQ("", Error("marker,position_x,position_y,position_z,from,to\n"
                      "ABCD,1,2,3,,2020-06-01 12:00\n"
                      "abcd,4,5,6,2020-06-01T12:00Z,\n"
                      "EFGH00DNK,7,8,9,,\n"
                      "IJKL,,,,,\n",
                      &table));
  bool has = false;
  const StationRow* row = FindStationRow(table, "abcd00dnk", At("2020-06-01T11:59Z"), &has);
  ASSERT_NE(nullptr, row);
  EXPECT_DOUBLE_EQ(1.0, row->Position[0]);
  row = FindStationRow(table, "ABCD", At("2020-06-01T12:00Z"), &has);
  ASSERT_NE(nullptr, row);
  EXPECT_DOUBLE_EQ(4.0, row->Position[0]);
  EXPECT_NE(nullptr, FindStationRow(table, "efgh", At("2001-01-01"), &has));
  EXPECT_EQ(nullptr, FindStationRow(table, "EFGH01DNK", At("2001-01-01"), &has));
  EXPECT_FALSE(has);
  EXPECT_FALSE(FindStationRow(table, "IJKL", At("2001-01-01"), &has)->HasPosition);
  EXPECT_EQ(nullptr, FindStationRow(table, "MNOP", At("2001-01-01"), &has));
  EXPECT_FALSE(has);
  StationTable bounded;
  ASSERT_EQ("", Error("marker,to\nABCD,2000-01-01\n", &bounded));
  EXPECT_EQ(nullptr, FindStationRow(bounded, "ABCD", At("2001-01-01"), &has));
  EXPECT_TRUE(has);
}

TEST(StationTableTest, FaultsNameFileLineAndColumn) {
  EXPECT_EQ("Station table net.csv line 1 column 2: unknown column 'antena_type'",
            Error("marker,antena_type\nABCD,x\n"));
  EXPECT_EQ("Station table net.csv line 1: no column 'marker'", Error("observer\nME\n"));
  EXPECT_EQ("Station table net.csv line 1 column 3: column 'observer' appears twice",
            Error("marker,observer,Observer\n"));
  EXPECT_EQ("Station table net.csv line 3 column antenna_height: '1.2.3' is not a number that fits F14.4",
            Error("marker,antenna_height\nABCD,1\nEFGH,1.2.3\n"));
  EXPECT_EQ("Station table net.csv line 2 column antenna_height: the height is negative",
            Error("marker,antenna_height\nABCD,-1\n"));
  EXPECT_EQ("Station table net.csv line 2 column receiver_type: 'A RECEIVER NAME TOO LONG' is "
            "longer than 20 characters",
            Error("marker,receiver_type\nABCD,A RECEIVER NAME TOO LONG\n"));
  EXPECT_EQ("Station table net.csv line 2 column observer: not printable ASCII (byte 0xc3 at 2)",
            Error("marker,observer\nABCD,J\xC3\xB8rn\n"));
  EXPECT_EQ("Station table net.csv line 2 column antenna_delta: '1,2' is not three numbers "
            "separated by commas",
            Error("marker,antenna_delta\nABCD,\"1,2\"\n"));
  EXPECT_EQ("Station table net.csv line 2: 3 cells, the header has 2",
            Error("marker,observer\nABCD,a,b\n"));
  EXPECT_EQ("Station table net.csv line 2 column marker: 'ABC' is not a 4- or 9-character station ID",
            Error("marker,observer\nABC,a\n"));
  EXPECT_EQ("Station table net.csv line 2 column marker: no marker", Error("marker,observer\n,a\n"));
  EXPECT_EQ("Station table net.csv line 2 column from: '2020-02-30' is not a date (YYYY-MM-DD or "
            "YYYY-MM-DD hh:mm)",
            Error("marker,from\nABCD,2020-02-30\n"));
  EXPECT_EQ("Station table net.csv line 2 column to: the period ends before it begins",
            Error("marker,from,to\nABCD,2020-02-02,2020-02-01\n"));
  EXPECT_EQ("Station table net.csv line 2 column position_x: give position_x, position_y and "
            "position_z together",
            Error("marker,position_x,position_y\nABCD,1,2\n"));
  EXPECT_EQ("Station table net.csv line 1: give the column 'position' or 'position_x/y/z', not both",
            Error("marker,position,position_x\n"));
  EXPECT_EQ("Station table net.csv line 2: a quote is not closed", Error("marker,observer\nABCD,\"a\n"));
  EXPECT_EQ("Station table net.csv is empty: it needs a header row", Error(""));
  // Rows of one station whose periods overlap, by both lines.
  EXPECT_EQ("Station table net.csv lines 2 and 4: the periods of station ABCD overlap",
            Error("marker,from,to\nABCD,,2020-06-01\nEFGH,,\nabcd,2020-05-31,\n"));
  EXPECT_EQ("Station table net.csv lines 2 and 3: the periods of station ABCD00DNK overlap",
            Error("marker,from\nABCD,\nABCD00DNK,2021-01-01\n"));
  EXPECT_EQ("", Error("marker,from\nABCD00DNK,\nABCD01DNK,\n"));
}

}  // namespace
}  // namespace meta
}  // namespace rawconv
