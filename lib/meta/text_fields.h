// Small text helpers shared by the site-log and station-table readers.
#ifndef RAWCONV_META_TEXT_FIELDS_H_
#define RAWCONV_META_TEXT_FIELDS_H_

#include <cctype>
#include <cstddef>
#include <string>

#include "io/input_file.h"

namespace rawconv {
namespace meta {

// Reads the whole file at path (plain or gzip, at most max_bytes) into
// *text. false with a message naming the file as `what` ("site log",
// "station table") in *error: "Cannot open site log X: reason", "Cannot
// read ...", "Site log X is larger than 4 MB: not a site log".
inline bool ReadRecordFile(const std::string& path, size_t max_bytes, const std::string& what,
                           std::string* text, std::string* error) {
  std::string reason;
  switch (ReadInputText(path.c_str(), max_bytes, text, &reason)) {
    case ReadTextResult::kOk:
      return true;
    case ReadTextResult::kCannotOpen:
      *error = "Cannot open " + what + " " + path + ": " + reason;
      return false;
    case ReadTextResult::kCannotRead:
      *error = "Cannot read " + what + " " + path + ": " + reason;
      return false;
    case ReadTextResult::kTooLarge:
      break;
  }
  std::string title = what;
  if (!title.empty()) title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  *error = title + " " + path + " is larger than " + std::to_string(max_bytes >> 20) +
           " MB: not a " + what;
  return false;
}

// text without leading and trailing blanks, tabs and line ends.
inline std::string Trim(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// text with blanks and tabs at its ends dropped and each run of them inside
// made one blank.
inline std::string CollapsedBlanks(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// True when text is letters and digits only (and not empty).
inline bool AllAlnum(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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
