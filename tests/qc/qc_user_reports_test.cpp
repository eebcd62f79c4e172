// The quality reports as a caller of the reentrant interface meets them:
// JSON that a strict reader takes whatever the values and the file's name,
// the GPB path as given in the summary and the reports, the reports named
// after the plain observation file, and the page's figures on data without
// signal strengths and on a whole day at 1 Hz.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "cli/tool_run.h"
#include "naming/naming.h"
#include "perf/synthetic_gpb.h"
#include "qc/qc.h"
#include "qc/qc_report.h"
#include "support/conversion_fixture.h"

namespace rawconv {
namespace convtest {
namespace {

using clitest::RunProgram;
using clitest::ToolRun;

// Reads a JSON file with Python's parser, strictly (UTF-8 only, no NaN or
// Infinity), and prints the "file" member turned back into bytes through
// the surrogate escapes, then a line end and the position as Python sees it.
const char kStrictReader[] =
    "import json, sys\n"
    "def refuse(word):\n"
    "    raise ValueError('not JSON: ' + word)\n"
    "with open(sys.argv[1], encoding='utf-8', errors='strict') as f:\n"
    "    d = json.load(f, parse_constant=refuse)\n"
    "sys.stdout.buffer.write(d['file'].encode('utf-8', 'surrogateescape') + b'\\n')\n"
    "print(json.dumps(d['geometry']['position_ecef_m']))\n";

class QcUserReportsTest : public ConversionFixture {
 protected:
  void SetUp() override {
    ConversionFixture::SetUp();
    session_ = rawconv_session_new();
    rawconv_options_init(&o_);
    rawconv_report_init(&r_);
    o_.use_run_date = 1;
    o_.run_date = 1133965800;
  }
  void TearDown() override {
    rawconv_session_free(session_);
    ConversionFixture::TearDown();
  }
  int Convert(const std::string& gpb) {
    rawconv_report_init(&r_);
    o_.gpb_path = gpb.c_str();
    return rawconv_convert(session_, &o_, &r_);
  }
  // Python's reading of a JSON file (see kStrictReader); skipped without
  // python3.
  ToolRun ReadStrictly(const std::string& json) {
    WriteFile(Path("strict.py"), kStrictReader);
    return RunProgram("/bin/sh", {"-c", "command -v python3 >/dev/null || exit 77; exec python3 strict.py \"$0\"",
                                  json},
                      dir_);
  }
  // A synthetic day and its ephemerides as <stem>.gpb and <stem>.epp.
  void WriteDay(const std::string& stem, const synthetic::SyntheticDay& day) {
    ASSERT_TRUE(synthetic::WriteSyntheticGpb(Path(stem + ".gpb"), day));
    ASSERT_TRUE(synthetic::WriteSyntheticEpp(Path(stem + ".epp"), day));
  }

