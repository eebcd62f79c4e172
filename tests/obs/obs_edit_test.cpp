// Editing while converting, on synthetic GPB data through both writers: the
// time window and decimation, excluded satellites and systems, kept types,
// events of dropped epochs, the user's header lines and the full header.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "obs/header_metadata.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs_test_util.h"
#include "select/selection.h"
#include "sink/sink.h"
#include "support/gpb_builder.h"
#include "support/rinex_obs.h"

namespace rawconv {
namespace obstest {
namespace {

using gpbtest::GpbFileBuilder;
using gpbtest::MakeEpoch;

constexpr int kRinex3 = 304;  // the version argument of Convert below for 3.04

double GpsAt(double seconds_after_t0) { return GpsSeconds(kWeek, kT0 + seconds_after_t0); }

// Epoch lines of a RINEX 2 body (' yy mm ...') or RINEX 3 ('> yyyy ...').
std::vector<std::string> EpochLines(const std::string& body) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(body)) {
    if (line.size() >= 32 && (line[0] == '>' || (line[0] == ' ' && line[1] != ' ')))
      found.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  return found;
}

class ObsEditTest : public ObsFileTest {
 protected:
  // Epochs `step` s apart from kT0 (plus offsets[i] when given), each with
  // the same channels.
  void WriteSeries(int count, double step, const std::vector<GpbChannel>& channels,
                   const std::vector<double>& offsets = {}, int16_t flags = 1) {
    GpbFileBuilder b = GpbFileBuilder::New(6, "");
    for (int i = 0; i < count; ++i) {
      const double off = i < static_cast<int>(offsets.size()) ? offsets[i] : 0.0;
      GpbEpoch e = MakeEpoch(kT0 + step * i + off);
      e.Flags = flags;
      std::vector<GpbChannel> c = channels;
      for (GpbChannel& ch : c) ch.C1 += i;  // values tell the epochs apart
      b.AddEpoch(e, c.data(), static_cast<int>(c.size()), true);
    }
    WriteGpb(b);
  }

  // Pre-scan with the edits, header and epochs; version RINEX_VERSION_2_0,
  // RINEX_VERSION_2_1 or kRinex3. The whole file.
  std::string ConvertEdited(int version, const ObsEdits* edits) {
    const WeekReference ref = TestReference();
    if (edits != nullptr) {
      ScanObsSummary(request_, &summary_, ref, *edits);
    } else {
      ScanObsSummary(request_, &summary_);
    }
    std::FILE* out = std::fopen(request_.ObsFile.c_str(), "w");
    if (out == nullptr) return "";
    StdioSink sink(out);
    if (version == kRinex3) {
      header_result_ = WriteObs3Header(sink, request_, summary_, 304, ref, edits);
      epochs_result_ = WriteObs3Epochs(sink, request_, summary_, 304, ref, edits);
    } else {
      header_result_ = WriteObsHeader(sink, request_, summary_, version, ref, edits);
      epochs_result_ = WriteObsEpochs(sink, request_, summary_, version, ref, edits);
    }
    sink.Finish();
    std::fclose(out);
    return ReadText(request_.ObsFile);
  }

