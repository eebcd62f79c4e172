// The sinks in front of an output file, chosen by the kind of compression:
//   kNone     writer -> thread -> file
//   kGzip     writer -> thread (gzip coders) -> file
//   kCrx      writer -> thread -> Compact RINEX -> file
//   kCrxGzip  writer -> thread -> Compact RINEX -> thread (gzip coders) -> file
// "thread" (sink/thread_sink.h) runs what follows it beside the writer: the
// file's writes, the Compact RINEX encoding, or the compression (of blocks
// side by side, on a thread per coder, as many as the cores up to
// kMaxGzipCoders) and the writes. Without threads every sink runs on the
// writer's thread, gzip as a GzipSink; the bytes are the same either way.
// The Compact RINEX encoder first ran on the writer's thread: on a stage of
// its own, with a stage of two blocks woken for each, the whole conversion
// was slower (synthetic day 0.40 s against 0.38 s); behind the ring of
// blocks woken per batch it is faster (0.29 s against 0.37 s, 3 alternating
// runs each). Navigation files are never Compact RINEX (for them kCrx
// writes plain and kCrxGzip writes gzip), and plain ones, small beside
// observation files, have no stage.
#ifndef RAWCONV_SINK_CHAIN_H_
#define RAWCONV_SINK_CHAIN_H_

#include <memory>
#include <string>

#include "sink/compression.h"
#include "sink/crx_sink.h"
#include "sink/gzip_sink.h"
#include "sink/sink.h"
#include "sink/thread_sink.h"
#include "obs/run_date.h"

namespace rawconv {

// gzip levels (libdeflate's) per kind of text. Measured on the synthetic day
// (169 MB of RINEX 2 text, 33 MB of its Compact RINEX), compressor alone:
//   RINEX text:    level 1 46.7 MB in 0.9 s, level 4 43.2 MB in 1.9 s
//                  (gzip -6: 43.4 MB in 8.7 s)
//   Compact RINEX: level 2 12.57 MB in 0.48 s, level 3 12.22 MB in 0.55 s,
//                  level 4 12.17 MB in 0.67 s (gzip -6: 12.16 MB in 4.5 s)
// Compression runs beside the conversion on the other cores (a thread stage
// with a coder per core), so a level is affordable while it takes no longer
// than the conversion and its Compact RINEX encoding: plain text takes the
// fastest level (the other levels take four times the conversion or more).
// Compact RINEX took level 3 (within half a percent of gzip -6) until its
// encoder coded the writer's values; the gzip coders then set the pace, and
// level 2 is within 3.4 % of `rnx2crx | gzip -6` (12.57 MB against 12.16 MB)
// in three quarters of the time (256 KB members, libdeflate alone: level 1
// 13.21 MB 0.12 s, level 2 12.57 MB 0.27 s, level 3 12.22 MB 0.37 s).
constexpr int kTextGzipLevel = 1;
constexpr int kCompactGzipLevel = 2;

// gzip coder threads of a thread stage: the machine's cores, at least one,
// at most kMaxGzipCoders (enough for the writer to set the pace).
constexpr unsigned kMaxGzipCoders = 4;
int GzipCoders();

class OutputChain {
 public:
  OutputChain() = default;
  OutputChain(const OutputChain&) = delete;
  OutputChain& operator=(const OutputChain&) = delete;

  // Builds the sinks in front of `file` (which must outlive the chain) and
  // returns the head to write to. nullptr when
  // the chain cannot be built (Error() says why: no gzip in this build, or
  // Compact RINEX of something other than RINEX 2 or 3 observations).
  // Building again drops the previous chain without finishing it.
  // threads false: no thread stage (everything on the writer's thread).
  // clock dates the Compact RINEX header.
  Sink* Build(FileSink* file, Compression compression, bool observation_file, int rinex_major,
              bool threads = true, const RunClock& clock = DefaultRunClock());

  const char* Error() const { return error_.c_str(); }

  // Why a sink of the built chain failed while writing or finishing: the
  // Compact RINEX encoder's own account, or the gzip coder's; "" when
  // neither failed (a failure of the file itself is the file's:
  // FileSink::SystemError).
  const char* StreamError() const;

 private:
  // Destroyed head first: each sink's next outlives it.
  std::unique_ptr<GzipSink> gzip_;
  std::unique_ptr<ThreadSink> thread_;
  std::unique_ptr<CrxSink> crx_;
  std::unique_ptr<ThreadSink> crx_stage_;  // in front of crx_
  std::string error_;
};

// The file name suffix the compression adds to a name already carrying the
// RINEX extension: ".gz" for gzip kinds, "" otherwise. Compact RINEX changes
// the extension itself, which the naming module does.
const char* CompressionSuffix(Compression compression, bool observation_file);

}  // namespace rawconv

#endif  // RAWCONV_SINK_CHAIN_H_
