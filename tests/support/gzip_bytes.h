// gzip files for the tests of gzip inputs (header-only; link zlib): bytes
// compressed as one member or as several, as gzip and concatenated gzip
// files hold them.
#ifndef RAWCONV_TESTS_SUPPORT_GZIP_BYTES_H_
#define RAWCONV_TESTS_SUPPORT_GZIP_BYTES_H_

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include "support/file_bytes.h"

namespace rawconv {
namespace gztest {

// One gzip member holding bytes; empty when zlib fails.
inline std::string GzipMember(const std::string& bytes, int level = 6) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return "";
  std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return result == Z_STREAM_END ? out : "";
}

// bytes split into `members` gzip members, one after the other.
inline std::string Gzip(const std::string& bytes, int members = 1) {
  std::string out;
  const size_t part = bytes.size() / static_cast<size_t>(members) + 1;
  for (int i = 0; i < members; ++i) {
    const size_t at = part * static_cast<size_t>(i);
    out += GzipMember(at < bytes.size() ? bytes.substr(at, part) : std::string());
  }
  return out;
}

using testio::ReadBytes;
using testio::WriteBytes;

// The gzip file of the file at path, written beside it as path + ".gz".
inline bool GzipFile(const std::string& path, int members = 1) {
  const std::string packed = Gzip(ReadBytes(path), members);
  return !packed.empty() && WriteBytes(path + ".gz", packed);
}

}  // namespace gztest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_GZIP_BYTES_H_