  std::vector<GpbChannel> TwoGpsOneGlonass() const {
    return {MakeChannel(5, 21000000.5, 110000000.25, 85000000.5, 0, 21000002.25, -1234.5, 45.0),
            MakeChannel(12, 22000000.5, 120000000.25, 0, 0, 22000002.25, 0, 40.0),
            MakeChannel(40, 19000000.5, 100000000.25, 0, 0, 0, 0, 38.0)};
  }
};

// A zero selection, zero metadata and no full header write the same bytes
// as no edits at all, in every version.
TEST_F(ObsEditTest, ZeroEditsChangeNothing) {
  WriteSeries(5, 30.0, TwoGpsOneGlonass());
  Selection none{};
  HeaderMetadata blank{};
  const ObsEdits edits{&none, &blank, 0, 0, 0};
  for (int version : {int{RINEX_VERSION_2_0}, int{RINEX_VERSION_2_1}, kRinex3}) {
    const std::string plain = ConvertEdited(version, nullptr);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(ConvertEdited(version, &edits), plain) << version;
  }
}

// 1 s data with the receiver clock a little off whole seconds, cut to
// [00:00:30, 00:02:00) and decimated to 30 s: three epochs, INTERVAL and
// TIME OF FIRST OBS of the kept epochs, in both versions.
TEST_F(ObsEditTest, WindowAndDecimation) {
  std::vector<double> offsets(200, 0.0);
  offsets[30] = -0.011;  // 00:00:29.989 still counts as 00:00:30
  offsets[60] = 0.004;
  offsets[90] = 0.004;  // the interval is measured on the kept epochs
  offsets[31] = 0.020;   // off-interval epochs stay off
  WriteSeries(200, 1.0, {MakeChannel(5, 21000000.5, 110000000.25)}, offsets);
  Selection s{};
  s.HasFrom = 1;
  s.From = GpsAt(30.0);
  s.HasTo = 1;
  s.To = GpsAt(120.0);
  s.Interval = 30.0;
  const ObsEdits edits{&s, nullptr, 0, 0, 0};

  const std::string v2 = ConvertEdited(RINEX_VERSION_2_1, &edits);
  EXPECT_EQ(EpochLines(Body(v2)),
            (std::vector<std::string>{" 05 10 27  0  0 29.9890000  0  1G 5",
                                      " 05 10 27  0  1  0.0040000  0  1G 5",
                                      " 05 10 27  0  1 30.0040000  0  1G 5"}));
  EXPECT_EQ(LabelLines(v2, "INTERVAL"), std::vector<std::string>{Pad("    30.000", 60)});
  EXPECT_EQ(LabelLines(v2, "TIME OF FIRST OBS"),
            std::vector<std::string>{Pad("  2005    10    27     0     0   29.9890000", 60)});
  EXPECT_NE(Body(v2).find("  21000030.500"), std::string::npos);  // epoch 30's own values
  EXPECT_EQ(summary_.EpochCount, 3);

  const std::string v3 = ConvertEdited(kRinex3, &edits);
  EXPECT_EQ(EpochLines(Body(v3)),
            (std::vector<std::string>{"> 2005 10 27 00 00 29.9890000  0  1",
                                      "> 2005 10 27 00 01  0.0040000  0  1",
                                      "> 2005 10 27 00 01 30.0040000  0  1"}));
  EXPECT_EQ(LabelLines(v3, "TIME OF LAST OBS"),
            std::vector<std::string>{
                Pad("  2005    10    27     0     1   30.0040000     GPS", 60)});
}

// An end at the first epoch's time leaves nothing; a start past the end of
// the data too. The header then says so (0 epochs) and no epoch follows.
TEST_F(ObsEditTest, WindowOutsideTheData) {
  WriteSeries(4, 30.0, {MakeChannel(5, 21000000.5, 110000000.25)});
  Selection s{};
  s.HasTo = 1;
  s.To = GpsAt(0.0);
  const ObsEdits edits{&s, nullptr, 0, 0, 0};
  EXPECT_TRUE(EpochLines(Body(ConvertEdited(RINEX_VERSION_2_1, &edits))).empty());
  EXPECT_EQ(summary_.EpochCount, 0);
  s = Selection{};
  s.HasFrom = 1;
  s.From = GpsAt(120.0);
  EXPECT_TRUE(EpochLines(Body(ConvertEdited(kRinex3, &edits))).empty());
}

// G12 and every GLONASS satellite excluded, C1 and P2 kept: the satellite
// lists, the type lists and the value lines show only what is kept; an epoch
// left with no satellite is dropped, and the interval is that of the epochs
// kept.
TEST_F(ObsEditTest, ExcludedSatellitesAndKeptTypes) {
  const std::vector<GpbChannel> all = TwoGpsOneGlonass();
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  for (int i = 0; i < 4; ++i) {
    GpbEpoch e = MakeEpoch(kT0 + 30.0 * i);
    // Epoch 1 holds only satellites that are excluded.
    std::vector<GpbChannel> c = i == 1 ? std::vector<GpbChannel>{all[1], all[2]} : all;
    b.AddEpoch(e, c.data(), static_cast<int>(c.size()), true);
  }
  WriteGpb(b);
  Selection s{};
  ASSERT_TRUE(ParseExclusions("R, G12", &s).Ok);
  ASSERT_TRUE(ParseObsTypes("P2,C1", &s.KeptTypes).Ok);
  const ObsEdits edits{&s, nullptr, 0, 0, 0};

  const std::string v2 = ConvertEdited(RINEX_VERSION_2_1, &edits);
  EXPECT_EQ(LabelLines(v2, "# / TYPES OF OBSERV"),
            std::vector<std::string>{Pad("     2    C1    P2", 60)});
  EXPECT_EQ(LabelLines(v2, "INTERVAL"), std::vector<std::string>{Pad("    30.000", 60)});
  const std::string body2 = Body(v2);
  EXPECT_EQ(EpochLines(body2), (std::vector<std::string>{" 05 10 27  0  0  0.0000000  0  1G 5",
                                                         " 05 10 27  0  1  0.0000000  0  1G 5",
                                                         " 05 10 27  0  1 30.0000000  0  1G 5"}));
  EXPECT_NE(body2.find("  21000000.500    21000002.250  \n"), std::string::npos);
  EXPECT_EQ(summary_.PresentTypes, 0xFFu & ~(1u << 3) & ~(1u << 7));  // no P1, no S2
  EXPECT_EQ(summary_.HasGlonass, 0);

  const std::string v3 = ConvertEdited(kRinex3, &edits);
  EXPECT_EQ(LabelLines(v3, "SYS / # / OBS TYPES"),
            std::vector<std::string>{Pad("G    2 C1C C2W", 60)});
  EXPECT_TRUE(LabelLines(v3, "SIGNAL STRENGTH UNIT").empty());
  EXPECT_EQ(v3.find("R08"), std::string::npos);
  EXPECT_NE(Body(v3).find("G05  21000000.500 7  21000002.250  \n"), std::string::npos);
  EXPECT_EQ(EpochLines(Body(v3)).size(), 3u);
}

// Station and kinematic events of dropped epochs go out, in order and with
// the date of the next kept epoch, just before it; events on kept epochs
// stay where they are.
TEST_F(ObsEditTest, EventsOfDroppedEpochsGoWithTheNextKeptEpoch) {
  // Kinematic from epoch 2 (00:00:20) on, with the satellite tracked across.
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  for (int i = 0; i < 7; ++i) {
    GpbEpoch e = MakeEpoch(kT0 + 10.0 * i);
    e.Flags = i >= 2 ? (kEpochPositionValid | kEpochKinematic) : kEpochPositionValid;
    GpbChannel c = MakeChannel(5, 21000000.5 + i, 110000000.25, 0, 0, 0, 0, 0, 0, 10.0 + i);
    b.AddEpoch(e, &c, 1, true);
  }
  WriteGpb(b);
  // A new site at 00:00:10 (dropped) and at 00:00:30 (kept).
  WriteText(StationPath(),
            "STA: *345610.0*\"AAAA\"*1.0*\"one\"*\"a\"*\n"
            "STA: *345630.0*\"BBBB\"*2.0*\"two\"*\"b\"*\n");
  Selection s{};
  s.Interval = 30.0;
  const ObsEdits edits{&s, nullptr, 0, 0, 0};

  const std::string body2 = Body(ConvertEdited(RINEX_VERSION_2_1, &edits));
  const std::string station_a = std::string(28, ' ') + "3  4\n" +
                                HeaderLine("AAAA", "MARKER NAME");
  const std::string start = " 05 10 27  0  0 30.0000000  2  1\n" +
                            HeaderLine("*** START OF KINEMATIC DATA ***", "COMMENT");
  const std::string station_b = std::string(28, ' ') + "3  4\n" +
                                HeaderLine("BBBB", "MARKER NAME");
  const size_t at_a = body2.find(station_a);
  const size_t at_start = body2.find(start);
  const size_t at_b = body2.find(station_b);
  const size_t at_epoch = body2.find(" 05 10 27  0  0 30.0000000  0  1G 5");
  ASSERT_NE(at_a, std::string::npos) << body2;
  ASSERT_NE(at_start, std::string::npos) << body2;
  ASSERT_NE(at_b, std::string::npos) << body2;
  EXPECT_LT(body2.find(" 05 10 27  0  0  0.0000000  0  1G 5"), at_a);
  EXPECT_LT(at_a, at_start);  // dropped events first, in their order
  EXPECT_LT(at_start, at_b);  // then the kept epoch's own
  EXPECT_LT(at_b, at_epoch);
  EXPECT_EQ(EpochLines(body2).size(), 4u);  // 0 s, the event at 30 s, 30 s, 60 s

  const std::string body3 = Body(ConvertEdited(kRinex3, &edits));
  EXPECT_NE(body3.find("> 2005 10 27 00 00 30.0000000  3  4\nAAAA"), std::string::npos)
      << body3;
  EXPECT_NE(body3.find("> 2005 10 27 00 00 30.0000000  2  1\n"), std::string::npos);
}

// Counts a satellite's non-blank, non-zero values per type, from the text of
// a RINEX 2 file (through the test reader) or a RINEX 3 file.
std::map<std::string, std::vector<int>> CountsFromRinex2(const std::string& text) {
  std::map<std::string, std::vector<int>> counts;
  rnxtest::RinexObsFile file;
  std::string error;
  if (!rnxtest::ParseRinexObs(text, &file, &error)) return counts;
  for (const rnxtest::RinexObsEpoch& e : file.Epochs) {
    if (e.IsEvent()) continue;
    for (const rnxtest::RinexSatObs& sat : e.Sats) {
      char name[8];
      std::snprintf(name, sizeof name, "%c%2d", sat.System, sat.Prn);
      std::vector<int>& c = counts[name];
      c.resize(sat.Values.size(), 0);
      for (size_t i = 0; i < sat.Values.size(); ++i)
        c[i] += sat.Values[i].Present && sat.Values[i].Value != 0.0 ? 1 : 0;
    }
  }
  return counts;
}

std::map<std::string, std::vector<int>> CountsFromRinex3(const std::string& text,
                                                         size_t types) {
  std::map<std::string, std::vector<int>> counts;
  const size_t end = text.find("END OF HEADER");
  for (const std::string& line : Lines(end == std::string::npos ? "" : text.substr(end))) {
    if (line.empty() || (line[0] != 'G' && line[0] != 'R')) continue;
    std::vector<int>& c = counts[line.substr(0, 3)];
    c.resize(types, 0);
    for (size_t i = 0; i < types; ++i) {
      const size_t at = 3 + 16 * i;
      if (at + 14 <= line.size() && line.substr(at, 14) != std::string(14, ' ')) ++c[i];
    }
  }
  return counts;
}

// Counts in the header lines: satellite name -> counts.
std::map<std::string, std::vector<int>> CountsFromHeader(const std::string& file,
                                                         size_t name_width) {
  std::map<std::string, std::vector<int>> counts;
  for (const std::string& line : LabelLines(file, "PRN / # OF OBS")) {
    std::vector<int>& c = counts[line.substr(3, name_width)];
    for (size_t at = 6; at + 6 <= line.size(); at += 6) {
      const std::string field = line.substr(at, 6);
      if (field != std::string(6, ' ')) c.push_back(std::stoi(field));
    }
  }
  return counts;
}

// With the full header, TIME OF LAST OBS, # OF SATELLITES and PRN / # OF OBS
// agree with the epochs written, with and without a selection, in both
// versions. Values that are zero (not observed) do not count.
TEST_F(ObsEditTest, FullHeaderCountsMatchTheWrittenFile) {
  std::vector<GpbChannel> c = TwoGpsOneGlonass();
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  for (int i = 0; i < 9; ++i) {
    GpbEpoch e = MakeEpoch(kT0 + 10.0 * i);
    std::vector<GpbChannel> now = c;
    if (i % 3 == 0) now[0].L2 = 0.0;  // missing now and then
    if (i == 4) now.pop_back();
    b.AddEpoch(e, now.data(), static_cast<int>(now.size()), true);
  }
  WriteGpb(b);
  Selection s{};
  s.Interval = 20.0;
  ASSERT_TRUE(ParseObsTypes("C1,L1,L2,S1", &s.KeptTypes).Ok);
  for (const Selection* select : {static_cast<const Selection*>(nullptr),
                                  static_cast<const Selection*>(&s)}) {
    const ObsEdits edits{select, nullptr, 1, 0, 0};
    const std::string v2 = ConvertEdited(RINEX_VERSION_2_1, &edits);
    const auto from_file2 = CountsFromRinex2(v2);
    EXPECT_EQ(CountsFromHeader(v2, 3), from_file2);
    EXPECT_EQ(LabelLines(v2, "# OF SATELLITES"), std::vector<std::string>{Pad("     3", 60)});
    EXPECT_EQ(LabelLines(v2, "TIME OF LAST OBS"),
              std::vector<std::string>{Pad("  2005    10    27     0     1   20.0000000", 60)});
    EXPECT_EQ(from_file2.at("R40")[0], select ? 4 : 8);

    const std::string v3 = ConvertEdited(kRinex3, &edits);
    const std::vector<std::string> list = LabelLines(v3, "SYS / # / OBS TYPES");
    ASSERT_EQ(list.size(), 2u);
    const size_t types = static_cast<size_t>(std::stoi(list[0].substr(3, 3)));
    EXPECT_EQ(types, select ? 4u : 6u);
    EXPECT_EQ(CountsFromHeader(v3, 3), CountsFromRinex3(v3, types));
    EXPECT_EQ(LabelLines(v3, "# OF SATELLITES"), std::vector<std::string>{Pad("     3", 60)});
    EXPECT_EQ(CountsFromHeader(v3, 3).count("R08"), 1u);
  }
}

// The user's header lines, in both versions; the receiver of the GPB file
// stays when no type is given, the position and delta replace those of the
// data and the request.
TEST_F(ObsEditTest, MetadataLines) {
  WriteSeries(3, 30.0, {MakeChannel(5, 21000000.5, 110000000.25)});
  HeaderMetadata m{};
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kMarkerNumber, "10503S012").Ok);
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kReceiverNumber, "4711").Ok);
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kReceiverVersion, "1.2.3").Ok);
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kAntennaNumber, "A-99").Ok);
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kAntennaType, "TRM55971.00     NONE").Ok);
  ASSERT_TRUE(ParseHeaderTriple("4027893.8,307045.6,4919475.1", "position", m.Position).Ok);
  m.HasPosition = 1;
  ASSERT_TRUE(ParseHeaderTriple("1.2345, 0.01,-0.02", "antenna delta", m.AntennaDelta).Ok);
  m.HasAntennaDelta = 1;
  ASSERT_TRUE(AddMetadataComment(&m, "first comment").Ok);
  ASSERT_TRUE(AddMetadataComment(&m, "second").Ok);
  ASSERT_TRUE(ParseMarkerType("Non_Geodetic", m.MarkerType));
  const ObsEdits edits{nullptr, &m, 0, 0, 0};

  for (int version : {int{RINEX_VERSION_2_1}, kRinex3}) {
    const std::string file = ConvertEdited(version, &edits);
    const std::vector<std::string> lines = Lines(file);
    ASSERT_GT(lines.size(), 5u);
    // MARKER TYPE: RINEX 3 only, right after MARKER NUMBER, upper case.
    if (version == kRinex3) {
      const size_t number = file.find("MARKER NUMBER");
      ASSERT_NE(number, std::string::npos);
      EXPECT_EQ(file.substr(number + 21, 81), HeaderLine("NON_GEODETIC", "MARKER TYPE"));
      EXPECT_EQ(file.find("OBSERVER / AGENCY") - file.find("MARKER TYPE"), 81u);
    } else {
      EXPECT_EQ(file.find("MARKER TYPE"), std::string::npos);
    }
    EXPECT_EQ(lines[2] + "\n", HeaderLine("first comment", "COMMENT")) << version;
    EXPECT_EQ(lines[3] + "\n", HeaderLine("second", "COMMENT"));
    EXPECT_EQ(LabelLines(file, "MARKER NUMBER"), std::vector<std::string>{Pad("10503S012", 60)});
    EXPECT_EQ(LabelLines(file, "REC # / TYPE / VERS"),
              std::vector<std::string>{Pad(Pad("4711", 20) + Pad(summary_.ReceiverText, 20).substr(0, 20) + "1.2.3", 60)});
    EXPECT_EQ(LabelLines(file, "ANT # / TYPE"),
              std::vector<std::string>{Pad("A-99                TRM55971.00     NONE", 60)});
    EXPECT_EQ(LabelLines(file, "APPROX POSITION XYZ"),
              std::vector<std::string>{Pad("  4027893.8000   307045.6000  4919475.1000", 60)});
    EXPECT_EQ(LabelLines(file, "ANTENNA: DELTA H/E/N"),
              std::vector<std::string>{Pad("        1.2345        0.0100       -0.0200", 60)});
  }
  ASSERT_TRUE(SetMetadataText(&m, MetadataField::kReceiverType, "TRIMBLE NETR9").Ok);
  EXPECT_EQ(LabelLines(ConvertEdited(RINEX_VERSION_2_0, &edits), "REC # / TYPE / VERS"),
            std::vector<std::string>{Pad("4711                TRIMBLE NETR9       1.2.3", 60)});
}

