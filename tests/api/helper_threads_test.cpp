// The conversion's helper threads (the writing thread of the output chain,
// its Compact RINEX and gzip threads, the GPB reader's read-ahead): a large
// file converted with them and without them gives the same files, plain and
// compressed; single_thread, and a small file, keep
// the conversion on the caller's thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "api/rawconv_api.h"
#include "sink/gzip_sink.h"
#include "support/epp_fixture.h"
#include "support/gpb_builder.h"
#include "support/scratch_dir.h"

namespace rawconv {
namespace {

namespace fs = std::filesystem;

// Threads of this process, from /proc (0 where it cannot be read).
int ThreadCount() {
  int n = 0;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

// The progress callback: the most threads seen while converting.
int MostThreads(void* user, uint64_t, uint64_t) {
  int* most = static_cast<int*>(user);
  const int n = ThreadCount();
  if (n > *most) *most = n;
  return 0;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// `epochs` epochs at 1 s of 24 dual-frequency channels (about 1.4 KB of
// GPB each) from 2005-01-16 00:00 (week 1306), with their ephemeris file.
void WriteDay(const std::string& stem, int epochs) {
  gpbtest::GpbFileBuilder b = gpbtest::GpbFileBuilder::New();
  GpbChannel ch[24]{};
  for (int i = 0; i < epochs; ++i) {
    GpbEpoch e{};
    e.RcvTime = e.RawRcvTime = 0.0 + i;
    e.NumChannels = 24;
    for (int c = 0; c < 24; ++c) {
      ch[c].Prn = c + 1;
      ch[c].ObsMask = kObsC1 | kObsL1 | kObsP2 | kObsL2;
      ch[c].C1 = 2.0e7 + i * 10.0 + c;
      ch[c].L1 = 1.0e8 + i + c * 0.125;
      ch[c].P2 = 2.0e7 + i * 10.0 + c + 2.5;
      ch[c].L2 = 8.0e7 + i;
    }
    b.AddEpoch(e, ch, 24);
  }
  ASSERT_TRUE(b.Write(stem + ".gpb"));
  ASSERT_TRUE(epptest::WriteEppFile(stem + ".epp", {{1306, 0}}));
}

struct Converted {
  std::string Obs, Nav;
  int Before = 0;  // threads of the process before the call
  int MostThreads = 0;
};

Converted Convert(const std::string& gpb, const std::string& out, int single,
                  int compress = RAWCONV_COMPRESS_NONE) {
  Converted c;
  fs::create_directory(out);
  // Counted before each call: a sanitizer's runtime may have started a
  // thread of its own since the last one.
  c.Before = ThreadCount();
  rawconv_session* session = rawconv_session_new();
  rawconv_options o;
  rawconv_report r;
  rawconv_options_init(&o);
  rawconv_report_init(&r);
  o.gpb_path = gpb.c_str();
  o.output_dir = out.c_str();
  o.use_run_date = 1;
  o.run_date = 1133965800;
  o.single_thread = single;
  o.compress = compress;
  o.progress = MostThreads;
  o.progress_user = &c.MostThreads;
  EXPECT_EQ(RAWCONV_OK, rawconv_convert(session, &o, &r)) << r.error;
  rawconv_session_free(session);
  c.Obs = Slurp(r.obs_path);
  c.Nav = Slurp(r.nav_path);
  return c;
}

TEST(HelperThreads, SameFilesWithAndWithoutThemAndOnlyForLargeFiles) {
  if (ThreadCount() == 0) GTEST_SKIP() << "no /proc/self/task here";
  const std::string dir = testsupport::MakeScratchDir("rawconv_threads");
  ASSERT_FALSE(dir.empty());
  WriteDay(dir + "/large", 7000);  // about 10 MB of GPB
  WriteDay(dir + "/small", 500);
  ASSERT_GT(fs::file_size(dir + "/large.gpb"), 8u << 20);

  const Converted with = Convert(dir + "/large.gpb", dir + "/with", 0);
  const Converted without = Convert(dir + "/large.gpb", dir + "/without", 1);
  EXPECT_GT(with.Obs.size(), 8u << 20);
  EXPECT_TRUE(with.Obs == without.Obs);
  EXPECT_TRUE(with.Nav == without.Nav);
  EXPECT_GT(with.MostThreads, with.Before);
  EXPECT_EQ(without.MostThreads, without.Before);
  // Compressed outputs: the Compact RINEX encoder on a stage of its own,
  // gzip members compressed side by side; the bytes are the same.
  if (GzipAvailable()) {
    for (int kind : {RAWCONV_COMPRESS_GZ, RAWCONV_COMPRESS_CRX, RAWCONV_COMPRESS_CRX_GZ}) {
      SCOPED_TRACE(kind);
      const std::string tag = dir + "/kind" + std::to_string(kind);
      const Converted threaded = Convert(dir + "/large.gpb", tag + "with", 0, kind);
      const Converted plain = Convert(dir + "/large.gpb", tag + "without", 1, kind);
      EXPECT_GT(threaded.Obs.size(), 10000u);
      EXPECT_TRUE(threaded.Obs == plain.Obs);
      EXPECT_TRUE(threaded.Nav == plain.Nav);
      EXPECT_GT(threaded.MostThreads, threaded.Before);
    }
  }
  // A small file is converted without them even when they are allowed.
  const Converted small = Convert(dir + "/small.gpb", dir + "/small", 0);
  EXPECT_EQ(small.MostThreads, small.Before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace rawconv
