// The kinds of output compression, shared by the sink chain and the naming
// module.
#ifndef RAWCONV_SINK_COMPRESSION_H_
#define RAWCONV_SINK_COMPRESSION_H_

namespace rawconv {

enum class Compression {
  kNone,      // plain RINEX
  kGzip,      // gzip of the RINEX text
  kCrx,       // Compact RINEX (observation files; navigation files stay plain)
  kCrxGzip,   // Compact RINEX, gzipped (navigation files gzipped)
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_COMPRESSION_H_
