// Round trip on real data: every RINEX observation file of the shared data
// folder is turned into GPB files of both formats, written back with the
// observation writer and read again. Every epoch time, satellite list and
// value must come back as the original had it, within what each GPB format
// can carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/context.h"
#include "obs/obs_writer.h"
#include "obs/run_date.h"
#include "support/epp_fixture.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

using rnxtest::RinexObsEpoch;
using rnxtest::RinexObsFile;
using rnxtest::RinexObsValue;
using rnxtest::RinexSatObs;

// Names ending in ".yyo" or ".obs".
std::vector<std::string> ObservationFiles() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(RAWCONV_SHARED_DATA_DIR, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t n = name.size();
    if (n < 5) continue;
    const bool rinex_name = name[n - 4] == '.' && std::isdigit(static_cast<unsigned char>(name[n - 3])) &&
                            std::isdigit(static_cast<unsigned char>(name[n - 2])) &&
                            (name[n - 1] == 'o' || name[n - 1] == 'O');
    if (rinex_name || name.substr(n - 4) == ".obs") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Format {
  bool NewFormat;
  int Version;
};

// The eight types the writer knows, in its order.
const char* const kWriterTypes[8] = {"C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2"};

bool FormatCarries(const std::string& type, const Format& f) {
  if (!f.NewFormat && (type == "P1" || type == "S1" || type == "S2")) return false;
  if (f.Version == RINEX_VERSION_2_0 && (type == "S1" || type == "S2")) return false;
  return true;
}

// The original value as the GPB format stores it and the writer prints it.
double ExpectedValue(const std::string& type, const RinexObsValue& v, const Format& f) {
  if (!v.Present) return 0.0;
  if (!f.NewFormat) return v.Value;  // old format: every double stored as it is
  const bool code = type[0] == 'C' || type[0] == 'P';
  const bool phase = type[0] == 'L';
  if (code) return std::fabs(v.Value) > 10.0 ? v.Value : 0.0;
  if (phase) return std::fabs(v.Value) > 0.01 ? v.Value : 0.0;
  if (type == "D1") return static_cast<double>(static_cast<float>(v.Value));
  // C/N0: 0.25 dB-Hz steps up to 63.75.
  return std::min(63.75, std::floor(v.Value / 0.25 + 0.5) * 0.25);
}

double Tolerance(const std::string& type, const Format& f) {
  if (f.NewFormat && type[0] == 'S') return 0.0005;  // already on the 0.25 grid
  return 0.0006;  // both sides are printed with three decimals
}

// The satellites the GPB file keeps, as the writer names them: GPS 1..32 as
// G, GLONASS 1..32 as R with 32 added, at most 24.
std::vector<RinexSatObs> KeptSatellites(const RinexObsEpoch& e) {
  std::vector<RinexSatObs> kept;
  for (const RinexSatObs& s : e.Sats) {
    const int prn = rnxtest::GpbPrnOf(s);
    if (prn == 0 || kept.size() == static_cast<size_t>(kMaxChannels)) continue;
    RinexSatObs k = s;
    k.System = prn > 32 ? 'R' : 'G';
    k.Prn = prn;
    kept.push_back(k);
  }
  return kept;
}

std::vector<const RinexObsEpoch*> ObservationEpochs(const RinexObsFile& f) {
  std::vector<const RinexObsEpoch*> out;
  for (const RinexObsEpoch& e : f.Epochs)
    if (!e.IsEvent()) out.push_back(&e);
  return out;
}

// Full GPS week (counted from 6 January 1980, no rollover) and seconds of
// week of a calendar date.
int FullGpsWeek(int year, int month, int day, double* day_start_of_week) {
  auto days_from_civil = [](long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  };
  const long days = days_from_civil(year, month, day) - days_from_civil(1980, 1, 6);
  *day_start_of_week = static_cast<double>(days % 7) * 86400.0;
  return static_cast<int>(days / 7);
}

class ObsRoundTripTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::memset(&context_, 0, sizeof context_);
    scope_ = new ContextScope(context_);
    SetRunClockForTesting(1133965800);
  }
  void TearDown() override { delete scope_; }

  // Writes the observation file of one GPB file; false when it cannot.
  bool WriteObservationFile(const RinexObsFile& original, const Format& f, const std::string& base,
                            std::string* obs_path) {
    rnxtest::RnxToGpbOptions options;
    options.NewFormat = f.NewFormat;
    gpbtest::GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(original.Header, options);
    rnxtest::RnxToGpbSummary converted;
    rnxtest::ConvertRinexObs(original, options, &gpb, &converted);
    const std::string gpb_path = base + (f.NewFormat ? "_new.gpb" : "_old.gpb");
    *obs_path = base + (f.NewFormat ? "_new.obs" : "_old.obs");
    if (!gpb.Write(gpb_path)) return false;

    ObsRequest request{};
    NavRequest nav{};
    std::snprintf(request.GpbFile, sizeof request.GpbFile, "%s", gpb_path.c_str());
    std::snprintf(request.MarkerName, sizeof request.MarkerName, "%s",
                  original.Header.MarkerName.c_str());

    // The week of the data: from an EPP file whose reference lies in the
    // first epoch's week. Weeks of 2048 and above cannot be named by an
    // ephemeris reference (weeks below 700 are read as 1024 later); for
    // those the user's week override is the only source, as in a
    // conversion call with a fixed week.
    const std::vector<const RinexObsEpoch*> epochs = ObservationEpochs(original);
    if (epochs.empty()) return false;
    const RinexObsEpoch& first = *epochs.front();
    double day_start = 0.0;
    const int week = FullGpsWeek(first.Year, first.Month, first.Day, &day_start);
    const double tow = day_start + first.Hour * 3600.0 + first.Minute * 60.0 + first.Second;
    WeekReference ref{};
    const std::string epp_path = base + ".epp";
    if (week < 2048) {
      const int toe = std::max(1, static_cast<int>(tow));  // toe 0 would mean the next week
      if (!epptest::WriteEppFile(epp_path, {{week, toe}})) return false;
      ref = LookupWeekReference(epp_path.c_str());
      std::remove(epp_path.c_str());
      if (!ref.Found) return false;
    } else {
      Ctx().UseGpsWeek = 1;
      Ctx().GpsWeek = week;
      ref.Week = week;
      ref.FixedWeek = 1;
    }

    ObsHeaderSummary summary{};
    ScanObsSummary(request, &summary);
    std::FILE* out = std::fopen(obs_path->c_str(), "w");
    if (out == nullptr) return false;
    WriteObsHeader(out, request, nav, summary, f.Version, ref);
    WriteObsEpochs(out, request, nav, summary, f.Version, ref);
    std::fclose(out);
    std::remove(gpb_path.c_str());
    return true;
  }

  void Compare(const RinexObsFile& original, const RinexObsFile& ours, const Format& f) {
    // Types: those of the original that the writer knows and the format
    // carries, in the writer's order, and that have a value on the first
    // satellite of some epoch (a header type without any value, like P1 of
    // bell0300.02o, is not listed).
    const std::vector<const RinexObsEpoch*> a = ObservationEpochs(original);
    const std::vector<const RinexObsEpoch*> b = ObservationEpochs(ours);
    std::vector<std::string> types;
    for (const char* t : kWriterTypes) {
      const int k = original.Header.TypeIndex(t);
      if (k < 0 || !FormatCarries(t, f)) continue;
      bool found = false;
      for (size_t i = 0; i < a.size() && !found; ++i) {
        const std::vector<RinexSatObs> kept = KeptSatellites(*a[i]);
        if (!kept.empty() && static_cast<size_t>(k) < kept[0].Values.size())
          found = ExpectedValue(t, kept[0].Values[static_cast<size_t>(k)], f) != 0.0;
      }
      if (found) types.push_back(t);
    }
    ASSERT_EQ(ours.Header.ObsTypes, types);

    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(ours.Header.HasFirstObs);
    EXPECT_EQ(ours.Header.FirstYear, a[0]->Year);
    EXPECT_EQ(ours.Header.FirstMonth, a[0]->Month);
    EXPECT_EQ(ours.Header.FirstDay, a[0]->Day);
    EXPECT_NEAR(ours.Header.FirstSecond, a[0]->Second, 5e-7);

    int failures = 0;
    auto fail = [&](size_t epoch, const std::string& what) {
      if (++failures <= 10) ADD_FAILURE() << "epoch " << epoch << ": " << what;
    };
    for (size_t i = 0; i < a.size() && failures <= 10; ++i) {
      const RinexObsEpoch& x = *a[i];
      const RinexObsEpoch& y = *b[i];
      if (x.Year != y.Year || x.Month != y.Month || x.Day != y.Day || x.Hour != y.Hour ||
          x.Minute != y.Minute || std::fabs(x.Second - y.Second) > 5e-8) {
        char text[128];
        std::snprintf(text, sizeof text, "time %d-%d-%d %d:%d:%.7f written as %d-%d-%d %d:%d:%.7f",
                      x.Year, x.Month, x.Day, x.Hour, x.Minute, x.Second, y.Year, y.Month, y.Day,
                      y.Hour, y.Minute, y.Second);
        fail(i, text);
      }
      const std::vector<RinexSatObs> kept = KeptSatellites(x);
      if (kept.size() != y.Sats.size()) {
        fail(i, "satellite count " + std::to_string(y.Sats.size()) + " instead of " +
                    std::to_string(kept.size()));
        continue;
      }
      for (size_t s = 0; s < kept.size(); ++s) {
        const RinexSatObs& want = kept[s];
        const RinexSatObs& got = y.Sats[s];
        if (want.System != got.System || want.Prn != got.Prn) {
          fail(i, std::string("satellite ") + got.System + std::to_string(got.Prn) +
                      " instead of " + want.System + std::to_string(want.Prn));
          continue;
        }
        for (size_t t = 0; t < types.size(); ++t) {
          const int k = original.Header.TypeIndex(types[t]);
          const RinexObsValue v = static_cast<size_t>(k) < want.Values.size()
                                      ? want.Values[static_cast<size_t>(k)]
                                      : RinexObsValue();
          const double expected = ExpectedValue(types[t], v, f);
          const RinexObsValue& w = got.Values[t];
          if (!w.Present || std::fabs(w.Value - expected) > Tolerance(types[t], f)) {
            char text[160];
            std::snprintf(text, sizeof text, "%c%02d %s: %.4f instead of %.4f", got.System,
                          got.Prn, types[t].c_str(), w.Value, expected);
            fail(i, text);
          }
          // Loss of lock on a phase the format stores comes back as the digit 1.
          const bool lli_kept = types[t] == "L1" || (types[t] == "L2" && f.NewFormat);
          if (lli_kept && expected != 0.0) {
            const bool lost = v.Lli >= 0 && (v.Lli & 1) != 0;
            if (lost != (w.Lli == 1)) fail(i, std::string("loss of lock of ") + types[t]);
          }
        }
      }
    }
    EXPECT_LE(failures, 0) << failures << " mismatches";
  }

  Context context_;
  ContextScope* scope_ = nullptr;
};

