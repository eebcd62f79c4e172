// gpb2rinex as a user of the usual command-line tools expects it: files used
// as named, whole option names, single-input output names, dry runs, the
// time and position spellings, the batch's account line, texts that cannot
// break a header, and --info output that always parses.
#include <algorithm>
#include <string>
#include <vector>

#include "api/rawconv_api.h"
#include "cli/cli_fixture.h"

namespace rawconv {
namespace clitest {
namespace {

using Args = std::vector<std::string>;

class ConventionsTest : public CliTest {
 protected:
  // Lines of a text, without their ends.
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(begin, end - begin));
      begin = end + 1;
    }
    return lines;
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  // The account line every converting run ends with.
  static std::string LastLine(const std::string& text) {
    const std::vector<std::string> lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
  }
};

TEST_F(ConventionsTest, FileOptionsNameTheFileUsed) {
  WriteInput("a", "ephem.dat");
  // Read as named: no extension forced onto it.
  ToolRun run = Run({"--epp", "ephem.dat", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Exists("a.05n"));
  // A station file named as the ephemeris file is read as that file, not as
  // the .epp file of its name.
  CopySample("s.gpb", "s.epp", "s.sta");
  run = Run({"--epp", "s.sta", "s.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_FALSE(Exists("s.05o"));
  // A folder where a file is expected is a bad argument naming it.
  fs::create_directories(Path("dir.epp"));
  for (const char* option : {"--epp", "--sta", "--from-list", "--obs-file", "--nav-file"}) {
    run = Run({option, "dir.epp", "s.gpb"});
    EXPECT_EQ(2, run.Code) << option;
    EXPECT_TRUE(Has(run.Err, std::string(option) + " 'dir.epp' is a folder")) << run.Err;
  }
  EXPECT_FALSE(Exists("s.05o"));
}

TEST_F(ConventionsTest, LongOptionsOnlyWhole) {
  WriteInput("a");
  // A beginning of a name is refused with the names it begins.
  ToolRun run = Run({"--output", "out/x.obs", "a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "'--output' is not a whole option name; did you mean --output-dir?"))
      << run.Err;
  EXPECT_FALSE(Exists("out"));
  run = Run({"--qc-", "a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "did you mean --qc-only or --qc-dir?")) << run.Err;
  // A typo gets the nearest names.
  run = Run({"--forse", "a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "unknown option '--forse'; did you mean --force?")) << run.Err;
  run = Run({"--marker-tpye=GEODETIC", "a.gpb"});
  EXPECT_TRUE(Has(run.Err, "did you mean --marker-type?")) << run.Err;
  run = Run({"--zzzzzz", "a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_FALSE(Has(run.Err, "did you mean")) << run.Err;
  // A value given to an option that takes none, a missing value.
  EXPECT_TRUE(Has(Run({"--force=yes", "a.gpb"}).Err, "'--force' takes no value"));
  EXPECT_TRUE(Has(Run({"a.gpb", "--epp"}).Err, "'--epp' needs a value"));
  EXPECT_TRUE(FilesContaining(".05").empty());

  // The forms that stay: --name=value, --name value, grouped short
  // options with joined values, and "--" before a file named like an option.
  fs::copy_file(Path("a.gpb"), Path("--odd.gpb"));
  fs::copy_file(Path("a.epp"), Path("--odd.epp"));
  run = Run({"-fqj2", "--output-dir=o1", "--marker", "M", "a.gpb", "--", "--odd.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Exists("o1/a.05o"));
  EXPECT_TRUE(Exists("o1/--odd.05o"));
}

TEST_F(ConventionsTest, OutputNamesOfOneInputAndDryRuns) {
  WriteInput("a");
  WriteInput("b");
  ToolRun run = Run({"--obs-file", "out.obs", "--nav-file", "sub.nav", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ("a.gpb -> out.obs sub.nav\n", run.Out);
  EXPECT_TRUE(Has(Read("out.obs"), "OBSERVATION DATA"));
  EXPECT_TRUE(Has(Read("sub.nav"), "NAV DATA"));
  EXPECT_FALSE(Exists("a.05o"));
  // Not for more than one input, nor with --split.
  run = Run({"--obs-file", "x.obs", "a.gpb", "b.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "one input; 2 were given")) << run.Err;
  EXPECT_EQ(2, Run({"--nav-file", "x.nav", "--split", "1h", "a.gpb"}).Code);
  EXPECT_FALSE(Exists("x.obs"));

  // A dry run prints every output path and writes nothing, no folder
  // either.
  run = Run({"--dry-run", "--qc", "-o", "new/dir", "a.gpb", "b.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_EQ(Lines("new/dir/a.05o\nnew/dir/a.05n\nnew/dir/a.05o.qc.txt\nnew/dir/a.05o.qc.json\n"
                  "new/dir/a.05o.qc.html\nnew/dir/b.05o\nnew/dir/b.05n\nnew/dir/b.05o.qc.txt\n"
                  "new/dir/b.05o.qc.json\nnew/dir/b.05o.qc.html\n"),
            Lines(run.Out));
  EXPECT_FALSE(Exists("new"));
  EXPECT_EQ("gpb2rinex: dry run, nothing written: 2 planned, 0 failed", LastLine(run.Err));
  // A file that cannot be planned is named, and the run fails.
  run = Run({"--dry-run", "a.gpb", "missing.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("a.05o\na.05n\n", run.Out);
  EXPECT_EQ(0u, run.Err.find("missing.gpb: ")) << run.Err;
  EXPECT_TRUE(FilesContaining(".05").empty());
}

TEST_F(ConventionsTest, TimesAndPositionsInTheUsualSpellings) {
  CopySample("s.gpb", "s.epp");
  // The sample runs from 2005-04-02 00:00:00 to 00:59:30 every 30 s.
  ToolRun run = Run({"--from", "2005/04/02 00:30:00", "--to", "2005-04-03", "--position",
                     "4000000/-500000/4900000", "--antenna-delta", "1.5/0/0", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::string obs = Read("s.05o");
  EXPECT_TRUE(Has(obs, "  2005     4     2     0    30    0.00"))
      << obs.substr(0, 2000);
  EXPECT_TRUE(Has(obs, "  4000000.0000  -500000.0000  4900000.0000                  APPROX POSITION XYZ"));
  run = Run({"-f", "--from", "2005-04-02", "--to", "2005/04/02 00:01:00", "s.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Has(Read("s.05o"), "  2005     4     2     0     0    0.00"));
  // Mixed separators are refused.
  EXPECT_EQ(2, Run({"-f", "--position", "1,2/3", "s.gpb"}).Code);
  EXPECT_EQ(2, Run({"-f", "--from", "2005/04-02", "s.gpb"}).Code);
}

TEST_F(ConventionsTest, WeeksInRangeAndDays) {
  WriteInput("a");
  ToolRun run = Run({"--week", "5217", "a.gpb"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "from 0 to 5216")) << run.Err;
  EXPECT_EQ(2, Run({"--week", "99999", "a.gpb"}).Code);
  EXPECT_TRUE(FilesContaining(".").size() == 2u);  // a.gpb and a.epp only
  run = Run({"--week", "5216", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Exists("a.79o"));
  for (const char* bad : {"2005-02-30", "2005-9-22", "1980-01-05", "2079-12-31", "22.09.2005"})
    EXPECT_EQ(2, Run({"--date", bad, "a.gpb"}).Code) << bad;
  EXPECT_EQ(2, Run({"--date", "2005-09-22", "--week", "1341", "a.gpb"}).Code);
}

TEST_F(ConventionsTest, VersionIsTheRelease) {
  const ToolRun run = Run({"--version"});
  EXPECT_EQ(0, run.Code);
  EXPECT_EQ("gpb2rinex 7.60.1122\n", run.Out);
}

TEST_F(ConventionsTest, HeaderTextsArePrintableAscii) {
  WriteInput("a");
  const Args options = {"--marker", "--observer", "--agency", "--run-by", "--comment",
                        "--receiver-type"};
  for (const std::string& option : options) {
    for (const char* text : {"a\nb", "a\rb", "a\x1b[31m", "Z\xc3\xbcrich"}) {
      const ToolRun run = Run({option, text, "a.gpb"});
      EXPECT_EQ(2, run.Code) << option << " " << text;
      EXPECT_TRUE(Has(run.Err, option)) << run.Err;
      EXPECT_FALSE(Has(run.Err, "\n\n")) << run.Err;  // the text does not break the message
    }
  }
  EXPECT_FALSE(Exists("a.05o"));
}

TEST_F(ConventionsTest, NulInAListLineIsRefusedByItsNumber) {
  WriteInput("a");
  WriteInput("ab");
  // "a\0b.gpb" would convert a different file, "a".
  Write("list.txt", std::string("# files\nab.gpb\na\0b.gpb\n", 24));
  ToolRun run = Run({"--from-list", "list.txt"});
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "list file 'list.txt', line 3: a NUL byte")) << run.Err;
  RunSetup in;
  in.Stdin = std::string("a.gpb\0x\n", 8);
  run = Run({"--from-list", "-"}, in);
  EXPECT_EQ(2, run.Code);
  EXPECT_TRUE(Has(run.Err, "line 1")) << run.Err;
  EXPECT_TRUE(FilesContaining(".05").empty());
}

TEST_F(ConventionsTest, EveryBatchEndsWithItsAccount) {
  WriteInput("a");
  WriteInput("b");
  ToolRun run = Run({"a.gpb"});
  ASSERT_EQ(0, run.Code);
  EXPECT_EQ("gpb2rinex: 1 converted, 0 skipped, 0 failed\n", run.Err);
  run = Run({"--skip-existing", "a.gpb", "b.gpb", "missing.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("gpb2rinex: 1 converted, 1 skipped, 1 failed", LastLine(run.Err));
  // Under -q only a batch with a failure gives it.
  EXPECT_EQ("", Run({"-q", "--skip-existing", "a.gpb"}).Err);
  run = Run({"-q", "a.gpb"});
  EXPECT_EQ(1, run.Code);
  EXPECT_EQ("gpb2rinex: 0 converted, 0 skipped, 1 failed", LastLine(run.Err));
  // An existing output: the hint names both ways out.
  EXPECT_TRUE(Has(run.Err, "exists; --skip-existing leaves it, --force replaces it\n")) << run.Err;
  // The check alone counts files checked.
  run = Run({"--qc-only", "a.gpb"});
  EXPECT_EQ("gpb2rinex: 1 checked, 0 skipped, 0 failed", LastLine(run.Err));
}

TEST_F(ConventionsTest, SkipExistingSaysWhatItLeftAlone) {
  WriteInput("a");
  ASSERT_EQ(0, Run({"a.gpb"}).Code);
  fs::remove(Path("a.05n"));
  const std::string kept = Read("a.05o");
  ToolRun run = Run({"--skip-existing", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  // Only the navigation file was written; the line says so.
  EXPECT_EQ("a.gpb -> a.05n\na.gpb: left alone (exists): a.05o\n", run.Out);
  EXPECT_EQ(kept, Read("a.05o"));
  run = Run({"--skip-existing", "a.gpb"});
  EXPECT_EQ("a.gpb: skipped; left alone (exists): a.05o, a.05n\n", run.Out);
}

TEST_F(ConventionsTest, QcLinesCarryThePathAsGiven) {
  CopySample("d1/x.gpb", "d1/x.epp");
  CopySample("d2/x.gpb", "d2/x.epp");
  const ToolRun run = Run({"--qc-only", "d1/x.gpb", "d2/x.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  const std::vector<std::string> lines = Lines(run.Out);
  ASSERT_EQ(2u, lines.size()) << run.Out;
  EXPECT_EQ(0u, lines[0].find("d1/x.gpb: ")) << lines[0];
  EXPECT_EQ(0u, lines[1].find("d2/x.gpb: ")) << lines[1];
}

TEST_F(ConventionsTest, InfoFailsWhenItsOutputCannotBeWritten) {
  CopySample("s.gpb", "s.epp");
  for (const char* json : {"", "--json"}) {
    const std::string command =
        std::string("\"$TOOL\" --info ") + json + " s.gpb > /dev/full; echo \"rc=$?\" >&2";
    const ToolRun run = Shell(command);
    EXPECT_TRUE(Has(run.Err, "gpb2rinex: cannot write the information: No space left on device\n"))
        << run.Err;
    EXPECT_TRUE(Has(run.Err, "rc=1")) << run.Err;
  }
}

TEST_F(ConventionsTest, InfoJsonAlwaysParses) {
  // Epochs whose positions are out of every range, and a name that is not
  // UTF-8.
  const GpbEpoch first = gpbtest::MakeEpoch(345600.0, 1e300, -1e300, 1e30f);
  const std::string name = "x\xff\xe9y.gpb";
  ASSERT_TRUE(WriteThreeEpochGpb(Path(name), first));
  ASSERT_TRUE(WriteThreeEpochGpb(Path("inf.gpb"), first));
  const ToolRun run = Run({"--info", "--json", "--week", "1341", name});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Has(run.Out, "\"file\": \"x\\udcff\\udce9y.gpb\"")) << run.Out;
  EXPECT_FALSE(Has(run.Out, "\xff"));
  EXPECT_TRUE(Has(run.Out, "\"damage\": null}\n]}\n")) << run.Out;  // not cut
  EXPECT_FALSE(Has(run.Out, "nan"));
  EXPECT_FALSE(Has(run.Out, "inf"));
  // Python reads it back to the same bytes.
  const ToolRun python = Shell(
      "\"$TOOL\" --info --json --week 1341 x*y.gpb inf.gpb | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(d[\"files\"][0][\"file\"].encode(\"utf-8\",\"surrogateescape\") == b\"x\\xff\\xe9y.gpb\", "
      "d[\"files\"][1][\"mean_position\"][\"latitude_deg\"] > 1e299)'");
  if (python.Err.find("python3: not found") == std::string::npos) {
    EXPECT_EQ("True True\n", python.Out) << python.Err;
  }
}

TEST_F(ConventionsTest, InfoSaysWhyTimesAreUnknown) {
  WriteInput("a");
  fs::remove(Path("a.epp"));
  ToolRun run = Run({"--info", "a.gpb"});
  ASSERT_EQ(0, run.Code) << run.Err;
  EXPECT_TRUE(Has(run.Out, "week unknown"));
  EXPECT_TRUE(Has(run.Out, "no ephemeris file a.epp; give --epp FILE, --week N or --date DATE"))
      << run.Out;
  run = Run({"--info", "--json", "--epp", "none.epp", "a.gpb"});
  EXPECT_TRUE(Has(run.Out, "\"dates_unknown\": \"no ephemeris file none.epp; give")) << run.Out;
  EXPECT_TRUE(Has(run.Out, "\"first\": null"));
  // A day or a week dates them.
  run = Run({"--info", "--date", "2005-09-22", "a.gpb"});
  EXPECT_TRUE(Has(run.Out, "first epoch     2005-09-22 00:00:00.000")) << run.Out;
  EXPECT_FALSE(Has(run.Out, "unknown"));
  run = Run({"--info", "--json", "--week", "1341", "a.gpb"});
  EXPECT_TRUE(Has(run.Out, "\"first\": \"2005-09-22 00:00:00.000\", \"last\": \"2005-09-22 00:01:00.000\", "
                           "\"dates_unknown\": null"))
      << run.Out;
}

TEST_F(ConventionsTest, CompletionOffersGpbFilesWithoutExtglob) {
  WriteInput("a");
  Write("B.GPB", "");
  Write("c.txt", "");
  fs::create_directories(Path("sub"));
  const std::string completion = std::string(RAWCONV_SOURCE_DIR) + "/cli/gpb2rinex.bash-completion";
  for (const char* extglob : {"-u", "-s"}) {
    const ToolRun run = RunProgram(
        "/bin/bash",
        {"-c", std::string("shopt ") + extglob + " extglob; source '" + completion +
                   "'; COMP_WORDS=(gpb2rinex ''); COMP_CWORD=1; _gpb2rinex; "
                   "printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort; "
                   "COMP_WORDS=(gpb2rinex --epp ''); COMP_CWORD=2; _gpb2rinex; "
                   "printf 'epp %s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort"},
        dir_);
    EXPECT_EQ("B.GPB\na.gpb\nsub\nepp a.epp\nepp sub\n", run.Out) << extglob << run.Err;
  }
}

}  // namespace
}  // namespace clitest
}  // namespace rawconv