  rawconv_session* session_ = nullptr;
  rawconv_options o_;
  rawconv_report r_;
};

// ------------------------------------------------------------------ JSON

TEST_F(QcUserReportsTest, JsonOfValuesThatAreNotFiniteOrHugeParsesAndNothingIsCut) {
  qc::QcSummary s;
  s.PresentEpochs = s.ExpectedEpochs = 1;
  s.Interval = std::numeric_limits<double>::quiet_NaN();
  s.CompletenessPercent = std::numeric_limits<double>::infinity();
  s.HasPosition = true;
  s.Position.X = 1e300;
  s.Position.Y = std::numeric_limits<double>::quiet_NaN();
  s.Position.Z = -1e300;
  s.S1Count = 1;
  s.MeanS1 = std::numeric_limits<double>::quiet_NaN();
  // Latin-1, a truncated sequence, an encoded surrogate, and UTF-8 kept.
  const std::string name = std::string(300, 'd') + "/caf\xe9 \xe2\x82 \xed\xa0\x80 \xc3\xa9.gpb";
  WriteFile(Path("r.json"), qc::QcJson(s, name));
  const ToolRun run = ReadStrictly("r.json");
  if (run.Code == 77) GTEST_SKIP() << "no python3";
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(name + "\n[1e+300, null, -1e+300]\n", run.Out);
  // The text and the summary line carry the whole name and numbers.
  const std::string text = qc::QcText(s, name);
  EXPECT_EQ(0u, text.find("Quality check of " + name + "\n"));
  const size_t position = text.find("Position (ECEF)     1");
  ASSERT_NE(std::string::npos, position);
  const std::string line = text.substr(position, text.find('\n', position) - position);
  EXPECT_GT(line.size(), 600u);
  EXPECT_EQ(line.size() - 2, line.rfind(" m")) << line;
  EXPECT_EQ(0u, qc::QcOneLine(s, name).find(name + ": "));
}

TEST_F(QcUserReportsTest, FileNameOutsideUtf8ComesBackFromTheJsonReport) {
  const std::string stem = "st\xe9\xff";
  WriteInputs(stem, 40);
  o_.qc = RAWCONV_QC_WITH;
  ASSERT_EQ(RAWCONV_OK, Convert(Path(stem + ".gpb"))) << r_.error;
  const ToolRun run = ReadStrictly(r_.qc_json_path);
  if (run.Code == 77) GTEST_SKIP() << "no python3";
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(0u, run.Out.find(Path(stem + ".gpb") + "\n")) << run.Out;
  EXPECT_NE(std::string::npos, ReadFile(r_.qc_json_path).find("st\\udce9\\udcff.gpb"));
  // The page stays valid UTF-8: the bytes show as replacement characters.
  const std::string page = ReadFile(r_.qc_html_path);
  EXPECT_EQ(std::string::npos, page.find("st\xe9"));
  EXPECT_NE(std::string::npos, page.find("<h1>Quality check: " + Path("st&#xfffd;&#xfffd;.gpb") + "</h1>"));
}

// ------------------------------------------------------- names and paths

TEST_F(QcUserReportsTest, SummaryAndReportsCarryThePathAsGiven) {
  fs::create_directory(Path("d1"));
  fs::create_directory(Path("d2"));
  WriteInputs("d1/x", 40);
  WriteInputs("d2/x", 20);
  o_.qc = RAWCONV_QC_WITH;
  std::vector<std::string> lines;
  for (const char* gpb : {"d1/x.gpb", "d2/x.gpb"}) {
    ASSERT_EQ(RAWCONV_OK, Convert(Path(gpb))) << r_.error;
    const std::string line = r_.qc_summary;
    EXPECT_EQ(0u, line.find(Path(gpb) + ": 2005-")) << line;
    EXPECT_EQ(0u, ReadFile(r_.qc_text_path).find(line + "\n\nQuality check of " + Path(gpb) + "\n"));
    lines.push_back(line);
  }
  EXPECT_NE(lines[0], lines[1]);

  // The check alone too, with a relative path as the caller gave it.
  o_.qc = RAWCONV_QC_ONLY;
  o_.existing = RAWCONV_EXISTING_REPLACE;
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const int code = Convert("d1/x.gpb");
  fs::current_path(before);
  ASSERT_EQ(RAWCONV_OK, code) << r_.error;
  EXPECT_EQ(0u, std::string(r_.qc_summary).find("d1/x.gpb: 2005-")) << r_.qc_summary;
  EXPECT_NE(std::string::npos, ReadFile(Path("d1/x.qc.json")).find("\"file\": \"d1/x.gpb\""));
}

TEST(QcReportNamesTest, PlainObservationNameOfEachCompression) {
  struct Case {
    const char* Name;
    Compression Kind;
    const char* Plain;
  };
  const Case cases[] = {
      {"sample.05o", Compression::kNone, "sample.05o"},
      {"sample.05o.gz", Compression::kGzip, "sample.05o"},
      {"sample.05d", Compression::kCrx, "sample.05o"},
      {"sample.05d.gz", Compression::kCrxGzip, "sample.05o"},
      {"SAMP00XXX_R_20050920000_01D_30S_MO.crx.gz", Compression::kCrxGzip,
       "SAMP00XXX_R_20050920000_01D_30S_MO.rnx"},
      {"SAMP00XXX_R_20050920000_01D_30S_GO.crx", Compression::kCrx, "SAMP00XXX_R_20050920000_01D_30S_GO.rnx"},
      {"SAMP00XXX_R_20050920000_01D_30S_MO.rnx.gz", Compression::kGzip,
       "SAMP00XXX_R_20050920000_01D_30S_MO.rnx"},
      // Names a caller chose keep what is not a mark of the compression.
      {"out.obs", Compression::kCrxGzip, "out.obs"},
      {"x.05d.gz", Compression::kGzip, "x.05d"},
      {"x.gz", Compression::kNone, "x.gz"},
      {"d.05d", Compression::kNone, "d.05d"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Plain, PlainObsFileName(c.Name, c.Kind)) << c.Name;
}

TEST_F(QcUserReportsTest, ReportsAreNamedAfterThePlainObservationFile) {
  WriteInputs("sample", 40);
  const std::string gpb = Path("sample.gpb");
  o_.qc = RAWCONV_QC_WITH;
  o_.existing = RAWCONV_EXISTING_REPLACE;
  struct Case {
    int32_t Compress;
    int32_t Names;
    int32_t Rinex;
  };
  const Case cases[] = {
      {RAWCONV_COMPRESS_GZ, RAWCONV_NAMES_INPUT, RAWCONV_RINEX_2_10},
      {RAWCONV_COMPRESS_CRX, RAWCONV_NAMES_INPUT, RAWCONV_RINEX_2_10},
      {RAWCONV_COMPRESS_CRX_GZ, RAWCONV_NAMES_INPUT, RAWCONV_RINEX_2_10},
      {RAWCONV_COMPRESS_CRX_GZ, RAWCONV_NAMES_LONG, RAWCONV_RINEX_3_04},
      {RAWCONV_COMPRESS_GZ, RAWCONV_NAMES_LONG, RAWCONV_RINEX_3_04},
  };
  for (const Case& c : cases) {
    o_.compress = c.Compress;
    o_.names = c.Names;
    o_.rinex = c.Rinex;
    ASSERT_EQ(RAWCONV_OK, Convert(gpb)) << r_.error;
    std::string plain = r_.obs_path;
    if (c.Names == RAWCONV_NAMES_INPUT) {
      plain = Path("sample.05o");
    } else {
      const size_t dot = plain.find("O.");
      ASSERT_NE(std::string::npos, dot) << plain;
      plain = plain.substr(0, dot) + "O.rnx";
    }
    EXPECT_NE(plain, r_.obs_path);
    EXPECT_EQ(plain + ".qc.txt", r_.qc_text_path) << r_.obs_path;
    EXPECT_EQ(plain + ".qc.json", r_.qc_json_path) << r_.obs_path;
    EXPECT_EQ(plain + ".qc.html", r_.qc_html_path) << r_.obs_path;
    EXPECT_TRUE(fs::exists(plain + ".qc.html")) << plain;
    EXPECT_FALSE(fs::exists(std::string(r_.obs_path) + ".qc.txt")) << r_.obs_path;
  }
}

// ---------------------------------------------------------------- figures

// One <text> element of a figure and the room its glyphs take.
struct SvgText {
  std::string Text;
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

std::string Attribute(const std::string& element, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t at = element.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return element.substr(start, element.find('"', start) - start);
}

// Advance widths in em of a wide sans-serif face (the widest of the faces
// a browser takes for "sans-serif"), 0.7 em for the characters not listed.
double GlyphWidth(char c) {
  if (c >= '0' && c <= '9') return 0.636;
  switch (c) {
    case 'G': return 0.775;
    case 'R': return 0.695;
    case 'N': return 0.748;
    case 'E': return 0.632;
    case 'S': return 0.635;
    case 'W': return 0.989;
    case ' ': case '.': return 0.318;
    case '+': return 0.838;
    default: return 0.7;
  }
}

// The texts of the figure <svg id="id"> with their boxes: the face's line
// box from 0.93 em above the baseline to 0.24 em below, centred with
// dominant-baseline="middle", placed by text-anchor.
std::vector<SvgText> FigureTexts(const std::string& page, const std::string& id) {
  std::vector<SvgText> texts;
  const size_t begin = page.find("<svg id=\"" + id + "\"");
  if (begin == std::string::npos) return texts;
  const size_t end = page.find("</svg>", begin);
  const std::string svg = page.substr(begin, end - begin);
  const double base_font = std::atof(Attribute(svg.substr(0, svg.find('>')), "font-size").c_str());
  for (size_t at = svg.find("<text "); at != std::string::npos; at = svg.find("<text ", at + 1)) {
    const size_t open_end = svg.find('>', at);
    const std::string element = svg.substr(at, open_end - at);
    SvgText t;
    t.Text = svg.substr(open_end + 1, svg.find("</text>", open_end) - open_end - 1);
    const std::string size = Attribute(element, "font-size");
    const double font = size.empty() ? base_font : std::atof(size.c_str());
    double width = 0;
    for (char c : t.Text) width += GlyphWidth(c) * font;
    const double x = std::atof(Attribute(element, "x").c_str());
    const double y = std::atof(Attribute(element, "y").c_str());
    const std::string anchor = Attribute(element, "text-anchor");
    t.X0 = anchor == "middle" ? x - width / 2 : anchor == "end" ? x - width : x;
    t.X1 = t.X0 + width;
    if (Attribute(element, "dominant-baseline") == "middle") {
      t.Y0 = y - 0.58 * font;
      t.Y1 = y + 0.58 * font;
    } else {
      t.Y0 = y - 0.93 * font;
      t.Y1 = y + 0.24 * font;
    }
    texts.push_back(t);
  }
  return texts;
}

// The pairs of texts whose boxes intersect, as "A / B" lines.
std::string Collisions(const std::vector<SvgText>& texts) {
  std::string found;
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j) {
      const SvgText& a = texts[i];
      const SvgText& b = texts[j];
      if (a.X0 < b.X1 && b.X0 < a.X1 && a.Y0 < b.Y1 && b.Y0 < a.Y1) found += a.Text + " / " + b.Text + "\n";
    }
  return found;
}

TEST_F(QcUserReportsTest, LabelsOfAWholeDayAt1HzNeverOverlap) {
  synthetic::SyntheticDay day;  // 86,400 epochs at 1 s, 14 satellites
  WriteDay("day", day);
  o_.qc = RAWCONV_QC_ONLY;
  ASSERT_EQ(RAWCONV_OK, Convert(Path("day.gpb"))) << r_.error;
  const std::string page = ReadFile(r_.qc_html_path);
  const std::vector<SvgText> sky = FigureTexts(page, "skyplot");
  // Every satellite is named, or the figure says which it left out.
  std::set<std::string> named;
  for (const SvgText& t : sky)
    if (t.Text.size() == 3 && (t.Text[0] == 'G' || t.Text[0] == 'R')) named.insert(t.Text);
  const size_t left_out = page.find(">no room for ");
  EXPECT_TRUE(named.size() == static_cast<size_t>(day.Satellites) || left_out != std::string::npos)
      << named.size();
  EXPECT_GE(named.size(), static_cast<size_t>(day.Satellites / 2));
  EXPECT_EQ("", Collisions(sky));
  EXPECT_EQ("", Collisions(FigureTexts(page, "timeline")));
  for (const char* id : {"multipath", "signal"}) {
    std::vector<SvgText> texts = FigureTexts(page, id);
    ASSERT_FALSE(texts.empty()) << id;
    // The y axis's name is turned upright beside the figure: not a row.
    texts.erase(std::remove_if(texts.begin(), texts.end(), [](const SvgText& t) { return t.X0 < 20; }),
                texts.end());
    EXPECT_EQ("", Collisions(texts)) << id;
  }
}

TEST(QcSkyplotLabelsTest, WithoutRoomALabelIsLeftOutAndTheFigureSaysWhich) {
  // Sixty satellites in one spot, each there for one short pass: there is
  // room around it for some labels only.
  qc::QcSummary s;
  s.Interval = 30.0;
  s.S1Count = 1;
  for (int prn = 1; prn <= 60; ++prn) {
    qc::QcSample x;
    x.Prn = prn;
    x.Time = 1e8;
    x.Azimuth = 45.0f;
    x.Elevation = 45.0f;
    x.S1 = 40.0f;
    x.S2 = x.Mp1 = x.Mp2 = std::numeric_limits<float>::quiet_NaN();
    s.Samples.push_back(x);
  }
  const std::string page = qc::QcHtml(s, "crowd.gpb");
  const std::vector<SvgText> sky = FigureTexts(page, "skyplot");
  EXPECT_EQ("", Collisions(sky));
  int labels = 0;
  for (const SvgText& t : sky) labels += t.Text.size() == 3 && (t.Text[0] == 'G' || t.Text[0] == 'R');
  EXPECT_GE(labels, 2);
  EXPECT_LT(labels, 60);
  // The first satellites in order get the labels; the note names the first
  // two without one and counts the rest.
  char note[64];
  std::snprintf(note, sizeof note, ">no room for %s %s +%d<", qc::SatelliteName(labels + 1).c_str(),
                qc::SatelliteName(labels + 2).c_str(), 60 - labels - 2);
  EXPECT_NE(std::string::npos, page.find(note)) << note;
}

TEST_F(QcUserReportsTest, WithoutSignalStrengthsThePageSaysSoAndDrawsNoScale) {
  synthetic::SyntheticDay day;
  day.Epochs = 2880;
  day.Interval = 30.0;
  day.NewFormat = false;  // no S1, S2
  WriteDay("old", day);
  o_.qc = RAWCONV_QC_ONLY;
  ASSERT_EQ(RAWCONV_OK, Convert(Path("old.gpb"))) << r_.error;
  const std::string page = ReadFile(r_.qc_html_path);
  const size_t sky = page.find("<svg id=\"skyplot\"");
  const size_t sky_end = page.find("</svg>", sky);
  ASSERT_NE(std::string::npos, sky);
  const std::string skyplot = page.substr(sky, sky_end - sky);
  const std::string caption = page.substr(page.rfind("<figcaption>", sky), sky - page.rfind("<figcaption>", sky));
  EXPECT_EQ(std::string::npos, caption.find("coloured by")) << caption;
  EXPECT_NE(std::string::npos, caption.find("no signal strengths in the data")) << caption;
  EXPECT_EQ(std::string::npos, skyplot.find("dB-Hz"));
  EXPECT_EQ(std::string::npos, skyplot.find("<rect x=\"8\""));  // the colour key's first box
  EXPECT_NE(std::string::npos, skyplot.find("no signal strengths in the data"));
  EXPECT_NE(std::string::npos, skyplot.find("stroke=\"#999999\""));  // tracks drawn, grey
  const size_t signal = page.find("<svg id=\"signal\"");
  ASSERT_NE(std::string::npos, signal);
  const std::string panel = page.substr(signal, page.find("</svg>", signal) - signal);
  EXPECT_NE(std::string::npos, panel.find("no signal strengths in the data"));
  EXPECT_EQ(std::string::npos, panel.find("no values with azimuth/elevation"));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
