// Windows and decimation on real data, checked against a reader we did not
// write: RTKLIB's convbin cuts and decimates our unedited RINEX 2.11 file
// (-ts/-te/-ti), and our edited file must hold exactly its epochs,
// satellites and values. The full-header counts of the edited file must
// equal the counts made here from its epochs.
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
#include "obs/obs_writer.h"
#include "obs/run_date.h"
#include "select/selection.h"
#include "sink/sink.h"
#include "support/obs_compare.h"
#include "support/real_data_fixture.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

struct WindowCase {
  const char* Obs;
  double StartAfterFirst;  // seconds after the first epoch, rounded up to a minute
  double Length;           // seconds
  double Interval;
};

const WindowCase kCases[] = {
    {"yamatogawa_master.obs", 0.0, 180.0, 5.0},    // 1 s data to 5 s
    {"07590920.05o", 300.0, 1800.0, 60.0},         // clock a few ms off
    {"usno0200.05o", 7200.0, 3 * 3600.0, 300.0},   // a day, cut to three hours
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.Obs; }

bool HasProgram(const char* name) {
  const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// GPS seconds of a RINEX epoch.
double GpsTimeOf(const rnxtest::RinexObsEpoch& e) {
  double day_start = 0.0;
  const int week = obscompare::FullGpsWeek(e.Year, e.Month, e.Day, &day_start);
  return GpsSeconds(week, day_start + e.Hour * 3600.0 + e.Minute * 60.0 + e.Second);
}

// "yyyy/mm/dd hh:mm:ss" of GPS seconds, for convbin.
std::string ConvbinTime(double gps_seconds, std::string* date) {
  const long whole = static_cast<long>(std::floor(gps_seconds));
  const long days = whole / 86400 + 3657;  // days since 1970-01-01
  // Civil date of a day count (1970-01-01 = 0).
  const long z = days + 719468;
  const long era = z / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp + (mp < 10 ? 3 : -9);
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  const long sod = whole % 86400;
  char text[64];
  std::snprintf(text, sizeof text, "%04ld/%02ld/%02ld", y, m, d);
  *date = text;
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", sod / 3600, sod / 60 % 60, sod % 60);
  return text;
}

std::vector<const rnxtest::RinexObsEpoch*> Observations(const rnxtest::RinexObsFile& f) {
  std::vector<const rnxtest::RinexObsEpoch*> out;
  for (const auto& e : f.Epochs)
    if (!e.IsEvent()) out.push_back(&e);
  return out;
}

class RealDataWindowTest : public realdata::RealDataTest<WindowCase> {
 protected:
  RealDataWindowTest() : RealDataTest("rawconv_window") {}

  void Write(const ObsInput& request, const WeekReference& ref, const ObsEdits* edits,
             const std::string& path) {
    ObsHeaderSummary summary{};
    if (edits != nullptr) {
      ScanObsSummary(request, &summary, ref, *edits);
    } else {
      ScanObsSummary(request, &summary);
    }
    std::FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    WriteObsHeader(out, request, summary, RINEX_VERSION_2_1, ref, edits);
    WriteObsEpochs(out, request, summary, RINEX_VERSION_2_1, ref, edits);
    std::fclose(out);
  }
};

TEST_P(RealDataWindowTest, SameEpochsAndValuesAsConvbin) {
  if (!HasProgram("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) not installed";
  const WindowCase& c = GetParam();
  const std::string original = std::string(RAWCONV_SHARED_DATA_DIR) + "/" + c.Obs;
  rnxtest::RinexObsFile source;
  std::string error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(original, &source, &error)) << error;
  const auto source_epochs = Observations(source);
  ASSERT_FALSE(source_epochs.empty());

  ObsInput request;
  request.GpbFile = Path("x.gpb");
  request.MarkerName = "TEST";
  rnxtest::RnxToGpbSummary converted;
  ASSERT_TRUE(rnxtest::ConvertRinexObsFileToGpb(original, request.GpbFile, {}, &converted, &error))
      << error;

  // The week of the data, fixed.
  const double first = GpsTimeOf(*source_epochs.front());
  WeekReference ref{};
  ref.Found = 1;
  ref.FixedWeek = 1;
  ref.Week = static_cast<int>(std::floor(first / kSecondsPerGpsWeek));

  Write(request, ref, nullptr, Path("plain.obs"));

  Selection s{};
  s.HasFrom = 1;
  s.From = std::ceil((first + c.StartAfterFirst) / 60.0) * 60.0;
  s.HasTo = 1;
  s.To = s.From + c.Length;
  s.Interval = c.Interval;
  const ObsEdits edits{&s, nullptr, 1, 0, 0};
  Write(request, ref, &edits, Path("edited.obs"));

  // convbin keeps an epoch within its tolerance of -te: the end is given
  // half an interval early, which our end-exclusive window means.
  std::string from_date, to_date;
  const std::string from_time = ConvbinTime(s.From, &from_date);
  const std::string to_time = ConvbinTime(s.To - c.Interval / 2.0, &to_date);
  char interval[32];
  std::snprintf(interval, sizeof interval, "%g", c.Interval);
  const std::string command = "convbin -r rinex '" + Path("plain.obs") + "' -ts " + from_date +
                              " " + from_time + " -te " + to_date + " " + to_time + " -ti " +
                              interval + " -v 2.11 -od -os -o '" + Path("convbin.obs") +
                              "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  rnxtest::RinexObsFile ours, theirs;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(Path("edited.obs"), &ours, &error)) << error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(Path("convbin.obs"), &theirs, &error)) << error;
  const auto a = Observations(ours);
  const auto b = Observations(theirs);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_GE(a.size(), 10u);
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_NEAR(GpsTimeOf(*a[i]), GpsTimeOf(*b[i]), 1e-6) << "epoch " << i;
    std::map<std::string, const rnxtest::RinexSatObs*> their_sats;
    for (const auto& sat : b[i]->Sats)
      their_sats[std::string(1, sat.System) + std::to_string(sat.Prn)] = &sat;
    ASSERT_EQ(a[i]->Sats.size(), their_sats.size()) << "epoch " << i;
    for (const auto& sat : a[i]->Sats) {
      const auto found = their_sats.find(std::string(1, sat.System) + std::to_string(sat.Prn));
      ASSERT_NE(found, their_sats.end()) << "epoch " << i;
      for (size_t t = 0; t < ours.Header.ObsTypes.size(); ++t) {
        const int k = theirs.Header.TypeIndex(ours.Header.ObsTypes[t]);
        if (k < 0) continue;
        const rnxtest::RinexObsValue& mine = sat.Values[t];
        const rnxtest::RinexObsValue& other = found->second->Values[k];
        // convbin leaves out an L2 phase that comes without a P2 code (its
        // own reading of RINEX 2 L2); every other value must match.
        const int p2 = ours.Header.TypeIndex("P2");
        if (!other.Present && ours.Header.ObsTypes[t] == "L2" &&
            (p2 < 0 || !sat.Values[p2].Present || sat.Values[p2].Value == 0.0))
          continue;
        const double x = mine.Present ? mine.Value : 0.0;
        const double y = other.Present ? other.Value : 0.0;
        EXPECT_NEAR(x, y, 0.0011) << "epoch " << i << " " << ours.Header.ObsTypes[t];
      }
    }
  }

  // The full header's counts against the epochs of the same file.
  std::map<int, std::vector<int>> counted;
  for (const auto* e : a) {
    for (const auto& sat : e->Sats) {
      std::vector<int>& n = counted[sat.Prn];
      n.resize(ours.Header.ObsTypes.size(), 0);
      for (size_t t = 0; t < sat.Values.size(); ++t)
        n[t] += sat.Values[t].Present && sat.Values[t].Value != 0.0 ? 1 : 0;
    }
  }
  std::map<int, std::vector<int>> header;
  int satellites = -1;
  for (const std::string& line : ours.Header.Lines) {
    if (line.compare(60, 15, "# OF SATELLITES") == 0) satellites = std::atoi(line.substr(0, 6).c_str());
    if (line.compare(60, 14, "PRN / # OF OBS") != 0) continue;
    std::vector<int>& n = header[std::atoi(line.substr(4, 2).c_str())];
    for (size_t t = 0; t < ours.Header.ObsTypes.size(); ++t)
      n.push_back(std::atoi(line.substr(6 + 6 * t, 6).c_str()));
  }
  EXPECT_EQ(header, counted);
  EXPECT_EQ(satellites, static_cast<int>(counted.size()));
}

INSTANTIATE_TEST_SUITE_P(SharedData, RealDataWindowTest, testing::ValuesIn(kCases));

}  // namespace
}  // namespace rawconv
