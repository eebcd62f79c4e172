// Splitting real data: each real recording (turned into GPB and EPP input) is
// converted once whole and once split into spans of GPS time. The span
// files joined back (headers dropped, epoch records concatenated) must give
// exactly the whole file's epoch records; every span file holds only epochs
// of its own span; and each span's TIME OF FIRST/LAST OBS and full-header
// counts equal what this test counts in that file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "api/conversion.h"
#include "obs/obs_writer.h"
#include "obs/run_date.h"
#include "select/selection.h"
#include "support/conversion_fixture.h"
#include "support/obs_compare.h"
#include "support/real_data.h"
#include "support/real_data_fixture.h"
#include "support/rinex_nav.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;
using convtest::Lines;
using convtest::ReadFile;

struct SplitCase {
  const char* Obs;
  const char* Nav;
  double Span;  // seconds
  int Rinex;
  NameStyle Names;
};

const SplitCase kCases[] = {
    {"usno0200.05o", "brdc0200.05n", 3600.0, RINEX_VERSION_2_1, NameStyle::kShort},  // a day
    {"yamatogawa_master.obs", "brdc0060.10n", 900.0, RINEX_VERSION_2_1,
     NameStyle::kShort},  // 1 s data across 06:00
    {"07590920.05o", "07590920.05n", 900.0, RINEX_VERSION_2_1,
     NameStyle::kLong},  // clock a few ms off
    {"arlm200a.15o", "arlm200a.15n", 900.0, 305, NameStyle::kLong},  // RINEX 3
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.Obs; }

// GPS seconds of a RINEX date.
double GpsTimeOf(int year, int month, int day, int hour, int minute, double second) {
  double day_start = 0.0;
  const int week = obscompare::FullGpsWeek(year, month, day, &day_start);
  return GpsSeconds(week, day_start + hour * 3600.0 + minute * 60.0 + second);
}

// The lines after END OF HEADER.
std::vector<std::string> Body(const std::string& path) {
  const std::vector<std::string> lines = Lines(ReadFile(path));
  size_t end = 0;
  while (end < lines.size() && lines[end].find("END OF HEADER") != 60) ++end;
  return std::vector<std::string>(lines.begin() + static_cast<long>(end < lines.size() ? end + 1 : end),
                                  lines.end());
}

// Columns 1-60 of the first header line with this label ("" when none).
std::string HeaderField(const std::string& path, const char* label) {
  for (const std::string& line : Lines(ReadFile(path))) {
    if (line.size() > 60 && line.compare(60, std::strlen(label), label) == 0)
      return line.substr(0, 60);
    if (line.find("END OF HEADER") == 60) break;
  }
  return "";
}

// GPS seconds of a TIME OF FIRST/LAST OBS field.
double HeaderTime(const std::string& field) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double s = 0.0;
  if (std::sscanf(field.c_str(), "%d %d %d %d %d %lf", &y, &mo, &d, &h, &mi, &s) != 6) return -1.0;
  return GpsTimeOf(y, mo, d, h, mi, s);
}

// GPS seconds of the epoch records (flag 0) of a RINEX 3 body.
std::vector<double> Rinex3EpochTimes(const std::vector<std::string>& body) {
  std::vector<double> times;
  for (const std::string& line : body) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, flag = -1;
    double s = 0.0;
    if (line.compare(0, 2, "> ") != 0) continue;
    if (std::sscanf(line.c_str() + 2, "%d %d %d %d %d %lf %d", &y, &mo, &d, &h, &mi, &s, &flag) == 7 &&
        flag == 0)
      times.push_back(GpsTimeOf(y, mo, d, h, mi, s));
  }
  return times;
}

class RealDataSplitTest : public realdata::RealDataTest<SplitCase> {
 protected:
  RealDataSplitTest() : RealDataTest("rawconv_split") {}

  // Converts x.gpb with x.epp into folder; SplitSeconds span (0: whole).
  int Convert(const std::string& folder, double span, std::vector<OutputFile>* outputs) {
    fs::create_directory(Path(folder));
    const ObsEdits edits{nullptr, nullptr, 1, 0, 0};
    ConversionFacts facts{};
    ConversionJob job;
    job.Obs.GpbFile = Path("x.gpb");
    job.Obs.ObsFile = Path(folder + "/x.obs");
    job.Nav.EppFile = Path("x.epp");
    job.Nav.NavFile = Path(folder + "/x.nav");
    job.Obs.MarkerName = "SPLT";
    job.RinexVersion = GetParam().Rinex;
    job.Existing = OutputPolicy::kRefuse;
    job.Names = GetParam().Names;
    job.Edits = &edits;
    job.Facts = &facts;
    job.SplitSeconds = span;
    job.Outputs = outputs;
    const int result = RunConversion(job);
    if (result != kConversionOk) ADD_FAILURE() << Ctx().ErrorText;
    return result;
  }
};

