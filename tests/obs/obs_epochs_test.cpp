// Epoch records of the observation file, compared byte for byte: satellite
// lists, value lines, kinematic events and station blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <unistd.h>

#include "obs/obs_writer.h"
#include "obs/rinex_format.h"
#include "obs_test_util.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace obstest {
namespace {

using gpbtest::GpbFileBuilder;
using gpbtest::MakeEpoch;

// 28 blanks, the flag 3 and a count: an event line without a date.
std::string EventLine(int count) {
  return std::string(28, ' ') + "3" + (count < 10 ? "  " : " ") + std::to_string(count) + "\n";
}

std::string EpochLine(const std::string& date_and_counts, const std::string& sats) {
  return date_and_counts + Pad(sats, 36) + "\n";
}

const std::string kEndEvent = EventLine(3) + HeaderLine("STA", "MARKER NAME") +
                              HeaderLine("", "ANTENNA: DELTA H/E/N") +
                              HeaderLine("*** END OF KINEMATIC DATA ***", "COMMENT");

class ObsEpochsTest : public ObsFileTest {
 protected:
  // A file of epochs 30 s apart from kT0, each with the given channels and
  // Flags; new format with L2 blocks.
  void WriteEpochs(const std::vector<std::vector<GpbChannel>>& epochs,
                   const std::vector<int16_t>& flags) {
    GpbFileBuilder b = GpbFileBuilder::New(6, "");
    for (size_t i = 0; i < epochs.size(); ++i) {
      GpbEpoch e = MakeEpoch(kT0 + 30.0 * static_cast<double>(i));
      e.Flags = flags[i];
      b.AddEpoch(e, epochs[i].data(), static_cast<int>(epochs[i].size()), true);
    }
    WriteGpb(b);
  }
};

// Six types give five values then one; phases change sign, an absent value
// is 0.000 (never -0.000), the lock bit with lock time 0 gives the loss-of-
// lock digit; a satellite numbered 40 is R40. S1 is not written in 2.0.
TEST_F(ObsEpochsTest, ValueLinesAndSatelliteNames) {
  GpbChannel a = MakeChannel(5, 21000000.123, 110000000.25, 85000000.5, 21000001.5, 21000002.25,
                             -1234.5, 45.25, 0, /*lock1=*/0.0, /*lock2=*/10.0);
  GpbChannel b = MakeChannel(40, 19000000.0, -5.5, 0, 0, 0, 0, 0, 0, 3.0);
  GpbChannel c = MakeChannel(7, 0, 0, 0, 0, 0, 0);  // nothing but lock bits: no types
  WriteEpochs({{a, b}, {b, c}}, {1, 1});
  const std::string body = Body(Convert(RINEX_VERSION_2_0));
  const std::string expected =
      EpochLine(" 05 10 27  0  0  0.0000000  0  2", "G 5R40") +
      "  21000000.123  -110000000.2501  -85000000.500    21000001.500    21000002.250  \n"
      "     -1234.500  \n"
      "  19000000.000           5.500           0.000           0.000           0.000  \n"
      "         0.000  \n" +
      EpochLine(" 05 10 27  0  0 30.0000000  0  2", "R40G 7") +
      "  19000000.000           5.500           0.000           0.000           0.000  \n"
      "         0.000  \n"
      "         0.000           0.000           0.000           0.000           0.000  \n"
      "         0.000  \n";
  EXPECT_EQ(body, expected);
  EXPECT_EQ(epochs_result_, 0);
}

// 14 satellites: 12 on the epoch line (68 columns), the rest on a
// continuation line from column 33. Five 2.1 types fill one 80-column line.
// An epoch without channels writes 36 blanks.
TEST_F(ObsEpochsTest, ContinuationLineAndFullValueLine) {
  std::vector<GpbChannel> sats;
  for (int prn = 1; prn <= 14; ++prn)
    sats.push_back(MakeChannel(prn == 13 ? 45 : prn, 20000000.0 + prn, 100000000.0, 0, 0, 0,
                               -500.25, 40.5, 30.75));
  WriteEpochs({sats, {}}, {1, 1});
  const std::string body = Body(Convert(RINEX_VERSION_2_1));
  const std::string line1 =
      EpochLine(" 05 10 27  0  0  0.0000000  0 14", "G 1G 2G 3G 4G 5G 6G 7G 8G 9G10G11G12");
  const std::string line2 = EpochLine(std::string(32, ' '), "R45G14");
  ASSERT_EQ(body.substr(0, line1.size() + line2.size()), line1 + line2);
  EXPECT_EQ(line1.size(), 69u);
  const std::string values =
      "  20000001.000  -100000000.000        -500.250          40.500          30.750  \n";
  EXPECT_EQ(values.size(), 81u);
  EXPECT_EQ(body.substr(line1.size() + line2.size(), values.size()), values);
  const std::string empty = EpochLine(" 05 10 27  0  0 30.0000000  0  0", "");
  EXPECT_EQ(body.substr(body.size() - empty.size()), empty);
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 2 + 14 + 1);
}

