// RINEX 3 on real data, proven by readers we did not write: every
// observation/navigation pair of the shared data folder is turned into GPB
// and EPP input and written by our RINEX 2.1 and RINEX 3.04 writers. The
// single-point solver must compute the same positions from both pairs, and
// the RINEX 3 observation file converted back to RINEX 2.11 by convbin must
// carry the values of our RINEX 2 file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include <unistd.h>

#include "api/context.h"
#include "ephem/nav3_writer.h"
#include "ephem/nav_writer.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs/run_date.h"
#include "sink/crx_sink.h"
#include "sink/sink.h"
#include "support/crx_decoder.h"
#include "support/epp_fixture.h"
#include "support/obs_compare.h"
#include "support/outside_readers.h"
#include "support/rinex_nav.h"
#include "support/real_data.h"
#include "support/real_data_fixture.h"
#include "support/rinex_obs.h"
#include "support/rnx_to_gpb.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

using namespace realdata;

using outside::ReadPositions;
using outside::RunQuiet;

class Rinex3RealDataTest : public realdata::RealDataTest<DataPair> {
 protected:
  Rinex3RealDataTest() : RealDataTest("rawconv_rnx3", "KEEP_RNX3") {}

  // The week of the data as the conversion would find it: an ephemeris
  // reference in the first epoch's week, or the week override for weeks an
  // ephemeris reference cannot name (2048 on).
  bool Reference(const rnxtest::RinexObsFile& original, WeekReference* ref) {
    const auto epochs = obscompare::ObservationEpochs(original);
    if (epochs.empty()) return false;
    const rnxtest::RinexObsEpoch& first = *epochs.front();
    double day_start = 0.0;
    const int week = obscompare::FullGpsWeek(first.Year, first.Month, first.Day, &day_start);
    const double tow = day_start + first.Hour * 3600.0 + first.Minute * 60.0 + first.Second;
    *ref = WeekReference{};
    if (week < 2048) {
      const std::string epp = Path("ref.epp");
      if (!epptest::WriteEppFile(epp, {{week, std::max(1, static_cast<int>(tow))}})) return false;
      *ref = LookupWeekReference(epp.c_str());
      return ref->Found != 0;
    }
    ref->Week = week;
    ref->FixedWeek = 1;
    return true;
  }

  // Writes x2.obs/x2.nav (RINEX 2.1) and x3.obs/x3.nav (RINEX 3.04).
  void WriteBoth(const ObsInput& request, const WeekReference& ref) {
    ObsHeaderSummary summary{};
    ScanObsSummary(request, &summary);
    std::FILE* out = std::fopen(Path("x2.obs").c_str(), "w");
    ASSERT_NE(out, nullptr);
    WriteObsHeader(out, request, summary, RINEX_VERSION_2_1, ref);
    WriteObsEpochs(out, request, summary, RINEX_VERSION_2_1, ref);
    std::fclose(out);

    out = std::fopen(Path("x3.obs").c_str(), "w");
    ASSERT_NE(out, nullptr);
    StdioSink sink3(out);
    EXPECT_EQ(WriteObs3Header(sink3, request, summary, 304, ref), 0);
    EXPECT_EQ(WriteObs3Epochs(sink3, request, summary, 304, ref), 0);
    sink3.Finish();
    std::fclose(out);

    for (const bool v3 : {false, true}) {
      std::FILE* epp = std::fopen(Path("x.epp").c_str(), "r");
      ASSERT_NE(epp, nullptr);
      std::FILE* nav_out = std::fopen(Path(v3 ? "x3.nav" : "x2.nav").c_str(), "w");
      ASSERT_NE(nav_out, nullptr);
      StdioSink sink(nav_out);
      if (v3) {
        EXPECT_EQ(WriteNav3Header(sink, "", 304), 0);
        EXPECT_EQ(ConvertEppToNav3(epp, sink, 304), 0);
      } else {
        EXPECT_EQ(WriteNavHeader(sink, ""), 0);
        EXPECT_EQ(ConvertEppToNav(epp, sink, 2), 0);
      }
      sink.Finish();
      std::fclose(nav_out);
      std::fclose(epp);
    }
  }

  void ComparePositions() {
    for (const std::string v : {"2", "3"}) {
      ASSERT_TRUE(outside::SolveGpsPositions(Path("x" + v + ".obs"), Path("x" + v + ".nav"),
                                             Path("spp.conf"), Path("p" + v)));
    }
    const auto a = ReadPositions(Path("p2"));
    const auto b = ReadPositions(Path("p3"));
    EXPECT_EQ(a.size(), b.size());
    double worst = 0.0;
    for (const auto& [epoch, p] : a) {
      auto it = b.find(epoch);
      if (it == b.end()) {
        ADD_FAILURE() << "no RINEX 3 position at " << epoch;
        continue;
      }
      worst = std::max(worst, std::sqrt(std::pow(p[0] - it->second[0], 2) +
                                        std::pow(p[1] - it->second[1], 2) +
                                        std::pow(p[2] - it->second[2], 2)));
    }
    EXPECT_LT(worst, 0.001) << "largest position difference " << worst << " m";
    std::printf("%zu positions, largest difference %.6f m\n", a.size(), worst);
  }

