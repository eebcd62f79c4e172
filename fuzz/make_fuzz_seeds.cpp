// Writes the seed corpora of the fuzz targets, one directory per target:
//
//   make_fuzz_seeds SOURCE_DIR SHARED_DATA_DIR OUT_DIR
//
// The seeds come from the test fixture builders (GPB files of both formats,
// EPP files), the shipped example files and, when the shared real data is
// there, a few epochs and records of real RINEX files turned into GPB and EPP
// by the same code as the rnx2gpb and nav2epp tools. Seeds are kept small:
// the fuzzer mutates them, and short inputs run fast.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/epp_fixture.h"
#include "support/gpb_builder.h"
#if defined(RAWCONV_HAVE_GZIP_INPUT)
#include "support/gzip_bytes.h"
#endif
#include "support/rinex_nav.h"
#include "support/rnx_to_gpb.h"

using namespace rawconv;
using gpbtest::ByteVec;
using gpbtest::GpbFileBuilder;

namespace {

std::string g_out;

ByteVec Bytes(const std::string& text) { return ByteVec(text.begin(), text.end()); }

std::string ReadText(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void Seed(const char* target, const std::string& name, const ByteVec& bytes) {
  const std::string dir = g_out + "/" + target;
  mkdir(g_out.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  if (!gpbtest::WriteBytes(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    std::exit(1);
  }
}

// ---------------------------------------------------------------- GPB

void FillChannels(GpbChannel* ch, int n, int epoch, bool glonass) {
  for (int k = 0; k < n; ++k) {
    GpbChannel& c = ch[k];
    c = GpbChannel{};
    c.Prn = glonass && k == n - 1 ? 40 : 2 + 3 * k;
    c.ObsMask = kObsC1 | kObsL1 | kObsD1 | kObsLock1 | kObsCn0L1 | kObsP1 | kObsP2 | kObsL2 |
                kObsLock2 | kObsCn0L2;
    c.C1 = 21000000.0 + 1234.5 * k + 10.0 * epoch;
    c.L1 = -110000000.25 - 1000.0 * k - 50.0 * epoch;
    c.D1 = -1234.5 + k;
    c.LockTime1 = c.LockTime2 = 30.0 * (epoch + 1);
    c.LockSec1 = static_cast<uint8_t>(30 * (epoch + 1));
    c.Cn0L1 = 45.25;
    c.Cn0L2 = 38.5;
    c.P1 = c.C1 + 0.5;
    c.P2 = c.C1 + 3.25;
    c.L2 = c.L1 * 0.779;
  }
}

GpbFileBuilder Sample(bool is_new, int receiver, int epochs, int channels, bool with_l2,
                      bool kinematic_middle = false) {
  GpbFileBuilder file = is_new ? GpbFileBuilder::New(receiver, "SEED RECEIVER 1.0")
                               : GpbFileBuilder::Old(receiver);
  for (int i = 0; i < epochs; ++i) {
    const int16_t flags = static_cast<int16_t>(
        kEpochPositionValid | (kinematic_middle && i == 1 ? kEpochKinematic : 0));
    GpbEpoch e = gpbtest::MakeEpoch(518400.0 + 30.0 * i, 38.92, -77.07, 58.5f, flags);
    e.ClockRefTime = e.RcvTime;
    e.ClockBias = 150.0;
    GpbChannel ch[kMaxChannels];
    FillChannels(ch, channels, i, i == 2);
    file.AddEpoch(e, ch, channels, with_l2);
  }
  return file;
}

// The first epochs of a real observation file, through the rnx2gpb code.
bool RealGpb(const std::string& rinex_path, bool is_new, int epochs, ByteVec* out) {
  rnxtest::RinexObsFile rinex;
  std::string error;
  if (!Exists(rinex_path) || !rnxtest::ReadRinexObsFile(rinex_path, &rinex, &error)) return false;
  if (rinex.Epochs.size() > static_cast<size_t>(epochs)) rinex.Epochs.resize(epochs);
  rnxtest::RnxToGpbOptions options;
  options.NewFormat = is_new;
  GpbFileBuilder gpb = rnxtest::MakeGpbFileFor(rinex.Header, options);
  rnxtest::RnxToGpbSummary summary;
  rnxtest::ConvertRinexObs(rinex, options, &gpb, &summary);
  *out = gpb.Bytes();
  return true;
}

// ---------------------------------------------------------------- EPP

std::string HostileEpp() {
  return "$EPHREC 1 0\n"
         "GpsEph {\n"
         "  PRN: 0x1f\n"
         "  El1: 1e308 017 nan 99999999999 -0\n"
         "  El2: inf -inf 1e-320\n"
         "  El3: 12 9.99999999999951e98 -1.7976931348623157e308 4.9e-324\n"
         "  El4: 0.5 -0.0 1e99 1e-99\n"
         "  El5: 604800 .5 -.5 +1.e+5\n"
         "  El6: NAN -nan 1e100 -1e-100 123456789012345678901234567890\n"
         "}\n";
}

std::string SixLineEpp() {
  return " 3 1316 0.0 0.0\n line2\n line3\n line4\n518400 0.0 0.0\n line6\n"
         "17 1316 1 2 3\n a\n b\n c\n 525600 x\n d\n";
}

// The first records of a real navigation file, through the nav2epp code.
bool RealEpp(const std::string& nav_path, int records, std::string* out) {
  rinexnav::NavFile nav;
  std::string error;
  if (!Exists(nav_path) || !rinexnav::ReadNavFile(nav_path, nav, error)) return false;
  if (nav.Records.size() > static_cast<size_t>(records)) nav.Records.resize(records);
  *out = rinexnav::EppFileText(nav);
  return true;
}

// The text up to and including the n-th line that holds only "}".
std::string FirstBlocks(const std::string& text, int n) {
  size_t at = 0;
  for (int i = 0; i < n; ++i) {
    const size_t found = text.find("\n}\n", at);
    if (found == std::string::npos) return text;
    at = found + 3;
  }
  return text.substr(0, at);
}

// ---------------------------------------------------------------- stations

std::string AllKindsStation() {
  return "$STAINFO seed\n"
         "hdr {\n  Time: 23:50:00 LOCAL\n  Date: 04/01/05\n  Proj: \"seed project\"\n"
         "  User: me\n  RxName: rx\n  RxSub: sub\n}\n"
         "sta {\n  ID: \"Base 1\" ; comment }\n  Desc: d\n  Rem: r\n  GTim: 518430.0 1316\n"
         "  Pos: 38.9 -77.0 50.0 ELL\n  Mode: RTFX\n  Std: 1 2 3\n  Age: 1.5\n"
         "  Hi: 1.465 SLANT\n  Ant: 0.1 0.2 ANT1\n  Nsv: 1 2 3\n  Dop: 1,2,3\n  Rms: 1 2\n"
         "  Vel: 1 90 3\n  OffL: 1 2 3\n  Att: 1 2 3\n  Enable: 1\n}\n"
         "mrk {\n  Event: \"check point\"\n  UTim: 518460.0\n  Hi: 1.2\n}\n"
         "gis {\n  Count: 7\n  Type: LINE START CW\n  Feat: Road\n  Attrib: a\n  Value: v\n"
         "  Rem: r\n  GTim: 518400 1316\n}\n"
         "gis { Feat: Fence\n  GTim: 518401\n}\n"
         "rtk {\n  GTim: 518402 1316\n  Pos: 1 2 3\n}\n"
         "other {\n  GTim: 1\n}\n";
}

std::string StaList() {
  return "Station list\n"
         "STA: *518400.0*\"0759\"*1.465*\"first comment\"*\"second comment\"*\n"
         "STA: *518430*'MT01'*2.0*\"c1\"*\"c2\"*\r\n"
         "words between STA: *518460*\"AB\"*\n"
         "STA:\n";
}

// ---------------------------------------------------------------- conversion

ByteVec Pack(uint8_t options, const ByteVec& gpb, const std::string& epp,
             const std::string& station) {
  ByteVec out;
  out.push_back(options);
  out.push_back(static_cast<uint8_t>(gpb.size() & 0xFF));
  out.push_back(static_cast<uint8_t>(gpb.size() >> 8));
  out.push_back(static_cast<uint8_t>(epp.size() & 0xFF));
  out.push_back(static_cast<uint8_t>(epp.size() >> 8));
  out.insert(out.end(), gpb.begin(), gpb.end());
  out.insert(out.end(), epp.begin(), epp.end());
  out.insert(out.end(), station.begin(), station.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_fuzz_seeds SOURCE_DIR SHARED_DATA_DIR OUT_DIR\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string shared = argv[2];
  g_out = argv[3];

  // GPB files of both formats, sound and damaged.
  const ByteVec new_l2 = Sample(true, 6, 3, 5, true).Bytes();
  const ByteVec new_l1 = Sample(true, 31, 3, 4, false, true).Bytes();
  const ByteVec old_rebuild = Sample(false, 31, 3, 4, false).Bytes();
  Seed("gpb", "new_l1l2", new_l2);
  Seed("gpb", "new_l1_kinematic", new_l1);
  Seed("gpb", "old_clock_rebuild", old_rebuild);
  Seed("gpb", "old_plain", Sample(false, 2, 2, 2, false, true).Bytes());
#if defined(RAWCONV_HAVE_GZIP_INPUT)
  // gzip files are read as the files they hold: one sound, one cut short.
  {
    const std::string packed = gztest::Gzip(std::string(new_l2.begin(), new_l2.end()), 2);
    Seed("gpb", "new_l1l2_gzip", ByteVec(packed.begin(), packed.end()));
    Seed("gpb", "new_l1l2_gzip_cut", ByteVec(packed.begin(), packed.end() - 9));
  }
#endif
  {
    GpbFileBuilder damaged = Sample(true, 6, 3, 2, true);
    gpbtest::SetChecksum(damaged.Record(1), 0x1234);
    Seed("gpb", "new_bad_checksum", damaged.Bytes());
    GpbFileBuilder truncated = Sample(false, 2, 2, 3, false);
    truncated.TruncateBy(10);
    Seed("gpb", "old_truncated", truncated.Bytes());
    GpbFileBuilder empty = GpbFileBuilder::New(40, "");
    GpbEpoch e = gpbtest::MakeEpoch(0.0);
    empty.AddEpoch(e, nullptr, 0, false);
    Seed("gpb", "new_no_channels", empty.Bytes());
  }
  {
    ByteVec sample = Bytes(ReadText(source + "/examples/sample.gpb"));
    if (sample.size() > 2048) sample.resize(2048);
    if (!sample.empty()) Seed("gpb", "example_start", sample);
  }
  ByteVec real_new, real_old;
  const bool have_real_gpb = RealGpb(shared + "/07590920.05o", true, 2, &real_new) &&
                             RealGpb(shared + "/07590920.05o", false, 2, &real_old);
  if (have_real_gpb) {
    Seed("gpb", "real_new", real_new);
    Seed("gpb", "real_old", real_old);
  }

  // EPP files: fixture, example, real records, plain six-line layout, odd
  // numbers.
  const std::string fixture_epp =
      epptest::EppText({{1316, 518400, 3}, {1316, 525600, 7}, {292, 0, 9}});
  const std::string example_epp = FirstBlocks(ReadText(source + "/examples/sample.epp"), 3);
  Seed("epp", "fixture", Bytes(fixture_epp));
  if (!example_epp.empty()) Seed("epp", "example_start", Bytes(example_epp));
  Seed("epp", "hostile_numbers", Bytes(HostileEpp()));
  Seed("epp", "six_line_layout", Bytes(SixLineEpp()));
  std::string real_epp;
  if (RealEpp(shared + "/07590920.05n", 2, &real_epp)) Seed("epp", "real", Bytes(real_epp));

  // Block files.
  const std::string example_sta = ReadText(source + "/examples/sample.sta");
  Seed("block", "fixture_epp", Bytes(fixture_epp));
  if (!example_sta.empty()) Seed("block", "example_sta", Bytes(example_sta));
  Seed("block", "all_kinds", Bytes(AllKindsStation()));
  Seed("block", "edge_lines",
       Bytes("name{\n  name {\ngis { Feat: Road\nRem: ; nothing\n; only a comment {\n"
             "ID: \"A B\"\nPos: 1.0 2.0\nP: 1,2,3\n}\n"));

  // Station files of both layouts.
  if (!example_sta.empty()) Seed("station", "example", Bytes(example_sta));
  Seed("station", "all_kinds", Bytes(AllKindsStation()));
  Seed("sta_list", "list", Bytes(StaList()));

  // Site logs: the real public ones of the tests, and station tables.
  for (const char* log : {"fyha_20161220.log", "abmf_20240710.log", "abmf00glp_20240710.log",
                          "aggo00arg_20230608.log"}) {
    const std::string text = ReadText(source + "/tests/data/sitelogs/" + log);
    if (!text.empty()) Seed("sitelog", log, Bytes(text));
  }
  Seed("station_csv", "network",
       Bytes("marker,from,to,receiver_type,antenna_type,antenna_height,position,observer\r\n"
             "ABCD,,2020-06-01,SEPT POLARX5,\"TRM57971.00     NONE\",1.5,\"1,2,3\",\"A \"\"B\"\"\"\r\n"
             "abcd,2020-06-01T12:00Z,,,,,,\r\n"
             "# a comment\r\n"
             "EFGH00DNK,,,,,,,\r\n"));
  Seed("station_csv", "xyz_columns",
       Bytes("marker,station_id,position_x,position_y,position_z,antenna_delta,marker_number\n"
             "IJKL,IJKL00DNK,4000000,1000000,4800000,\"0.1,0,0\",10999M001\n"));

  // Whole conversions.
  Seed("conversion", "new_epp_station", Pack(1, new_l2, fixture_epp, AllKindsStation()));
  Seed("conversion", "old_epp_list", Pack(0, old_rebuild, fixture_epp, StaList()));
  Seed("conversion", "kinematic_week_override",
       Pack(3, new_l1, epptest::EppText({{1316, 0, 1}}), ""));
  if (!example_sta.empty() && !example_epp.empty()) {
    Seed("conversion", "example", Pack(1, new_l2, example_epp, example_sta));
    // With the check and the position from the data.
    Seed("conversion", "example_checked", Pack(9, new_l2, example_epp, example_sta));
  }
  if (have_real_gpb && !real_epp.empty()) {
    Seed("conversion", "real", Pack(5, real_new, real_epp, ""));
    Seed("conversion", "real_checked", Pack(13, real_new, real_epp, ""));
  }
  return 0;
}