// Kinematic from the first epoch on: no START event; clearing with a
// satellite tracked across gives one END event (flag 3, no date) before the
// epoch line. Clearing with the lock time restarted gives no event; a later
// START with continuity gives the dated event and then an ordinary epoch of
// the same time.
TEST_F(ObsEpochsTest, KinematicEvents) {
  auto sat = [](int prn, double lock) { return MakeChannel(prn, 21000000.0, 0, 0, 0, 0, 0, 0, 0, lock); };
  WriteEpochs({{sat(5, 1)}, {sat(5, 2)}, {sat(5, 3), sat(6, 1)}, {sat(5, 4)}, {sat(5, 5)},
               {sat(5, 0)}, {sat(5, 1)}, {sat(5, 2)}},
              {3, 3, 1, 1, 3, 1, 1, 3});
  const std::string body = Body(Convert(RINEX_VERSION_2_0));
  const std::string c1 = "  21000000.000  \n";
  const std::string start = " 05 10 27  0  2  0.0000000  2  1\n" +
                            HeaderLine("*** START OF KINEMATIC DATA ***", "COMMENT");
  const std::string expected =
      EpochLine(" 05 10 27  0  0  0.0000000  0  1", "G 5") + c1 +
      EpochLine(" 05 10 27  0  0 30.0000000  0  1", "G 5") + c1 + kEndEvent +
      EpochLine(" 05 10 27  0  1  0.0000000  0  2", "G 5G 6") + c1 + c1 +
      EpochLine(" 05 10 27  0  1 30.0000000  0  1", "G 5") + c1 + start +
      EpochLine(" 05 10 27  0  2  0.0000000  0  1", "G 5") + c1 +
      // lock lost at the change back to static: no END event
      EpochLine(" 05 10 27  0  2 30.0000000  0  1", "G 5") + c1 +
      EpochLine(" 05 10 27  0  3  0.0000000  0  1", "G 5") + c1 +
      // kinematic again while tracked: START
      " 05 10 27  0  3 30.0000000  2  1\n" +
      HeaderLine("*** START OF KINEMATIC DATA ***", "COMMENT") +
      EpochLine(" 05 10 27  0  3 30.0000000  0  1", "G 5") + c1;
  EXPECT_EQ(body, expected);
}