  // convbin's RINEX 2.11 copy of our RINEX 3 file against our RINEX 2 file:
  // every epoch, satellite (GLONASS by slot there, by GPB number in ours)
  // and value of every type both carry.
  void CompareConvbinCopy() {
    ASSERT_TRUE(RunQuiet("convbin -r rinex -v 2.11 -o '" + Path("back.obs") + "' '" + Path("x3.obs") + "'"));
    rnxtest::RinexObsFile ours, back;
    std::string error;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(Path("x2.obs"), &ours, &error)) << error;
    ASSERT_TRUE(rnxtest::ReadRinexObsFile(Path("back.obs"), &back, &error)) << error;
    const auto a = obscompare::ObservationEpochs(ours);
    const auto b = obscompare::ObservationEpochs(back);
    ASSERT_EQ(a.size(), b.size());
    long compared = 0;
    long dropped = 0;
    for (size_t e = 0; e < a.size(); ++e) {
      const rnxtest::RinexObsEpoch& x = *a[e];
      const rnxtest::RinexObsEpoch& y = *b[e];
      ASSERT_EQ(x.Year, y.Year);
      ASSERT_EQ(x.Month * 100 + x.Day, y.Month * 100 + y.Day);
      ASSERT_EQ(x.Hour * 60 + x.Minute, y.Hour * 60 + y.Minute);
      ASSERT_NEAR(x.Second, y.Second, 1e-7) << "epoch " << e;
      std::map<std::string, const rnxtest::RinexSatObs*> by_sat;
      for (const auto& s : y.Sats) by_sat[std::string(1, s.System) + std::to_string(s.Prn)] = &s;
      for (const auto& s : x.Sats) {
        const int prn = s.System == 'R' ? s.Prn - 32 : s.Prn;
        const auto it = by_sat.find(std::string(1, s.System) + std::to_string(prn));
        ASSERT_NE(it, by_sat.end()) << "epoch " << e << " satellite " << s.System << s.Prn;
        for (size_t t = 0; t < ours.Header.ObsTypes.size(); ++t) {
          const int k = back.Header.TypeIndex(ours.Header.ObsTypes[t]);
          if (k < 0) continue;
          const rnxtest::RinexObsValue& v = s.Values[t];
          const rnxtest::RinexObsValue& w = it->second->Values[static_cast<size_t>(k)];
          const double ours_value = v.Present ? v.Value : 0.0;
          const double back_value = w.Present ? w.Value : 0.0;
          if (back_value == 0.0 && ours_value != 0.0) {
            // convbin keeps one signal per frequency: an L1C phase of a
            // satellite whose C1C is missing goes with the C1W signal.
            ++dropped;
            continue;
          }
          ASSERT_NEAR(ours_value, back_value, 0.0005)
              << "epoch " << e << " " << s.System << s.Prn << " " << ours.Header.ObsTypes[t];
          // Our loss of lock survives; convbin adds its own at the first
          // epoch of a satellite and after gaps, so only this direction holds.
          if (v.Lli == 1) {
            EXPECT_TRUE(w.Lli >= 0 && (w.Lli & 1) != 0)
                << "epoch " << e << " " << s.System << s.Prn << " " << ours.Header.ObsTypes[t];
          }
          ++compared;
        }
      }
    }
    EXPECT_GT(compared, 0);
    EXPECT_LE(dropped * 20, compared) << dropped << " values missing of " << compared;
    std::printf("%ld values equal, %ld missing in the copy\n", compared, dropped);
  }

  // Our observation file through the Compact RINEX encoder (1.0 for RINEX 2,
  // 3.0 for RINEX 3) and back through the independent decoder: the same
  // text apart from the trailing blanks of lines.
  void ExpectCompactRinexRoundTrip(const char* name) {
    SCOPED_TRACE(name);
    std::string plain;
    if (std::FILE* f = std::fopen(Path(name).c_str(), "rb")) {
      char buffer[65536];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) plain.append(buffer, n);
      std::fclose(f);
    }
    ASSERT_FALSE(plain.empty());
    struct TextSink final : Sink {
      std::string Text;
      bool Write(const char* data, size_t length) override {
        Text.append(data, length);
        return true;
      }
      bool Finish() override { return true; }
      void Abort() override {}
    } compact;
    CrxSink crx(&compact);
    ASSERT_TRUE(crx.Write(plain.data(), plain.size()));
    ASSERT_TRUE(crx.Finish()) << crx.Error();
    rawconv_test::CrxDecoder decoder;
    std::string back;
    ASSERT_TRUE(decoder.Decode(compact.Text, &back)) << decoder.Error();
    EXPECT_TRUE(back == rawconv_test::TrimLines(plain));
  }
};

TEST_P(Rinex3RealDataTest, SamePositionsAndValuesAsRinex2) {
  if (!HasProgram("rnx2rtkp") || !HasProgram("convbin")) GTEST_SKIP() << "rtklib not installed";
  const DataPair pair = GetParam();
  rnxtest::RinexObsFile original;
  MakeGpbInput(pair, "x", &original);
  if (HasFatalFailure()) return;

  ObsInput request;
  request.GpbFile = Path("x.gpb");
  request.MarkerName = original.Header.MarkerName;
  WeekReference ref{};
  ASSERT_TRUE(Reference(original, &ref));
  WriteBoth(request, ref);
  if (HasFatalFailure()) return;
  ComparePositions();
  CompareConvbinCopy();
  ExpectCompactRinexRoundTrip("x2.obs");
  ExpectCompactRinexRoundTrip("x3.obs");
}

std::string PairName(const testing::TestParamInfo<DataPair>& info) {
  std::string name;
  for (const char* c = info.param.Obs; *c; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(SharedData, Rinex3RealDataTest, testing::ValuesIn(kPairs), PairName);

}  // namespace
}  // namespace rawconv
