// The quality reports: figure geometry on its numbers, and the text, JSON
// and HTML of summaries with known content.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "qc/qc.h"
#include "qc/qc_report.h"
#include "qc_json.h"
#include "qc_synthetic.h"

namespace rawconv {
namespace qc {
namespace {

constexpr double kT0 = 1306 * 604800.0 + 345600.0;  // 2005-01-20 00:00:00
const float kNaNf = std::numeric_limits<float>::quiet_NaN();
using qctest::Json;
using qctest::ParseJson;

TEST(QcFigureTest, SkyplotPlacesZenithCentreAndHorizonOnTheRim) {
  struct Case {
    double az, el, x, y;
  } cases[] = {
      {0, 90, 200, 200},   {123, 90, 200, 200},  {0, 0, 200, 100},     {90, 0, 300, 200},
      {180, 0, 200, 300},  {270, 0, 100, 200},   {180, 45, 200, 250},  {90, 60, 200 + 100.0 / 3, 200},
      {45, 0, 200 + 100 * std::sqrt(0.5), 200 - 100 * std::sqrt(0.5)},
  };
  for (const Case& c : cases) {
    const SvgPoint p = SkyplotPoint(c.az, c.el, 200, 200, 100);
    EXPECT_NEAR(p.X, c.x, 1e-9) << c.az << " " << c.el;
    EXPECT_NEAR(p.Y, c.y, 1e-9) << c.az << " " << c.el;
  }
}

TEST(QcFigureTest, ScalesAndColours) {
  EXPECT_DOUBLE_EQ(ScaleLinear(45, 0, 90, 55, 865), 460);
  EXPECT_DOUBLE_EQ(ScaleLinear(20, 20, 60, 285, 12), 285);  // y axes run upwards
  EXPECT_DOUBLE_EQ(ScaleLinear(7, 3, 3, 10, 20), 10);
  EXPECT_EQ(SignalColour(kWeakSignal), "#0000ff");
  EXPECT_EQ(SignalColour(10.0), "#0000ff");
  EXPECT_EQ(SignalColour((kWeakSignal + kStrongSignal) / 2), "#00ff00");
  EXPECT_EQ(SignalColour(kStrongSignal), "#ff0000");
  EXPECT_EQ(SignalColour(70.0), "#ff0000");
  EXPECT_EQ(SignalColour(std::nan("")), "#999999");
}

TEST(QcFigureTest, NamesAndTimes) {
  EXPECT_EQ(SatelliteName(5), "G05");
  EXPECT_EQ(SatelliteName(39), "R07");
  EXPECT_EQ(GpsTimeText(kT0 + 3661.5), "2005-01-20 01:01:01.500");
  EXPECT_EQ(GpsTimeText(std::nan("")), "?");
}

QcSummary KnownSummary() {
  QcSummary s;
  s.PresentEpochs = 118;
  s.ExpectedEpochs = 120;
  s.CompletenessPercent = 100.0 * 118 / 120;
  s.FirstTime = kT0;
  s.LastTime = kT0 + 3570;
  s.Interval = 30;
  QcGap gap;
  gap.Start = kT0 + 1800;
  gap.End = kT0 + 1890;
  gap.MissingEpochs = 2;
  s.Gaps.push_back(gap);
  s.GapCount = 1;
  QcSatellite g;
  g.Prn = 7;
  g.Epochs = 118;
  g.Obs[kQcC1] = 118;
  g.Mp1Count = 100;
  g.Mp1Rms = 0.25;
  g.MeanS1 = 44.0;
  g.Spans.push_back({kT0, kT0 + 3570});
  g.Slips[kSlipGeometryFree] = 1;
  QcSatellite r;
  r.Prn = 40;
  r.Epochs = 10;
  r.Spans.push_back({kT0, kT0 + 270});
  s.Satellites = {g, r};
  s.Obs[kQcC1] = 118;
  s.Slips[kSlipGeometryFree] = 1;
  QcSlip slip;
  slip.Prn = 7;
  slip.Time = kT0 + 900;
  slip.Kind = kSlipGeometryFree;
  slip.Jump = 0.19;
  s.SlipList.push_back(slip);
  s.Mp1Count = 100;
  s.Mp1Rms = 0.25;
  s.S1Count = 118;
  s.MeanS1 = 44.0;
  s.HasPosition = true;
  s.Position = {1112189.9, -4842955.0, 3985352.2};
  s.WithAzEl = 118;
  s.BelowMask = 12;
  QcSample a;
  a.Prn = 7;
  a.Time = kT0;
  a.Azimuth = 90.0f;
  a.Elevation = 0.0f;
  a.S1 = 55.0f;
  a.S2 = kNaNf;
  a.Mp1 = 0.5f;
  a.Mp2 = kNaNf;
  QcSample b = a;
  b.Time = kT0 + 30;
  b.Azimuth = 0.0f;
  b.Elevation = 90.0f;
  s.Samples = {a, b};
  return s;
}

TEST(QcReportTest, OneLineAndText) {
  const QcSummary s = KnownSummary();
  EXPECT_EQ(QcOneLine(s, "a.gpb"),
            "a.gpb: 2005-01-20 00:00:00.000 to 2005-01-20 00:59:30.000, 30 s, 118/120 epochs (98.3%), "
            "1 gaps, 2 satellites, 1 slips, MP1 0.25 m, S1 44.0 dB-Hz, 10.2% below 10 deg");
  const std::string text = QcText(s, "a.gpb");
  EXPECT_NE(text.find("118 present, 120 expected, 98.33% complete"), std::string::npos);
  EXPECT_NE(text.find("2005-01-20 00:30:00.000 to 2005-01-20 00:31:30.000      90.0 s  2 epochs missing"),
            std::string::npos);
  EXPECT_NE(text.find("\nG07     118    118"), std::string::npos);
  EXPECT_NE(text.find("\nR08      10"), std::string::npos);
  EXPECT_NE(text.find("2005-01-20 00:15:00.000 G07 GF         0.190"), std::string::npos);
  QcSummary empty;
  EXPECT_EQ(QcOneLine(empty, "e.gpb"), "e.gpb: no epochs");
}

TEST(QcReportTest, JsonHasTheSchemaFieldsAndNullForMissingValues) {
  const std::string j = QcJson(KnownSummary(), "dir\\a \"b\".gpb");
  EXPECT_NE(j.find("\"file\": \"dir\\\\a \\\"b\\\".gpb\""), std::string::npos);
  EXPECT_NE(j.find("\"first\": \"2005-01-20 00:00:00.000\""), std::string::npos);
  EXPECT_NE(j.find("\"epochs_present\": 118, \"epochs_expected\": 120"), std::string::npos);
  EXPECT_NE(j.find("{\"start\": \"2005-01-20 00:30:00.000\", \"end\": \"2005-01-20 00:31:30.000\", "
                   "\"seconds\": 90, \"missing_epochs\": 2}"),
            std::string::npos);
  EXPECT_NE(j.find("\"mp1_rms_m\": 0.25, \"mp2_rms_m\": null"), std::string::npos);
  EXPECT_NE(j.find("\"mean_s2_dbhz\": null"), std::string::npos);
  EXPECT_NE(j.find("{\"sat\": \"G07\", \"time\": \"2005-01-20 00:15:00.000\", \"kind\": \"GF\", \"jump\": 0.19}"),
            std::string::npos);
  EXPECT_NE(j.find("\"sat\": \"R08\""), std::string::npos);
  EXPECT_NE(j.find("\"gf_m\": 0.08"), std::string::npos);
  // Balanced and free of bare NaN or inf.
  int braces = 0, brackets = 0;
  bool in_string = false;
  for (size_t i = 0; i < j.size(); ++i) {
    const char c = j[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    braces += (c == '{') - (c == '}');
    brackets += (c == '[') - (c == ']');
    ASSERT_GE(braces, 0);
    ASSERT_GE(brackets, 0);
  }
  EXPECT_EQ(braces, 0);
  EXPECT_EQ(brackets, 0);
  EXPECT_EQ(j.find("nan"), std::string::npos);
  EXPECT_EQ(j.find("inf"), std::string::npos);
}

TEST(QcReportTest, HtmlFiguresPutTheSamplesWhereTheGeometrySays) {
  const QcSummary s = KnownSummary();
  const std::string h = QcHtml(s, "<a>.gpb");
  for (const char* id : {"skyplot", "timeline", "multipath", "signal"}) {
    EXPECT_NE(h.find(std::string("<svg id=\"") + id + "\""), std::string::npos) << id;
  }
  EXPECT_NE(h.find("Quality check: &lt;a&gt;.gpb"), std::string::npos);
  EXPECT_EQ(h.find("<a>"), std::string::npos);
  // Skyplot: centre 220, horizon radius 190. The first sample (az 90, el
  // 0) starts the track as a dot; the second (zenith) joins it with a line
  // coloured by its S1 of 55 dB-Hz.
  EXPECT_NE(h.find("<circle cx=\"410.0\" cy=\"220.0\" r=\"2\" fill=\"#ff0000\"/>"), std::string::npos);
  EXPECT_NE(h.find("<line x1=\"410.0\" y1=\"220.0\" x2=\"220.0\" y2=\"220.0\" stroke=\"#ff0000\""),
            std::string::npos);
  // Timeline: 50..865 over one hour minus 30 s; the gap starts at 1800 s.
  const double gap_x = ScaleLinear(1800, 0, 3570, 50, 865);
  char gap[128];
  std::snprintf(gap, sizeof gap, "<rect class=\"gap\" x=\"%.1f\"", gap_x);
  EXPECT_NE(h.find(gap), std::string::npos) << gap;
  char slip[128];
  std::snprintf(slip, sizeof slip, "<rect class=\"slip\" x=\"%.1f\" y=\"10.0\"", ScaleLinear(900, 0, 3570, 50, 865) - 1);
  EXPECT_NE(h.find(slip), std::string::npos) << slip;
  EXPECT_EQ(TimelineHeight(s), 50 + 2 * kTimelineRow);
  // Multipath: MP1 0.5 m at elevation 0 and 90, y range +-1 m.
  char mp[128];
  std::snprintf(mp, sizeof mp, "<circle cx=\"55.0\" cy=\"%.1f\" r=\"1.5\" fill=\"#1f77b4\"",
                ScaleLinear(0.5, -1, 1, kPlotHeight - 35, 12));
  EXPECT_NE(h.find(mp), std::string::npos) << mp;
}

TEST(QcReportTest, FiguresSayWhyTheyAreEmpty) {
  QcSummary s;
  const std::string h = QcHtml(s, "e.gpb");
  EXPECT_NE(h.find("no azimuth/elevation (no ephemerides or position)"), std::string::npos);
  EXPECT_NE(h.find("no epochs"), std::string::npos);
  EXPECT_NE(h.find("no multipath values"), std::string::npos);
  EXPECT_NE(h.find("no signal strengths in the data"), std::string::npos);
  // Values without azimuth and elevation have no place on the figures.
  QcSample x;
  x.Azimuth = x.Elevation = std::numeric_limits<float>::quiet_NaN();
  x.S1 = 40.0f;
  x.Mp1 = 0.1f;
  s.Samples = {x};
  const std::string g = QcHtml(s, "e.gpb");
  EXPECT_NE(g.find("no values with azimuth/elevation"), std::string::npos);
  EXPECT_EQ(g.find("no multipath values"), std::string::npos);
}

// A summary whose station section has everything: the position from the
// data 12 m up from the header's and 3 m north of a site log's, and a
// site log that names another receiver and antenna.
QcSummary StationSummary() {
  QcSummary s = KnownSummary();
  QcMetadata& m = s.Metadata;
  m.HasEphemerides = true;
  DataPosition& d = m.Data;
  d.Valid = true;
  d.Mean = {1112189.9031, -4842955.0319, 3985352.2376};
  EcefToGeodetic(d.Mean, &d.Latitude, &d.Longitude, &d.Height);
  d.SigmaNorth = 0.5;
  d.SigmaEast = 0.25;
  d.SigmaUp = 1.5;
  d.Rms3d = std::sqrt(0.25 + 0.0625 + 2.25);
  d.EpochsTried = 120;
  d.EpochsSolved = 118;
  d.EpochsUsed = 110;
  d.IonoFreeEpochs = 118;
  // 12 m below the data's position: data minus header is 12 m up.
  const LocalFrame f = MakeLocalFrame(d.Mean);
  const double ux = f.CosLat * f.CosLon, uy = f.CosLat * f.SinLon, uz = f.SinLat;
  m.HasHeaderPosition = true;
  m.HeaderPosition = {d.Mean.X - 12 * ux, d.Mean.Y - 12 * uy, d.Mean.Z - 12 * uz};
  m.ReceiverText = "RINEX TRIMBLE 5700";
  m.HeaderAntenna = "TRM41249.00     NONE";
  StationReference& r = m.Reference;
  r.Source = "site log usno00usa_20050101.log & co";
  r.HasPosition = true;
  const double nx = -f.SinLat * f.CosLon, ny = -f.SinLat * f.SinLon, nz = f.CosLat;
  r.Position[0] = d.Mean.X - 3 * nx;
  r.Position[1] = d.Mean.Y - 3 * ny;
  r.Position[2] = d.Mean.Z - 3 * nz;
  r.ReceiverType = "ASHTECH Z-XII3T";
  r.ReceiverNumber = "RT920012345";
  r.ReceiverVersion = "1L01-1D04";
  r.AntennaType = "AOAD/M_T        JPLA";
  CompareMetadata(&m);
  return s;
}

TEST(QcReportTest, StationSectionInTextJsonAndHtml) {
  const QcSummary s = StationSummary();
  ASSERT_EQ(s.Metadata.Warnings.size(), 2u);  // 3 m is within 5 m: no position warning
  const std::string text = QcText(s, "a.gpb");
  EXPECT_NE(text.find("\nPosition from data  1112189.903 -4842955.032 3985352.238 m (ECEF)\n"), std::string::npos);
  EXPECT_NE(text.find("spread            north 0.500 east 0.250 up 1.500 m, 3D RMS 1.601 m"), std::string::npos);
  EXPECT_NE(text.find("118 solved of 120 tried (every 1), 110 within the robust bound"), std::string::npos);
  EXPECT_NE(text.find("  data - header     north 0.000 east 0.000 up 12.000 m, distance 12.000 m (warning above "
                      "30 m)\n"),
            std::string::npos);
  EXPECT_NE(text.find("  data - records    north 3.000 east 0.000 up 0.000 m, distance 3.000 m (warning above "
                      "5 m)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Station records     site log usno00usa_20050101.log & co\n"), std::string::npos);
  EXPECT_NE(text.find("type \"ASHTECH Z-XII3T\" DIFFERS, version \"1L01-1D04\" not in the GPB's text, number "
                      "\"RT920012345\""),
            std::string::npos);
  EXPECT_NE(text.find("WARNING: the GPB file's receiver \"RINEX TRIMBLE 5700\" is not the receiver"), std::string::npos);

  Json j;
  std::string error;
  ASSERT_TRUE(ParseJson(QcJson(s, "a.gpb"), &j, &error)) << error;
  const Json& m = j["metadata"];
  ASSERT_EQ(m["data_position"]["ecef_m"].Items.size(), 3u);
  EXPECT_DOUBLE_EQ(m["data_position"]["ecef_m"].Items[1].Number, -4842955.0319);
  EXPECT_NEAR(m["data_position"]["height_m"].Number, s.Metadata.Data.Height, 1e-4);
  EXPECT_EQ(m["data_position"]["epochs_used"].Number, 110);
  EXPECT_TRUE(m["data_position"]["reason"].IsNull());
  EXPECT_NEAR(m["approx_position"]["difference"]["up_m"].Number, 12.0, 1e-4);
  EXPECT_EQ(m["approx_position"]["difference"]["threshold_m"].Number, 30);
  EXPECT_EQ(m["approx_position"]["difference"]["warning"].Type, Json::kBool);
  EXPECT_EQ(m["approx_position"]["difference"]["warning"].Number, 0);
  EXPECT_EQ(m["reference"]["source"].Text, "site log usno00usa_20050101.log & co");
  EXPECT_NEAR(m["reference"]["difference"]["north_m"].Number, 3.0, 1e-4);
  EXPECT_EQ(m["reference"]["receiver_number"].Text, "RT920012345");
  EXPECT_EQ(m["receiver"]["gpb"].Text, "RINEX TRIMBLE 5700");
  EXPECT_EQ(m["receiver"]["type_agrees"].Type, Json::kBool);
  EXPECT_EQ(m["receiver"]["type_agrees"].Number, 0);
  EXPECT_EQ(m["antenna"]["header"].Text, "TRM41249.00     NONE");
  ASSERT_EQ(m["warnings"].Items.size(), 2u);
  EXPECT_EQ(m["warnings"].Items[1].Text, s.Metadata.Warnings[1]);

  const std::string h = QcHtml(s, "a.gpb");
  EXPECT_NE(h.find("<table id=\"station\">"), std::string::npos);
  EXPECT_NE(h.find("site log usno00usa_20050101.log &amp; co"), std::string::npos);
  EXPECT_EQ(h.find("usno00usa_20050101.log & co"), std::string::npos);
  EXPECT_NE(h.find("<li style=\"color:#b00000\">Warning: the header's antenna &quot;TRM41249.00"), std::string::npos);
}

TEST(QcReportTest, StationSectionWithoutPositionOrRecords) {
  QcSummary s = KnownSummary();
  s.Metadata.Data.Reason = "no ephemerides";
  const std::string text = QcText(s, "a.gpb");
  EXPECT_NE(text.find("Position from data  - (no ephemerides)\nAPPROX POSITION XYZ -\nStation records     none\n"),
            std::string::npos);
  EXPECT_NE(text.find("Warnings            none\n"), std::string::npos);
  Json j;
  std::string error;
  ASSERT_TRUE(ParseJson(QcJson(s, "a.gpb"), &j, &error)) << error;
  EXPECT_TRUE(j["metadata"]["data_position"]["ecef_m"].IsNull());
  EXPECT_EQ(j["metadata"]["data_position"]["reason"].Text, "no ephemerides");
  EXPECT_TRUE(j["metadata"]["approx_position"]["ecef_m"].IsNull());
  EXPECT_TRUE(j["metadata"]["reference"].IsNull());
  EXPECT_TRUE(j["metadata"]["receiver"]["type_agrees"].IsNull());
  EXPECT_EQ(j["metadata"]["warnings"].Type, Json::kArray);
  EXPECT_TRUE(j["metadata"]["warnings"].Items.empty());
}

TEST(QcReportTest, JsonSkyplotHasTheSamplesTheFigureDraws) {
  QcSummary s = KnownSummary();
  QcSample below = s.Samples[0];
  below.Time += 60;
  below.Elevation = -2.0f;  // below the horizon: not drawn
  QcSample glonass = s.Samples[0];
  glonass.Prn = 40;
  glonass.Azimuth = glonass.Elevation = kNaNf;  // no ephemeris
  QcSample other = s.Samples[1];
  other.Prn = 3;
  other.Azimuth = 123.46f;
  other.Elevation = 12.34f;
  s.Samples.push_back(below);
  s.Samples.push_back(glonass);
  s.Samples.push_back(other);
  s.SampleStride = 2;
  Json j;
  std::string error;
  ASSERT_TRUE(ParseJson(QcJson(s, "a.gpb"), &j, &error)) << error;
  const Json& sky = j["skyplot"];
  EXPECT_EQ(sky["sample_stride"].Number, 2);
  const std::vector<Json>& sats = sky["satellites"].Items;
  ASSERT_EQ(sats.size(), 2u);
  EXPECT_EQ(sats[0]["sat"].Text, "G03");
  ASSERT_EQ(sats[0]["samples"].Items.size(), 1u);
  const Json& x = sats[0]["samples"].Items[0];
  EXPECT_EQ(x.Items[0].Text, "2005-01-20 00:00:30.000");
  EXPECT_DOUBLE_EQ(x.Items[1].Number, 123.5);  // 0.1 degree
  EXPECT_DOUBLE_EQ(x.Items[2].Number, 12.3);
  EXPECT_EQ(sats[1]["sat"].Text, "G07");
  ASSERT_EQ(sats[1]["samples"].Items.size(), 2u);
  EXPECT_EQ(sats[1]["samples"].Items[1].Items[0].Text, "2005-01-20 00:00:30.000");
  EXPECT_DOUBLE_EQ(sats[1]["samples"].Items[1].Items[2].Number, 90.0);
}

}  // namespace
}  // namespace qc
}  // namespace rawconv
