// gzip inputs through the reentrant interface: site1.gpb.gz converts to the
// bytes and names of site1.gpb, finds its EPP and station files beside it
// (plain or gzip), and the dialog library's conversions keep refusing it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "api/rawconv_api.h"
#include "support/conversion_fixture.h"
#include "support/gzip_bytes.h"

namespace rawconv {
namespace convtest {
namespace {

using gztest::GzipFile;

std::string BaseName(const char* path) { return fs::path(path).filename().string(); }

class GzipInputTest : public SampleSessionFixture {
 protected:
  void SetUp() override {
    SampleSessionFixture::SetUp();
    // packed/: the sample's three files as gzip files only.
    fs::create_directory(Path("packed"));
    for (const char* ext : {".gpb", ".epp", ".sta"}) {
      const std::string name = std::string("sample") + ext;
      ASSERT_TRUE(GzipFile(Path(name), 2));
      fs::rename(Path(name + ".gz"), Path("packed/" + name + ".gz"));
    }
  }

  // Converts gpb into the folder out (made here) with the fixture's options
  // and names; the report is report_.
  int ConvertInto(const std::string& gpb, const std::string& out, int names = RAWCONV_NAMES_INPUT) {
    fs::create_directories(out);
    o_.gpb_path = gpb.c_str();
    o_.output_dir = out.c_str();
    o_.names = names;
    rawconv_report_init(&report_);
    return rawconv_convert(session_, &o_, &report_);
  }
};

TEST_F(GzipInputTest, GzipInputsGiveTheBytesAndNamesOfThePlainOnes) {
  const struct {
    int Names;
    int Rinex;
  } kCases[] = {{RAWCONV_NAMES_INPUT, RAWCONV_RINEX_2_11},
                {RAWCONV_NAMES_SHORT, RAWCONV_RINEX_2_11},
                {RAWCONV_NAMES_LONG, RAWCONV_RINEX_3_04}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Names);
    o_.rinex = c.Rinex;
    const std::string tag = std::to_string(c.Names);
    ASSERT_EQ(RAWCONV_OK, ConvertInto(gpb_, Path("plain" + tag), c.Names)) << report_.error;
    const std::string obs = report_.obs_path, nav = report_.nav_path;
    const uint64_t size = report_.gpb_file_size;
    ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("packed" + tag), c.Names))
        << report_.error;
    EXPECT_EQ(BaseName(obs.c_str()), BaseName(report_.obs_path));
    EXPECT_EQ(BaseName(nav.c_str()), BaseName(report_.nav_path));
    EXPECT_EQ(ReadFile(obs), ReadFile(report_.obs_path));
    EXPECT_EQ(ReadFile(nav), ReadFile(report_.nav_path));
    EXPECT_EQ(size, report_.gpb_file_size);  // the GPB data's size
    EXPECT_EQ(0, report_.gpb_damaged);
  }
  EXPECT_TRUE(fs::exists(Path("packed0/sample.05o")));
  EXPECT_TRUE(fs::exists(Path("packed0/sample.05n")));

  // The station file was read from its gzip file: without it the
  // observation file differs.
  o_.station = RAWCONV_STATION_NONE;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("nosta"))) << report_.error;
  EXPECT_NE(ReadFile(Path("plain0/sample.05o")), ReadFile(report_.obs_path));

  // Beside the GPB file when no folder is given.
  o_.station = RAWCONV_STATION_BESIDE;
  o_.output_dir = nullptr;
  const std::string packed_gpb = Path("packed/sample.gpb.gz");
  o_.gpb_path = packed_gpb.c_str();
  ASSERT_EQ(RAWCONV_OK, rawconv_convert(session_, &o_, &report_)) << report_.error;
  EXPECT_EQ(Path("packed/sample.05o"), report_.obs_path);
  EXPECT_EQ(Path("packed/sample.05n"), report_.nav_path);
}

TEST_F(GzipInputTest, NamedGzipFilesAndPlainFilesFirst) {
  // The EPP and station files named outright may be gzip files too.
  const std::string epp = Path("packed/sample.epp.gz"), sta = Path("packed/sample.sta.gz");
  o_.epp_path = epp.c_str();
  o_.station = RAWCONV_STATION_FILE;
  o_.station_path = sta.c_str();
  ASSERT_EQ(RAWCONV_OK, ConvertInto(gpb_, Path("named"))) << report_.error;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("named_gz")))
      << report_.error;
  o_.epp_path = nullptr;
  o_.station = RAWCONV_STATION_BESIDE;
  o_.station_path = nullptr;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(gpb_, Path("plain"))) << report_.error;
  EXPECT_EQ(ReadFile(Path("plain/sample.05o")), ReadFile(Path("named/sample.05o")));
  EXPECT_EQ(ReadFile(Path("plain/sample.05o")), ReadFile(Path("named_gz/sample.05o")));
  EXPECT_EQ(ReadFile(Path("plain/sample.05n")), ReadFile(Path("named_gz/sample.05n")));

  // A plain file beside the GPB file is taken before a gzip one: these
  // damaged gzip files are never opened.
  for (const char* ext : {".epp", ".sta"}) {
    const std::string name = std::string("packed/sample") + ext;
    fs::copy_file(Path(std::string("sample") + ext), Path(name));
    ASSERT_TRUE(gztest::WriteBytes(Path(name + ".gz"), "\x1f\x8b damaged"));
  }
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("first"))) << report_.error;
  EXPECT_EQ(ReadFile(Path("plain/sample.05o")), ReadFile(Path("first/sample.05o")));
  EXPECT_EQ(ReadFile(Path("plain/sample.05n")), ReadFile(Path("first/sample.05n")));
}