// Decimated data: INTERVAL is the step, not the gap a steered clock gives
// (120.001), and a multiple of it for data sparser than the step.
TEST_F(ObsEditTest, DecimatedIntervalIsTheStep) {
  std::vector<double> offsets(400, 0.0);
  offsets[120] = 0.001;
  offsets[240] = 0.002;
  WriteSeries(400, 1.0, {MakeChannel(5, 21000000.5, 110000000.25)}, offsets);
  Selection s{};
  s.Interval = 120.0;
  const ObsEdits edits{&s, nullptr, 0, 0, 0};
  EXPECT_EQ(LabelLines(ConvertEdited(RINEX_VERSION_2_1, &edits), "INTERVAL"),
            std::vector<std::string>{Pad("   120.000", 60)});
  EXPECT_EQ(summary_.Interval, 120.0);
  WriteSeries(10, 30.0, {MakeChannel(5, 21000000.5, 110000000.25)}, {0.0, 0.002, 0.003});
  s.Interval = 10.0;
  ConvertEdited(kRinex3, &edits);
  EXPECT_EQ(summary_.Interval, 30.0);
}

// The pre-scan of a split file: one summary per span that holds a kept
// epoch, each describing that span alone; an epoch a steered clock puts
// just before a boundary opens the next span.
TEST_F(ObsEditTest, SpanSummariesDescribeTheirSpansOnly) {
  // 20 s data from 00:00 to 00:39:40; the epoch of 00:15:00 at 00:14:59.990;
  // G12 only from 00:30 on.
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  for (int i = 0; i < 120; ++i) {
    GpbEpoch e = MakeEpoch(kT0 + 20.0 * i + (i == 45 ? -0.010 : 0.0));
    std::vector<GpbChannel> c = {MakeChannel(5, 21000000.5, 110000000.25)};
    if (i >= 90) c.push_back(MakeChannel(12, 22000000.5, 0.0));
    b.AddEpoch(e, c.data(), static_cast<int>(c.size()), true);
  }
  WriteGpb(b);
  Selection s{};
  s.HasTo = 1;
  s.To = GpsAt(40.0 * 60.0);
  const ObsEdits edits{&s, nullptr, 1, 0, 0};
  ObsHeaderSummary whole{};
  std::vector<SpanSummary> spans;
  ASSERT_TRUE(ScanObsSpans(request_, &whole, TestReference(), edits, 900.0, &spans).Ok);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(whole.EpochCount, 120);
  const int counts[3] = {45, 45, 30};
  for (int k = 0; k < 3; ++k) {
    const ObsHeaderSummary& span = spans[k].Summary;
    EXPECT_EQ(spans[k].Start, GpsAt(900.0 * k));
    EXPECT_EQ(span.EpochCount, counts[k]) << k;
    EXPECT_EQ(span.ObsCounts[5][0], counts[k]) << k;
    EXPECT_EQ(span.SatelliteCount, k == 2 ? 2 : 1) << k;
    EXPECT_EQ(span.Interval, 20.0) << k;
    EXPECT_STREQ(span.ReceiverText, whole.ReceiverText);
  }
  EXPECT_EQ(spans[1].Summary.FirstObsTime, kT0 + 900.0 - 0.010);
  EXPECT_EQ(spans[0].Summary.LastObsTime, kT0 + 880.0);
  EXPECT_EQ(spans[2].Summary.HasL2, 0);
  EXPECT_EQ(spans[2].Summary.ObsCounts[12][1], 0);  // no L1 on G12

  // Times that go back across a boundary cannot be written span by span.
  GpbFileBuilder back = GpbFileBuilder::New(6, "");
  for (double t : {0.0, 890.0, 910.0, 880.0}) {
    GpbChannel c = MakeChannel(5, 21000000.5, 110000000.25);
    back.AddEpoch(MakeEpoch(kT0 + t), &c, 1, true);
  }
  WriteGpb(back);
  EXPECT_FALSE(ScanObsSpans(request_, &whole, TestReference(), ObsEdits{}, 900.0, &spans).Ok);
}

