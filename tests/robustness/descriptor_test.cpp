// No call leaves a file open: the open descriptors of the process are
// counted before and after every failing call of the conversion and of each
// reader, on every failure path they have.
#include <functional>
#include <memory>
#include <utility>

#include "ephem/epp.h"
#include "gpb/gpb.h"
#include "obs/sta_list.h"
#include "obs/station_table.h"
#include "support/conversion_fixture.h"
#include "station/station_file.h"

namespace rawconv {
namespace convtest {
namespace {

using DescriptorTest = ConversionFixture;

TEST_F(DescriptorTest, FailedConversionsCloseEveryFile) {
  WriteInputs("ok");
  const std::string gpb = ReadFile(Path("ok.gpb"));
  WriteFile(Path("text.gpb"), "not a gpb file\n");
  WriteFile(Path("short.gpb"), gpb.substr(0, 100));
  WriteFile(Path("in.05o"), gpb);
  WriteFile(Path("bare.gpb"), gpb.substr(0, 512));
  std::string corrupt = gpb;
  corrupt[512] = 0;  // the sync word of the first record
  WriteFile(Path("corrupt.gpb"), corrupt);
  WriteFile(Path("bad.epp"), "NOTEPP 1 0\n");
  WriteFile(Path("empty.epp"), "$EPHREC 1 0\n");
  WriteFile(Path("ok.sta"), "$STAINFO\nsta {\n  ID: A\n}\n");  // every record dropped
  const std::string long_name = Path(std::string(240, 'n'));

  struct Case {
    const char* Name;
    std::string Gpb, Obs, Epp, Nav;
    int Expected;
  };
  const Case cases[] = {
      {"missing gpb", Path("none.gpb"), Path("a.obs"), Path("ok.epp"), Path("a.nav"), -1},
      {"neither format", Path("text.gpb"), Path("a.obs"), Path("ok.epp"), Path("a.nav"), -1},
      {"short header", Path("short.gpb"), Path("a.obs"), Path("ok.epp"), Path("a.nav"), -1},
      {"no epochs", Path("bare.gpb"), Path("a.obs"), Path("ok.epp"), Path("a.nav"), -1},
      {"corrupt first record", Path("corrupt.gpb"), Path("a.obs"), Path("ok.epp"), Path("a.nav"),
       -1},
      {"output path too long", Path("ok.gpb"), long_name + ".observation", Path("ok.epp"),
       Path("a.nav"), 1},
      {"output is an input", Path("in.05o"), Path("in.obs"), Path("ok.epp"), Path("a.nav"), 1},
      {"missing epp", Path("ok.gpb"), Path("a.obs"), Path("none.epp"), Path("a.nav"), 1},
      {"nav output cannot be created", Path("ok.gpb"), Path("a.obs"), Path("ok.epp"),
       Path("no/dir/a.nav"), 1},
      {"invalid epp header", Path("ok.gpb"), Path("a.obs"), Path("bad.epp"), Path("a.nav"), 1},
      {"no reference", Path("ok.gpb"), Path("a.obs"), Path("empty.epp"), Path("a.nav"), 1},
      {"obs output cannot be created", Path("ok.gpb"), Path("no/dir/a.obs"), Path("ok.epp"),
       Path("a.nav"), 1},
      {"write failure", Path("ok.gpb"), Path("a.obs"), Path("empty.epp"), "/dev/full", 1},
      {"station records all rejected", Path("ok.gpb"), Path("a.obs"), Path("ok.epp"),
       Path("a.nav"), 0},
  };
  for (const Case& c : cases) {
    if (c.Nav == "/dev/full" && !fs::exists("/dev/full")) continue;
    Fill(c.Gpb, c.Obs, c.Epp, c.Nav);
    const int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    EXPECT_EQ(c.Expected, Convert()) << c.Name << ": " << ErrorText();
    EXPECT_EQ(before, OpenDescriptors()) << c.Name;
  }
}

TEST_F(DescriptorTest, FailedReadersCloseEveryFile) {
  WriteInputs("ok");
  const std::string gpb = ReadFile(Path("ok.gpb"));
  WriteFile(Path("short.gpb"), gpb.substr(0, 100));
  std::string bad_header = gpb;
  bad_header[16] = 0;  // header size field no longer 512
  WriteFile(Path("bad_header.gpb"), bad_header);
  WriteFile(Path("empty"), "");
  WriteFile(Path("list.sta"), "not a block file\n");
  WriteFile(Path("none.sta"), "$STAINFO\nother {\n  GTim: 1\n}\n");
  WriteFile(Path("rejected.sta"), "$STAINFO\nsta {\n  ID: A\n}\n");
  WriteFile(Path("plain.epp"), "not an ephemeris file\n");

  const std::pair<const char*, std::function<void()>> calls[] = {
      {"gpb: missing", [&] { GpbClass r; r.OpenGpbFile(Path("none").c_str(), 4096); }},
      {"gpb: short header", [&] { GpbClass r; r.OpenGpbFile(Path("short.gpb").c_str(), 4096); }},
      {"gpb: invalid header",
       [&] { GpbClass r; r.OpenGpbFile(Path("bad_header.gpb").c_str(), 4096); }},
      {"gpb: no buffer", [&] { GpbClass r; r.OpenGpbFile(Path("ok.gpb").c_str(), 1); }},
      {"gpb: second open, no close", [&] {
         GpbClass r;
         r.OpenGpbFile(Path("ok.gpb").c_str(), 4096);
         r.OpenGpbFile(Path("ok.gpb").c_str(), 4096);
         r.ReadGpbEpoch(nullptr, nullptr);
       }},
      {"gpb: reopen after refusal", [&] {
         GpbClass r;
         r.OpenGpbFile(Path("ok.gpb").c_str(), 4096);
         r.OpenGpbFile(Path("ok.gpb").c_str(), 4096);
         r.OpenGpbFile(Path("ok.gpb").c_str(), 4096);
         r.CloseGpbFile();
       }},
      {"station: missing", [&] { StationFile f; ReadStationFile(Path("none").c_str(), 31, &f); }},
      {"station: empty", [&] { StationFile f; ReadStationFile(Path("empty").c_str(), 31, &f); }},
      {"station: not block layout", [&] { StationFile f; ReadStationFile(Path("list.sta").c_str(), 31, &f); }},
      {"station: no records", [&] { StationFile f; ReadStationFile(Path("none.sta").c_str(), 31, &f); }},
      {"station: all rejected", [&] { StationFile f; ReadStationFile(Path("rejected.sta").c_str(), 31, &f); }},
      {"station: probe", [&] { IsStationInfoFile(Path("empty").c_str()); IsStationInfoFile(Path("list.sta").c_str()); }},
      {"table: each layout", [&] {
         StationTable t;
         t.LoadFile(Path("none").c_str());
         t.LoadFile(Path("rejected.sta").c_str());
         t.LoadFile(Path("list.sta").c_str());
       }},
      {"sta list: missing", [&] {
         std::unique_ptr<StaRecord[]> table(new StaRecord[kMaxStaRecords]());
         ReadStaList(Path("none").c_str(), table.get());
       }},
      {"reference: missing, plain, no records", [&] {
         int week;
         double toe;
         FindReferenceEphemeris(Path("none").c_str(), &week, &toe);
         FindReferenceEphemeris(Path("plain.epp").c_str(), &week, &toe);
         FindReferenceEphemeris(Path("empty").c_str(), &week, &toe);
         FindReferenceEphemeris("", &week, &toe);
       }},
  };
  for (const auto& call : calls) {
    const int before = OpenDescriptors();
    call.second();
    EXPECT_EQ(before, OpenDescriptors()) << call.first;
  }
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
