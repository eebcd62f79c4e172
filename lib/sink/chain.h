// The sinks in front of an output file, chosen by the kind of compression:
//   kNone     writer -> file
//   kGzip     writer -> gzip -> file
//   kCrx      writer -> Compact RINEX -> file
//   kCrxGzip  writer -> Compact RINEX -> gzip -> file
// Navigation files are never Compact RINEX: for them kCrx writes plain and
// kCrxGzip writes gzip.
#ifndef RAWCONV_SINK_CHAIN_H_
#define RAWCONV_SINK_CHAIN_H_

#include <memory>
#include <string>

#include "sink/compression.h"
#include "sink/crx_sink.h"
#include "sink/gzip_sink.h"
#include "sink/sink.h"

namespace rawconv {


class OutputChain {
 public:
  OutputChain() = default;
  OutputChain(const OutputChain&) = delete;
  OutputChain& operator=(const OutputChain&) = delete;

  // Builds the sinks in front of `file` (which must outlive the chain) and
  // returns the head to write to: the file itself for kNone. nullptr when
  // the chain cannot be built (Error() says why: no gzip in this build, or
  // Compact RINEX of something other than RINEX 2 or 3 observations).
  // Building again drops the previous chain without finishing it.
  Sink* Build(FileSink* file, Compression compression, bool observation_file, int rinex_major);

  const char* Error() const { return error_.c_str(); }

 private:
  // Destroyed head first: each sink's next outlives it.
  std::unique_ptr<GzipSink> gzip_;
  std::unique_ptr<CrxSink> crx_;
  std::string error_;
};

// The file name suffix the compression adds to a name already carrying the
// RINEX extension: ".gz" for gzip kinds, "" otherwise. Compact RINEX changes
// the extension itself, which the naming module does.
const char* CompressionSuffix(Compression compression, bool observation_file);

}  // namespace rawconv

#endif  // RAWCONV_SINK_CHAIN_H_