TEST_P(RealDataSplitTest, SpansJoinBackIntoTheWholeFile) {
  const SplitCase& c = GetParam();
  std::string error;
  rnxtest::RnxToGpbSummary converted;
  ASSERT_TRUE(rnxtest::ConvertRinexObsFileToGpb(realdata::DataPath(c.Obs), Path("x.gpb"), {},
                                                &converted, &error))
      << error;
  std::string nav = realdata::DataPath(c.Nav);
  if (fs::path(nav).extension() == ".gz") {
    if (!realdata::HasProgram("gzip")) GTEST_SKIP() << "gzip not available for " << c.Nav;
    ASSERT_EQ(0, std::system(("gzip -dc '" + nav + "' > '" + Path("plain.nav") + "'").c_str()));
    nav = Path("plain.nav");
  }
  ASSERT_TRUE(rinexnav::ConvertNavToEpp(nav, Path("x.epp"), error)) << error;

  std::vector<OutputFile> whole_outputs, span_outputs;
  ASSERT_EQ(kConversionOk, Convert("whole", 0.0, &whole_outputs));
  ASSERT_EQ(kConversionOk, Convert("split", c.Span, &span_outputs));
  std::vector<std::string> spans;
  for (const OutputFile& o : span_outputs)
    if (o.Kind == OutputKind::kObservation) spans.push_back(o.Path);
  ASSERT_GE(spans.size(), 2u);
  ASSERT_EQ(OutputKind::kObservation, whole_outputs.front().Kind);
  const std::vector<std::string> whole = Body(whole_outputs.front().Path);

  // Joined back: exactly the whole file's records.
  std::vector<std::string> joined;
  for (const std::string& span : spans) {
    const std::vector<std::string> body = Body(span);
    joined.insert(joined.end(), body.begin(), body.end());
  }
  ASSERT_EQ(whole.size(), joined.size());
  for (size_t i = 0; i < whole.size(); ++i) ASSERT_EQ(whole[i], joined[i]) << "line " << i;

  // Each file: epochs of its span only, its header from them.
  long previous = -1;
  for (const std::string& span : spans) {
    std::vector<double> times;
    rnxtest::RinexObsFile file;
    if (c.Rinex >= 300) {
      times = Rinex3EpochTimes(Body(span));
    } else {
      ASSERT_TRUE(rnxtest::ReadRinexObsFile(span, &file, &error)) << error;
      for (const auto* e : obscompare::ObservationEpochs(file))
        times.push_back(GpsTimeOf(e->Year, e->Month, e->Day, e->Hour, e->Minute, e->Second));
    }
    ASSERT_FALSE(times.empty()) << span;
    const long index = static_cast<long>(SpanIndexOf(times.front(), c.Span, kDefaultClockTolerance));
    EXPECT_GT(index, previous) << span;
    previous = index;
    for (double t : times) EXPECT_EQ(index, SpanIndexOf(t, c.Span, kDefaultClockTolerance)) << span;
    EXPECT_NEAR(times.front(), HeaderTime(HeaderField(span, "TIME OF FIRST OBS")), 1e-6) << span;
    EXPECT_NEAR(times.back(), HeaderTime(HeaderField(span, "TIME OF LAST OBS")), 1e-6) << span;
    if (c.Rinex >= 300) continue;

    // The full header's counts against the values of the same file.
    std::map<std::string, std::vector<int>> counted;
    for (const auto* e : obscompare::ObservationEpochs(file)) {
      for (const auto& sat : e->Sats) {
        char name[8];
        std::snprintf(name, sizeof name, "%c%2d", sat.System, sat.Prn);
        std::vector<int>& n = counted[name];
        n.resize(file.Header.ObsTypes.size(), 0);
        for (size_t t = 0; t < sat.Values.size(); ++t)
          n[t] += sat.Values[t].Present && sat.Values[t].Value != 0.0 ? 1 : 0;
      }
    }
    std::map<std::string, std::vector<int>> header;
    std::string current;
    for (const std::string& line : file.Header.Lines) {
      if (line.size() < 74 || line.compare(60, 14, "PRN / # OF OBS") != 0) continue;
      if (line.compare(3, 3, "   ") != 0) current = line.substr(3, 3);
      for (size_t at = 6; at + 6 <= 60; at += 6) {
        const std::string field = line.substr(at, 6);
        if (field.find_first_not_of(' ') != std::string::npos)
          header[current].push_back(std::atoi(field.c_str()));
      }
    }
    EXPECT_EQ(counted, header) << span;
    EXPECT_EQ(static_cast<int>(counted.size()),
              std::atoi(HeaderField(span, "# OF SATELLITES").substr(0, 6).c_str()))
        << span;
  }
}

INSTANTIATE_TEST_SUITE_P(SharedData, RealDataSplitTest, testing::ValuesIn(kCases));

}  // namespace
}  // namespace rawconv