TEST_P(ObsRoundTripTest, EveryEpochSatelliteAndValue) {
  const std::string name = GetParam();
  RinexObsFile original;
  std::string error;
  ASSERT_TRUE(rnxtest::ReadRinexObsFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/" + name,
                                        &original, &error))
      << error;
  const std::string base =
      testing::TempDir() + "obs_roundtrip_" + std::to_string(getpid()) + "_" + name;
  for (const Format f : {Format{true, RINEX_VERSION_2_1}, Format{false, RINEX_VERSION_2_0}}) {
    SCOPED_TRACE(f.NewFormat ? "new format, RINEX 2.1" : "old format, RINEX 2.0");
    Ctx().UseGpsWeek = 0;
    std::string obs_path;
    ASSERT_TRUE(WriteObservationFile(original, f, base, &obs_path));
    RinexObsFile ours;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(obs_path, &ours, &error)) << error;
    Compare(original, ours, f);
    std::remove(obs_path.c_str());
  }
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(SharedData, ObsRoundTripTest, testing::ValuesIn(ObservationFiles()),
                         TestName);

// The data folder is there and holds observation files: a round trip that
// silently found nothing would prove nothing.
TEST(ObsRoundTripDataTest, ObservationFilesPresent) {
  EXPECT_GE(ObservationFiles().size(), 9u);
}

}  // namespace
}  // namespace rawconv
