#include "ephem/block_reader.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "ephem/stream_char.h"

namespace rawconv {
namespace {

constexpr char kBackquote = '`';

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Separators of the value scanner.
bool IsScanSeparator(char c) { return c == ' ' || c == ',' || c == '\t'; }

// How a line read by ReadLinePiece ended.
enum class LineEnd {
  kNone,       // nothing was left to read
  kLineEnd,    // a line end was read (and dropped)
  kFull,       // the buffer is full and the line goes on
  kEndOfFile,  // the stream ended inside the line
};

// After a CR, a LF that follows belongs to the same line end.
void FinishLineEnd(std::FILE* stream, int c) {
  if (c != '\r') return;
  const int next = ReadChar(stream);
  if (next != '\n' && next != EOF) std::ungetc(next, stream);
}

// Reads characters up to the next line end into line (at most size - 1 of
// them, NUL-terminated, the line end not stored). A line ends at LF, at CR
// LF or at a lone CR, so files of any of the three line-end conventions
// read alike; a NUL byte reads as a blank, so that nothing after it on its
// line is hidden. When the buffer fills up, a line end right after it is
// read too (kLineEnd), and the end of the stream right after it counts as
// ending inside the line (kEndOfFile).
LineEnd ReadLinePiece(std::FILE* stream, char* line, size_t size) {
  size_t n = 0;
  LineEnd end = LineEnd::kFull;
  while (n + 1 < size) {
    const int c = ReadChar(stream);
    if (c == EOF) {
      end = n == 0 ? LineEnd::kNone : LineEnd::kEndOfFile;
      break;
    }
    if (c == '\n' || c == '\r') {
      FinishLineEnd(stream, c);
      end = LineEnd::kLineEnd;
      break;
    }
    line[n++] = c == '\0' ? ' ' : static_cast<char>(c);
  }
  line[n] = '\0';
  if (end == LineEnd::kFull) {
    const int next = ReadChar(stream);
    if (next == '\n' || next == '\r') {
      FinishLineEnd(stream, next);
      end = LineEnd::kLineEnd;
    } else if (next == EOF) {
      end = LineEnd::kEndOfFile;
    } else {
      std::ungetc(next, stream);
    }
  }
  return end;
}

// The line buffer of one block read.
struct LineBuffer {
  char Text[kBlockLineChars + 2];
};

// Reads one line into buffer: at most kBlockLineChars characters, so a
// longer line comes back as several consecutive lines.
LineEnd ReadLine(std::FILE* stream, LineBuffer* buffer, char** line) {
  *line = buffer->Text;
  return ReadLinePiece(stream, *line, kBlockLineChars + 1);
}

// The "{" of a line that opens a block, else nullptr. The characters before
// the first line end, ";", "{" or the end of the text are counted: the line
// opens a block when that stop is a "{" with fewer than kBlockMaxPrefix
// characters before it, at least one of them a blank or tab and at least one
// something else.
char* FindOpeningBrace(char* line) {
  int total = 0;
  int white = 0;
  int other = 0;
  char* p = line;
  for (; *p != '\0' && *p != '\n' && *p != '\r' && *p != ';' && *p != '{'; ++p) {
    ++total;
    if (*p == ' ' || *p == '\t') {
      ++white;
    } else {
      ++other;
    }
  }
  if (*p != '{') return nullptr;
  if (total >= kBlockMaxPrefix || white == 0 || other == 0) return nullptr;
  return p;
}

// Copies the first white-space-delimited word of text into out (size
// bytes, cut to fit). false when the text holds no word.
bool FirstWord(const char* text, char* out, size_t size) {
  while (*text != '\0' && IsWhite(*text)) ++text;
  if (*text == '\0') return false;
  size_t n = 0;
  while (text[n] != '\0' && !IsWhite(text[n])) ++n;
  if (n > size - 1) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return true;
}

// Walks an entry line up to "}" or its end: a ";" cuts the line (comment),
// a double quote toggles the quoted state, and a blank inside quotes becomes
// a backquote. true when the walk stopped at "}".
bool WalkEntryLine(char* line) {
  bool quoted = false;
  for (char* p = line; *p != '\0'; ++p) {
    if (*p == '}') return true;
    if (*p == ';') {
      *p = '\0';
      return false;
    }
    if (*p == '"') {
      quoted = !quoted;
    } else if (*p == ' ' && quoted) {
      *p = kBackquote;
    }
  }
  return false;
}

// Splits a walked entry line into key and values and appends it to the
// record. A line without words adds nothing. Keys longer than the key field
// are cut to its size; words after the fifteenth value are dropped.
void AddEntry(char* line, BlockRecord* record) {
  BlockEntry& entry = record->Entries[record->EntryCount];
  char* p = line;
  int words = 0;
  while (words < kBlockMaxValues + 1) {
    while (*p != '\0' && IsWhite(*p)) ++p;
    if (*p == '\0') break;
    char* word = p;
    while (*p != '\0' && !IsWhite(*p)) ++p;
    size_t n = static_cast<size_t>(p - word);
    char* dest = (words == 0) ? entry.Key : entry.Values[words - 1];
    const size_t size = (words == 0) ? sizeof entry.Key : sizeof entry.Values[0];
    if (n > size - 1) n = size - 1;
    std::memcpy(dest, word, n);
    dest[n] = '\0';
    ++words;
  }
  if (words == 0) return;
  entry.ValueCount = static_cast<int16_t>(words - 1);
  entry.Used = 0;
  ++record->EntryCount;
}

// Key comparison without regard to letter case.
bool SameKey(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

// Decimal integer prefix as atoi reads it, clamped to the int32 range.
int32_t ReadInt32(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void CopyScanText(char* out, const char* text) {
  size_t n = std::strlen(text);
  if (n > kScanTextSize - 1) n = kScanTextSize - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
}

int VScanValues(char* text, const char* format, va_list args) {
  int count = 0;
  char* p = text;
  const char* f = format;
  while (*f != '\0') {
    if (*f != '%') {
      ++f;
      continue;
    }
    ++f;
    if (*p == '\0') return count;
    if (*f == 'S') {
      CopyScanText(va_arg(args, char*), p);
      return count + 1;
    }

    while (IsScanSeparator(*p)) ++p;
    if (*p == '\0') return count;
    char* word = p;
    while (*p != '\0' && !IsScanSeparator(*p)) ++p;
    const bool last = (*p == '\0');
    if (!last) *p++ = '\0';

    switch (*f) {
      case 'c':
        *va_arg(args, char*) = word[0];
        ++f;
        break;
      case 'd':
        if (word[0] == '.') return count;
        *va_arg(args, int32_t*) = ReadInt32(word);
        ++f;
        break;
      case 'e':
      case 'f':
        *va_arg(args, float*) = std::strtof(word, nullptr);
        ++f;
        break;
      case 's':
        CopyScanText(va_arg(args, char*), word);
        ++f;
        break;
      case 'l':
        if (f[1] == 'd') {
          if (word[0] == '.') return count;
          *va_arg(args, int32_t*) = ReadInt32(word);
          f += 2;
        } else if (f[1] == 'e' || f[1] == 'f') {
          *va_arg(args, double*) = std::strtod(word, nullptr);
          f += 2;
        } else if (f[1] == '\0' || f[1] == '%') {
          // A bare "%l" is "%ld"; the "%" after it starts the next directive.
          if (word[0] == '.') return count;
          *va_arg(args, int32_t*) = ReadInt32(word);
          f += 1;
        } else {
          return -1;
        }
        break;
      default:
        return -1;
    }
    ++count;
    if (last) return count;
  }
  return count;
}

}  // namespace

int ReadBlock(std::FILE* stream, BlockRecord* record) {
  LineBuffer buffer;
  char* line = nullptr;
  char* brace = nullptr;
  LineEnd end;
  do {
    end = ReadLine(stream, &buffer, &line);
    if (end == LineEnd::kNone) return -1;
    brace = FindOpeningBrace(line);
  } while (brace == nullptr);
  // An opening line that ends the stream (no line end) gives no block.
  if (end == LineEnd::kEndOfFile) return -1;

  if (!FirstWord(line, record->Name, sizeof record->Name)) return 1;
  record->EntryCount = 0;

  // The first entry line is the rest of the opening line after its "{".
  char* entry_line = brace + 1;
  for (;;) {
    if (WalkEntryLine(entry_line)) return 0;
    // A last line without a line end adds no entry and ends the block.
    if (end == LineEnd::kEndOfFile) return 0;
    AddEntry(entry_line, record);
    if (record->EntryCount >= kBlockMaxEntries) return 0;
    end = ReadLine(stream, &buffer, &entry_line);
    if (end == LineEnd::kNone) return 0;
  }
}

bool ReadTextLine(std::FILE* stream, char* line, size_t size) {
  if (size < 2) return false;
  LineEnd end = ReadLinePiece(stream, line, size);
  if (end == LineEnd::kNone) return false;
  // The rest of a longer line is dropped.
  char rest[64];
  while (end == LineEnd::kFull) {
    end = ReadLinePiece(stream, rest, sizeof rest);
  }
  return true;
}

bool ReadLineStart(std::FILE* stream, char* line, size_t size) {
  if (size < 2) return false;
  return ReadLinePiece(stream, line, size) != LineEnd::kNone;
}

int GetBlockValues(const char* key, BlockRecord* record, const char* format, ...) {
  BlockEntry* found = nullptr;
  const int count = record->EntryCount < kBlockMaxEntries ? record->EntryCount : kBlockMaxEntries;
  for (int i = 0; i < count; ++i) {
    BlockEntry& entry = record->Entries[i];
    if (entry.Used == 0 && SameKey(entry.Key, key)) {
      found = &entry;
      break;
    }
  }
  if (found == nullptr) return -1;

  // Join the values without their double quotes, each followed by a blank,
  // cut at the joined buffer's size.
  char joined[kBlockJoinedChars + 1];
  char scratch[kBlockValueSize];
  const size_t limit = kBlockJoinedChars;
  size_t length = 0;
  const int values = found->ValueCount < kBlockMaxValues ? found->ValueCount : kBlockMaxValues;
  for (int v = 0; v < values; ++v) {
    size_t n = 0;
    for (const char* s = found->Values[v]; *s != '\0' && n < sizeof scratch - 1; ++s) {
      if (*s != '"') scratch[n++] = *s;
    }
    scratch[n] = '\0';
    for (size_t i = 0; i < n && length < limit; ++i) joined[length++] = scratch[i];
    if (length < limit) joined[length++] = ' ';
  }
  joined[length] = '\0';

  va_list args;
  va_start(args, format);
  int result = VScanValues(joined, format, args);
  va_end(args);
  if (result < 0) result = 0;
  found->Used = 1;
  return result;
}

int ScanValues(char* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = VScanValues(text, format, args);
  va_end(args);
  return result;
}

void ReplaceBackquotes(char* text, char c) {
  for (; *text != '\0'; ++text) {
    if (*text == kBackquote) *text = c;
  }
}

void CopyFieldText(char* dest, char* source, size_t size) {
  if (size == 0) return;
  size_t length = std::strlen(source);
  if (length > size - 1) {
    source[size - 1] = '\0';
    length = size - 1;
  }
  for (size_t i = 0; i <= length; ++i) dest[i] = (source[i] == kBackquote) ? ' ' : source[i];
  while (length > 1 && dest[length - 1] == ' ') dest[--length] = '\0';
}

}  // namespace rawconv
