// The value fields of both writers with the inline fast path against the
// snprintf reference formatting: whole files from old-format GPB data, whose
// channel values reach the writers unfiltered (NaN, infinities, texts wider
// than the columns, thousandths ties), must be the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "obs/obs_writer.h"
#include "obs/rinex3_obs.h"
#include "obs_test_util.h"
#include "sink/sink.h"
#include "support/gpb_builder.h"

namespace rawconv {
namespace obstest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values where the fast path hands over to the exact one, and its limits.
const double kEdgeValues[] = {
    kNaN, -kNaN, kInf, -kInf, 1e20, -1e20, 1e13, -1e12, 9999999999.9994, 9999999999.9996,
    -999999999.9994, -999999999.9996, 999999999.9995, 1234.5625, -1234.5625, 1234.5635, 0.0005,
    -0.0004, -0.0, 5e-324, 4503599627370.4955, 21999999.8155, 0.0625, -8.0625};

class ObsValueFieldsTest : public ObsFileTest {
 protected:
  // Old-format epochs: C1, L1, D1, P2 and L2 of every channel are stored as
  // doubles and reach the writers as they are.
  void WriteChannels(const std::vector<std::vector<GpbChannel>>& epochs) {
    gpbtest::GpbFileBuilder b = gpbtest::GpbFileBuilder::Old();
    for (size_t i = 0; i < epochs.size(); ++i) {
      const GpbEpoch e = gpbtest::MakeEpoch(kT0 + 30.0 * static_cast<double>(i));
      b.AddEpoch(e, epochs[i].data(), static_cast<int>(epochs[i].size()));
    }
    WriteGpb(b);
  }

  std::string Convert3() {
    ScanObsSummary(request_, &summary_);
    std::FILE* out = std::fopen(request_.ObsFile.c_str(), "w");
    if (out == nullptr) return "";
    StdioSink sink(out);
    WriteObs3Header(sink, request_, summary_, 304, TestReference(), &edits_);
    WriteObs3Epochs(sink, request_, summary_, 304, TestReference(), &edits_);
    sink.Finish();
    std::fclose(out);
    return ReadText(request_.ObsFile);
  }

  // One version (1, 2: RINEX 2.0, 2.1; 3: RINEX 3.04) with either formatter.
  std::string Body(int version, bool reference) {
    edits_.ReferenceFormatting = reference ? 1 : 0;
    const std::string file = version == 3 ? Convert3() : Convert(version);
    edits_.ReferenceFormatting = 0;
    return ObsFileTest::Body(file);
  }

  // Every version: the fast path writes what snprintf writes. Returns the
  // RINEX 2.1 body.
  std::string ExpectSameInEveryVersion() {
    std::string v21;
    for (int version : {static_cast<int>(RINEX_VERSION_2_0), static_cast<int>(RINEX_VERSION_2_1), 3}) {
      SCOPED_TRACE("version " + std::to_string(version));
      const std::string fast = Body(version, false);
      const std::string reference = Body(version, true);
      EXPECT_GT(fast.size(), 100u);
      EXPECT_EQ(fast, reference);
      if (version == RINEX_VERSION_2_1) v21 = fast;
    }
    return v21;
  }
};

// Each edge value in every field beside ordinary values, then random
// channels mixing receiver-like values, neighbours of thousandths ties and
// values around the widths the columns hold.
TEST_F(ObsValueFieldsTest, EdgeAndRandomValuesMatchReference) {
  std::vector<std::vector<GpbChannel>> epochs;
  for (double v : kEdgeValues) {
    epochs.push_back({MakeChannel(3, v, v, v, 0.0, v, v),
                      MakeChannel(7, 21000000.125, v, -v, 0.0, 21000001.5, 1234.5),
                      MakeChannel(9, 1e20, 123456789012.5, -v, 0.0, v, -v)});
  }
  std::mt19937_64 rng(1346);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto value = [&]() -> double {
    const double sign = (rng() & 1) ? -1.0 : 1.0;
    switch (rng() % 4) {
      case 0:
        return sign * (2.0e7 + 6.0e6 * unit(rng));
      case 1:
        return sign * std::nextafter((static_cast<double>(rng() % 1000000000u) + 0.5) / 1000.0,
                                     (rng() & 1) ? kInf : -kInf);
      case 2:
        return sign * std::pow(10.0, 7.0 + 6.0 * unit(rng));
      default:
        return kEdgeValues[rng() % (sizeof kEdgeValues / sizeof kEdgeValues[0])];
    }
  };
  for (int k = 0; k < 150; ++k) {
    std::vector<GpbChannel> channels;
    for (int prn = 1; prn <= 12; ++prn) {
      channels.push_back(MakeChannel(prn, value(), value(), value(), 0.0, value(), value()));
    }
    epochs.push_back(channels);
  }
  WriteChannels(epochs);
  const std::string body = ExpectSameInEveryVersion();
  // C1 is written whole however wide; the other fields keep their 14 columns.
  EXPECT_NE(body.find("100000000000000000000.000"), std::string::npos);
  EXPECT_NE(body.find("  1234.562 "), std::string::npos);  // a tie, to even
  EXPECT_NE(body.find("        -0.000"), std::string::npos);
  EXPECT_NE(body.find("           nan"), std::string::npos);
}

}  // namespace
}  // namespace obstest
}  // namespace rawconv
