// Small text helpers shared by the site-log and station-table readers.
#ifndef RAWCONV_META_TEXT_FIELDS_H_
#define RAWCONV_META_TEXT_FIELDS_H_

#include <string>

namespace rawconv {
namespace meta {

// text without leading and trailing blanks, tabs and line ends.
inline std::string Trim(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// The position (from 1) of the first byte outside printable ASCII, 0 when
// every byte is printable.
inline size_t FirstUnprintable(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x7e) return i + 1;
  }
  return 0;
}

}  // namespace meta
}  // namespace rawconv

#endif  // RAWCONV_META_TEXT_FIELDS_H_
