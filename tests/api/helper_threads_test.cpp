// The conversion's helper threads (the writing thread of the output chain,
// the GPB reader's read-ahead): a real day converted with them and without
// them gives the same files, and single_thread keeps the conversion on the
// caller's thread.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "api/rawconv_api.h"
#include "support/real_data.h"
#include "support/rinex_nav.h"
#include "support/rnx_to_gpb.h"

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

TEST(HelperThreads, SameFilesWithAndWithoutThem) {
  if (ThreadCount() == 0) GTEST_SKIP() << "no /proc/self/task here";
  char pattern[] = "/tmp/rawconv_threads_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string dir = pattern;
  std::string error;
  rnxtest::RnxToGpbOptions to_gpb;
  rnxtest::RnxToGpbSummary summary;
  ASSERT_TRUE(rnxtest::ConvertRinexObsFileToGpb(realdata::DataPath("usno0200.05o"), dir + "/usno.gpb",
                                                to_gpb, &summary, &error))
      << error;
  ASSERT_TRUE(rinexnav::ConvertNavToEpp(realdata::DataPath("brdc0200.05n"), dir + "/usno.epp", error))
      << error;
  const std::string gpb = dir + "/usno.gpb";

  std::string files[2][2];  // [single_thread][obs, nav]
  int most[2] = {0, 0};
  for (int single : {0, 1}) {
    const std::string out = dir + "/out" + std::to_string(single);
    fs::create_directory(out);
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
    o.progress = MostThreads;
    o.progress_user = &most[single];
    ASSERT_EQ(RAWCONV_OK, rawconv_convert(session, &o, &r)) << r.error;
    rawconv_session_free(session);
    files[single][0] = Slurp(r.obs_path);
    files[single][1] = Slurp(r.nav_path);
  }
  // Megabytes of GPB and RINEX: both helpers have work.
  EXPECT_GT(files[0][0].size(), 2u << 20);
  EXPECT_TRUE(files[0][0] == files[1][0]);
  EXPECT_TRUE(files[0][1] == files[1][1]);
  EXPECT_GT(most[0], ThreadCount());
  EXPECT_EQ(most[1], ThreadCount());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace rawconv