// The epoch stream tells a visitor the time of every epoch it writes before
// the events that go out with it, those of dropped epochs included, so that
// a writer switching files by time puts them in the kept epoch's file.
TEST_F(ObsEditTest, KeptEpochTimeComesBeforeItsEvents) {
  GpbFileBuilder b = GpbFileBuilder::New(6, "");
  for (int i = 0; i < 4; ++i) {
    GpbChannel c = MakeChannel(5, 21000000.5, 110000000.25);
    b.AddEpoch(MakeEpoch(kT0 + 30.0 * i), &c, 1, true);
  }
  WriteGpb(b);
  WriteText(StationPath(), "STA: *345630.0*\"AAAA\"*1.0*\"one\"*\"a\"*\n");
  struct Calls final : EpochVisitor {
    void StationBlock(const EpochDate&, const StationEvent&) override { Log += "S"; }
    void KinematicEvent(const EpochDate&, int, int, const char*) override { Log += "K"; }
    void Epoch(const EpochDate&, const GpbEpoch&, const GpbChannel*) override { Log += "E"; }
    void BeginEpoch(int week, double tow) override {
      Log += "B" + std::to_string(week) + ":" + std::to_string(static_cast<int>(tow - kT0));
    }
    std::string Log;
  } calls;
  Selection s{};
  s.Interval = 60.0;
  StreamObsEpochs(request_, TestReference(), calls, &s);
  EXPECT_EQ(calls.Log, "B1346:0EB1346:60SE");
}

}  // namespace
}  // namespace obstest
}  // namespace rawconv