// The old generation too, from a built file and its EPP file.
TEST_F(GzipInputTest, OldFormatGzipFileConverts) {
  gpbtest::GpbFileBuilder file = gpbtest::GpbFileBuilder::Old(2);
  for (int i = 0; i < 40; ++i) {
    GpbChannel ch[2]{};
    for (int k = 0; k < 2; ++k) {
      ch[k].Prn = 3 + k;
      ch[k].C1 = 21000000.0 + 100.0 * k + i;
      ch[k].L1 = 110000000.5 + k + i;
      ch[k].LockSec1 = 30;
    }
    file.AddEpoch(gpbtest::MakeEpoch(345600.0 + 30.0 * i, 35.0, 139.0, 80.0f), ch, 2);
  }
  ASSERT_TRUE(file.Write(Path("old.gpb")));
  ASSERT_TRUE(epptest::WriteEppFile(Path("old.epp"), {{1341, 345600}}));
  fs::create_directory(Path("old_packed"));
  for (const char* ext : {".gpb", ".epp"}) {
    const std::string name = std::string("old") + ext;
    ASSERT_TRUE(GzipFile(Path(name)));
    fs::rename(Path(name + ".gz"), Path("old_packed/" + name + ".gz"));
  }
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("old.gpb"), Path("old_out"))) << report_.error;
  EXPECT_EQ(40u, report_.epochs_written);
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("old_packed/old.gpb.gz"), Path("old_gz_out")))
      << report_.error;
  EXPECT_EQ(ReadFile(Path("old_out/old.05o")), ReadFile(Path("old_gz_out/old.05o")));
  EXPECT_EQ(ReadFile(Path("old_out/old.05n")), ReadFile(Path("old_gz_out/old.05n")));
}

// Progress counts bytes of the GPB data: the same reports for the gzip file
// as for the plain one, not a total taken from the compressed size.
TEST_F(GzipInputTest, ProgressCountsTheGpbData) {
  struct Seen {
    std::vector<std::pair<uint64_t, uint64_t>> Reports;
  };
  const auto record = [](void* user, uint64_t done, uint64_t total) {
    static_cast<Seen*>(user)->Reports.emplace_back(done, total);
    return 0;
  };
  Seen plain, packed;
  o_.progress = record;
  o_.progress_user = &plain;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(gpb_, Path("plain"))) << report_.error;
  o_.progress_user = &packed;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("packed_out")))
      << report_.error;
  ASSERT_FALSE(plain.Reports.empty());
  EXPECT_EQ(plain.Reports, packed.Reports);
}

// Report names made from the GPB file's name leave out its ".gz".
TEST_F(GzipInputTest, QualityReportsAreNamedWithoutGz) {
  o_.qc = RAWCONV_QC_ONLY;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("qc"))) << report_.error;
  EXPECT_EQ(Path("qc/sample.qc.txt"), report_.qc_text_path);
  o_.qc = RAWCONV_QC_WITH;
  o_.split = RAWCONV_SPLIT_1H;
  ASSERT_EQ(RAWCONV_OK, ConvertInto(Path("packed/sample.gpb.gz"), Path("split"))) << report_.error;
  EXPECT_EQ(Path("split/sample.qc.txt"), report_.qc_text_path);
}

TEST_F(GzipInputTest, DamagedGzipGpbFileWritesNothing) {
  const std::string packed = ReadFile(Path("packed/sample.gpb.gz"));
  ASSERT_TRUE(gztest::WriteBytes(Path("cut.gpb.gz"), packed.substr(0, packed.size() / 2)));
  EXPECT_NE(RAWCONV_OK, ConvertInto(Path("cut.gpb.gz"), Path("cut_out")));
  EXPECT_NE(std::string::npos, std::string(report_.error).find(Path("cut.gpb.gz")))
      << report_.error;
  EXPECT_TRUE(fs::is_empty(Path("cut_out")));
}

// The dialog library opens its files as it always has: a gzip GPB file is
// a file of neither format, with the message its callers know.
TEST_F(ConversionFixture, DialogConversionRefusesGzipGpbFilesAsBefore) {
  WriteInputs("site");
  ASSERT_TRUE(GzipFile(Path("site.gpb")));
  Fill(Path("site.gpb.gz"), Path("site.obs"), Path("site.epp"), Path("site.nav"));
  EXPECT_EQ(-1, Convert());
  EXPECT_EQ("Invalid GPB file type for '" + Path("site.gpb.gz") + "'--neither new or old format",
            ErrorText());
  EXPECT_FALSE(fs::exists(Path("site.05o")));
}

}  // namespace
}  // namespace convtest
}  // namespace rawconv