class ObsStationTest : public ObsEpochsTest {
 protected:
  void WriteThreeEpochs() {
    GpbChannel s = MakeChannel(5, 21000000.0, 0);
    WriteEpochs({{s}, {s}, {s}}, {1, 1, 1});
  }
  static std::string Block(const std::string& name, const std::string& height,
                           const std::string& c1, const std::string& c2) {
    return EventLine(4) + HeaderLine(name, "MARKER NAME") +
           HeaderLine(height + "        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
           HeaderLine(c1, "COMMENT") + HeaderLine(c2, "COMMENT");
  }
  static std::string Epoch(int i) {
    return EpochLine(std::string(" 05 10 27  0  ") + (i == 2 ? "1  0" : i == 1 ? "0 30" : "0  0") +
                         ".0000000  0  1",
                     "G 5") +
           "  21000000.000  \n";
  }
};

// A "$STAINFO" record at the second epoch's time gives one block before that
// epoch; a record between epochs gives none; of two records of the same time
// the first counts.
TEST_F(ObsStationTest, BlockLayoutRecords) {
  WriteThreeEpochs();
  WriteText(StationPath(),
            "$STAINFO test\n"
            "sta {\n  ID: \"BASE 1\"\n  Desc: \"first site\"\n  Rem: calm\n"
            "  GTim: 345630 1346\n  Hi: 1.523\n}\n"
            "sta {\n  ID: OTHER\n  GTim: 345630 1346\n  Hi: 9.0\n}\n"
            "mrk {\n  Event: between\n  GTim: 345645.5 1346\n}\n");
  const std::string body = Body(Convert(RINEX_VERSION_2_1));
  EXPECT_EQ(body, Epoch(0) + Block("BASE_1", "        1.5230", "first site", "calm") + Epoch(1) +
                      Epoch(2));
}

// A "STA:" list: the record at the second epoch's time gives a block there
// (the one a quarter second after the first epoch none); a kinematic START
// at the same epoch follows the station block.
TEST_F(ObsStationTest, ListLayoutAndOrderWithKinematicEvent) {
  GpbChannel s1 = MakeChannel(5, 21000000.0, 0, 0, 0, 0, 0, 0, 0, 1.0);
  GpbChannel s2 = MakeChannel(5, 21000000.0, 0, 0, 0, 0, 0, 0, 0, 2.0);
  WriteEpochs({{s1}, {s2}}, {1, 3});
  WriteText(StationPath(),
            "STA: *345630.0*\"MT01\"*2.5*\"first comment\"*\"second\"*\n"
            "STA: *345600.25*\"XX\"*1.0*\"c\"*\"d\"*\n");
  const std::string body = Body(Convert(RINEX_VERSION_2_1));
  const std::string expected =
      Epoch(0) + Block("MT01", "        2.5000", "first comment", "second") +
      " 05 10 27  0  0 30.0000000  2  1\n" +
      HeaderLine("*** START OF KINEMATIC DATA ***", "COMMENT") + Epoch(1);
  EXPECT_EQ(body, expected);
}

// Without a station file no block is written and the error text stays as it
// was; a "$STAINFO" file without usable records leaves its message but the
// epochs are written all the same.
TEST_F(ObsStationTest, MissingOrEmptyStationFile) {
  WriteThreeEpochs();
  std::snprintf(Ctx().ErrorText, sizeof Ctx().ErrorText, "untouched");
  EXPECT_EQ(Body(Convert(RINEX_VERSION_2_1)), Epoch(0) + Epoch(1) + Epoch(2));
  EXPECT_STREQ(Ctx().ErrorText, "untouched");

  WriteText(StationPath(), "$STAINFO\nsta {\n  Desc: no id and no time\n}\n");
  EXPECT_EQ(Body(Convert(RINEX_VERSION_2_1)), Epoch(0) + Epoch(1) + Epoch(2));
  EXPECT_EQ(epochs_result_, 0);
}

// Output helpers: numeric fields go through the one formatter; texts of any
// length are written whole through the buffer.
TEST(RinexFormatTest, FixedFieldsAndLongTexts) {
  char field[kFixedFieldMax];
  EXPECT_EQ(FormatFixed(-0.5, kFmtObsValue, field, sizeof field), 14u);
  EXPECT_STREQ(field, "        -0.500");
  EXPECT_EQ(FormatFixed(1e300, kFmtFirstObsSec21, field, sizeof field), 309u);
  EXPECT_EQ(FormatFixed(2.1, kFmtVersion21, field, 4), 3u);  // cut to the room
  EXPECT_STREQ(field, "   ");

  const std::string path = testing::TempDir() + "obs_rinex_buffer_" + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  RinexBuffer* out = new RinexBuffer;
  RinexBufferInit(out, f);
  const std::string big(kRinexBufferSize + 123, 'x');
  AppendText(out, "a");
  AppendLeft(out, big.c_str(), 10);
  AppendRight(out, "b", 3);
  AppendInt(out, -42, 5);
  AppendFixed(out, 1.0, kFmtInterval20);
  AppendLabel(out, "INTERVAL");
  RinexFlush(out);
  delete out;
  std::fclose(f);
  EXPECT_EQ(ReadText(path), "a" + big + "  b  -42     1INTERVAL            \n");
  std::remove(path.c_str());

  // A huge C1 is written whole; other values are cut to 14 columns.
  ObsHeaderSummary summary{};
  summary.HasC1 = summary.HasP1 = 1;
  GpbChannel c = MakeChannel(1, 1e20, 0, 0, 123456789012345.0);
  RinexBuffer* values = new RinexBuffer;
  RinexBufferInit(values, static_cast<std::FILE*>(nullptr));
  WriteObsValues(c, values, summary, RINEX_VERSION_2_1);
  EXPECT_EQ(std::string(values->Data, values->Length),
            "100000000000000000000.000  12345678901234  \n");
  delete values;
}

}  // namespace
}  // namespace obstest
}  // namespace rawconv
