#include "obs/sta_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "station/station_file.h"

namespace rawconv {
namespace {

// A NUL byte counts as a blank, as in every text reader of the library.
bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\0';
}

// Drops the rest of the current line; a line ends at LF, CR LF or a lone CR.
void DropRestOfLine(std::FILE* stream) {
  int c;
  while ((c = std::getc(stream)) != EOF && c != '\n' && c != '\r') {
  }
}

// Reads the next whitespace-delimited word into word (kMaxStaText + 1
// bytes); the blank after it stays in the stream. A longer word is cut at
// kMaxStaText characters and the rest of its line is dropped, so that no
// fragment of it is taken for a word of its own. false at the end of the
// file.
bool ReadWord(std::FILE* stream, char* word) {
  int c;
  do {
    c = std::getc(stream);
  } while (c != EOF && IsBlank(c));
  if (c == EOF) return false;
  int n = 0;
  while (c != EOF && !IsBlank(c)) {
    if (n == kMaxStaText) {
      DropRestOfLine(stream);
      word[n] = '\0';
      return true;
    }
    word[n++] = static_cast<char>(c);
    c = std::getc(stream);
  }
  word[n] = '\0';
  if (c != EOF) std::ungetc(c, stream);
  return true;
}

// Reads the rest of the current line, up to but not including a line end
// or an apostrophe, into text (kMaxStaText + 1 bytes); returns its length.
// A line ends at LF, CR LF or a lone CR, so files of any of the three
// conventions read alike; a NUL byte reads as a blank. A longer record text
// is cut at kMaxStaText characters and the rest of its line dropped.
int ReadRecordText(std::FILE* stream, char* text) {
  int n = 0;
  int c;
  while ((c = std::getc(stream)) != EOF) {
    if (c == '\n' || c == '\'' || c == '\r') {
      std::ungetc(c, stream);
      break;
    }
    if (n == kMaxStaText) {
      DropRestOfLine(stream);
      break;
    }
    text[n++] = c == '\0' ? ' ' : static_cast<char>(c);
  }
  text[n] = '\0';
  return n;
}

// Copies a quoted field without its first and last character into dest of
// size bytes, cut to size - 1 characters; empty when the field holds fewer
// than two characters.
void CopyUnquoted(const char* begin, const char* end, char* dest, size_t size) {
  size_t length = static_cast<size_t>(end - begin);
  if (length < 2) {
    dest[0] = '\0';
    return;
  }
  size_t inner = length - 2;
  if (inner > size - 1) inner = size - 1;
  std::memcpy(dest, begin + 1, inner);
  dest[inner] = '\0';
}

}  // namespace

void ParseStaLine(const char* text, StaRecord* record) {
  constexpr int kMaxStars = 6;
  const char* star[kMaxStars];
  int stars = 0;
  for (const char* p = text; *p != '\0' && stars < kMaxStars; ++p) {
    if (*p == '*') star[stars++] = p;
  }
  const char* text_end = text + std::strlen(text);
  // Field i (1-based) lies between asterisk i and asterisk i + 1, or runs to
  // the end of the text when that asterisk is missing.
  auto field_end = [&](int i) { return i < stars ? star[i] : text_end; };

  if (stars < 1) return;
  record->StaTime = std::strtod(star[0] + 1, nullptr);
  if (stars < 2) return;
  CopyUnquoted(star[1] + 1, field_end(2), record->StaName, sizeof record->StaName);
  if (stars < 4) return;
  record->StaHeight = std::strtod(star[2] + 1, nullptr);
  if (field_end(4) - (star[3] + 1) < 2) return;  // both comments stay empty
  CopyUnquoted(star[3] + 1, field_end(4), record->StaComment1, sizeof record->StaComment1);
  if (stars < 5) return;
  CopyUnquoted(star[4] + 1, field_end(5), record->StaComment2, sizeof record->StaComment2);
}

int ReadStaList(const char* path, StaRecord* table) {
  std::FILE* stream = OpenStationFile(path, nullptr);
  if (stream == nullptr) return 0;
  char word[kMaxStaText + 1];
  char text[kMaxStaText + 1];
  int count = 0;
  while (count < kMaxStaRecords && ReadWord(stream, word)) {
    if (std::strcmp(word, "STA:") != 0) continue;
    // A "STA:" with nothing after it on its line gives no record.
    if (ReadRecordText(stream, text) == 0) continue;
    ParseStaLine(text, &table[count]);
    ++count;
  }
  std::fclose(stream);
  return count;
}

}  // namespace rawconv
