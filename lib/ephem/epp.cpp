#include "ephem/epp.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "ephem/stream_char.h"
#include "ephem/block_reader.h"
#include "io/input_file.h"

namespace rawconv {
namespace {

// Characters of the first line that the reference lookup reads.
constexpr size_t kEppFirstLineChars = 249;

// Longest word taken by the sequential reader; a longer one is read as
// several words.
constexpr int kWordChars = 255;

// White space between the words of the sequential reader; a NUL byte counts
// as white space, as in every text reader of the library.
bool IsWordSeparator(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// Reads the next white-space-delimited word, at most kWordChars characters
// (the rest of a longer word is the next word). false at the end of the
// stream.
bool ReadWord(std::FILE* stream, char (&word)[kWordChars + 1]) {
  int c;
  do {
    c = ReadChar(stream);
  } while (c != EOF && IsWordSeparator(c));
  if (c == EOF) return false;
  int n = 0;
  while (c != EOF && !IsWordSeparator(c)) {
    word[n++] = static_cast<char>(c);
    if (n == kWordChars) break;
    c = ReadChar(stream);
  }
  // The separator after the word, if any, is simply consumed.
  word[n] = '\0';
  return true;
}

int32_t ClampToInt32(long long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Integer word the way "%i" reads it: optional sign, then "0x" hexadecimal,
// a leading "0" octal, else decimal; the numeric prefix counts and a word
// without one gives 0.
int32_t IntegerOf(const char* word) { return ClampToInt32(std::strtoll(word, nullptr, 0)); }

// Real word in any decimal or exponent form; numeric prefix, else 0.
double RealOf(const char* word) { return std::strtod(word, nullptr); }

// Reads the words of one record line: the key (dropped), then one value per
// letter of kinds ('i' integer, 'r' real) into the outputs in order. false
// when the stream ends first.
bool ReadRecordLine(std::FILE* stream, const char* kinds, void* const* outputs) {
  char word[kWordChars + 1];
  if (!ReadWord(stream, word)) return false;
  for (int i = 0; kinds[i] != '\0'; ++i) {
    if (!ReadWord(stream, word)) return false;
    if (kinds[i] == 'i') {
      *static_cast<int32_t*>(outputs[i]) = IntegerOf(word);
    } else {
      *static_cast<double*>(outputs[i]) = RealOf(word);
    }
  }
  return true;
}

bool SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

// Weeks as read (0..4095, so full weeks after the 2019 rollover count) and
// toe (0..604800) of an acceptable reference.
bool AcceptableTag(long long week, long long toe) {
  return week >= 0 && week <= kMaxReferenceWeek && toe >= 0 && toe <= 604800;
}

// One (week, toe) pair collected by the reference ephemeris lookup.
struct TimeTag {
  int32_t Week;  // as read from the file (0..4095), before completion
  int32_t Toe;   // seconds of week, 0..604800
};

// The pairs of one lookup, in file order.
struct TimeTags {
  TimeTag Tags[kMaxTimeTags];
  int Count = 0;
  bool Full() const { return Count >= kMaxTimeTags; }
};

// Stores an accepted pair. false when the table is full.
bool AddTag(TimeTags* tags, long long week, long long toe) {
  if (tags->Full()) return false;
  tags->Tags[tags->Count].Week = static_cast<int32_t>(week);
  tags->Tags[tags->Count].Toe = static_cast<int32_t>(toe);
  ++tags->Count;
  return true;
}

// Integer value of the first value of the last entry with the key (any
// case) that has exactly value_count values. false when none qualifies.
bool LastEntryInteger(const BlockRecord& block, const char* key, int value_count,
                      long long& value) {
  bool found = false;
  const int count = block.EntryCount < kBlockMaxEntries ? block.EntryCount : kBlockMaxEntries;
  for (int i = 0; i < count; ++i) {
    const BlockEntry& entry = block.Entries[i];
    if (entry.ValueCount != value_count || !SameTextIgnoringCase(entry.Key, key)) continue;
    char text[kBlockValueSize];
    std::snprintf(text, sizeof text, "%s", entry.Values[0]);
    int32_t v = 0;
    if (ScanValues(text, "%d", &v) == 1) {
      value = v;
      found = true;
    }
  }
  return found;
}

// Block layout: the "GpsEph" blocks after a "$EPHREC" first line, read
// from the start of the stream. false when the file does not begin with the
// tag or no block record can be allocated: the caller then tries the
// six-line layout.
bool CollectTagsFromBlocks(std::FILE* file, TimeTags* tags) {
  // Only the first 249 characters of the first line are read: the rest of a
  // longer first line is where the block search begins.
  char first[kEppFirstLineChars + 1];
  if (!ReadLineStart(file, first, sizeof first) || std::strncmp(first, "$EPHREC", 7) != 0) {
    return false;
  }
  BlockRecord* block = new (std::nothrow) BlockRecord;
  if (block == nullptr) return false;
  int result = 0;
  while (!tags->Full() && (result = ReadBlock(file, block)) != -1) {
    if (result != 0 || !SameTextIgnoringCase(block->Name, "GpsEph")) continue;
    long long week = 0;
    long long toe = 0;
    if (!LastEntryInteger(*block, "El1:", 5, week)) continue;
    if (!LastEntryInteger(*block, "El5:", 4, toe)) continue;
    if (AcceptableTag(week, toe)) AddTag(tags, week, toe);
  }
  delete block;
  return true;
}

// Leading decimal integers of a line (as "%d" reads them). false when the
// line does not begin with count integers.
bool LeadingIntegers(const char* line, int count, long long* values) {
  const char* p = line;
  for (int i = 0; i < count; ++i) {
    char* end = nullptr;
    values[i] = std::strtoll(p, &end, 10);
    if (end == p) return false;
    p = end;
  }
  return true;
}

// Six-line layout: groups of six lines, the week the second integer of the
// first and the toe the first integer of the fifth. Reading stops at the
// first group that does not fit. Each line counts once whatever its length:
// its first 199 characters are kept, the rest is dropped.
void CollectTagsFromLines(std::FILE* file, TimeTags* tags) {
  char lines[6][200];
  while (!tags->Full()) {
    for (int i = 0; i < 6; ++i) {
      if (!ReadTextLine(file, lines[i], sizeof lines[i])) return;
    }
    long long first[2] = {0, 0};
    long long toe = 0;
    if (!LeadingIntegers(lines[0], 2, first) || !LeadingIntegers(lines[4], 1, &toe)) return;
    if (AcceptableTag(first[1], toe)) AddTag(tags, first[1], toe);
  }
}

}  // namespace

std::FILE* OpenEppFile(const char* path, std::string* reason) {
  return OpenInputStream(path, true, reason);
}

int CheckEppHeader(std::FILE* stream) {
  char words[3][kWordChars + 1] = {};
  int read = 0;
  while (read < 3 && ReadWord(stream, words[read])) ++read;
  if (read == 0 || std::strcmp(words[0], "$EPHREC") != 0) {
    return 1;
  }
  return 0;
}

int ReadEphemerisRecord(std::FILE* stream, EphemerisRecord* record) {
  char word[kWordChars + 1];
  do {
    if (!ReadWord(stream, word)) return -1;
  } while (std::strcmp(word, "GpsEph") != 0);

  // Read into a copy so that a record cut off by the end of the stream
  // leaves the caller's record as it was.
  EphemerisRecord r = *record;
  char brace[kWordChars + 1];
  if (!ReadWord(stream, brace)) return -1;
  void* prn[] = {&r.Prn};
  void* line1[] = {&r.Week, &r.Extra, &r.Tgd, &r.Iodc, &r.Toc};
  void* line2[] = {&r.Af2, &r.Af1, &r.Af0};
  void* line3[] = {&r.Iode, &r.Crs, &r.DeltaN, &r.M0};
  void* line4[] = {&r.Cuc, &r.Ecc, &r.Cus, &r.SqrtA};
  void* line5[] = {&r.Toe, &r.Cic, &r.Omega0, &r.Cis};
  void* line6[] = {&r.I0, &r.Crc, &r.Omega, &r.OmegaDot, &r.Idot};
  if (!ReadRecordLine(stream, "i", prn) || !ReadRecordLine(stream, "iirii", line1) ||
      !ReadRecordLine(stream, "rrr", line2) || !ReadRecordLine(stream, "irrr", line3) ||
      !ReadRecordLine(stream, "rrrr", line4) || !ReadRecordLine(stream, "irrr", line5) ||
      !ReadRecordLine(stream, "rrrrr", line6)) {
    return -1;
  }
  if (r.Week < 700) r.Week += 1024;
  *record = r;
  return 0;
}

int FindReferenceEphemeris(const char* path, int* week, double* toe, int* tags_read) {
  std::unique_ptr<TimeTags> tags(new TimeTags());
  if (tags_read) *tags_read = 0;
  if (path == nullptr || path[0] == '\0') return 1;
  std::FILE* file = OpenEppFile(path, nullptr);
  if (file == nullptr) return 1;
  if (!CollectTagsFromBlocks(file, tags.get())) {
    std::rewind(file);
    CollectTagsFromLines(file, tags.get());
  }
  std::fclose(file);
  if (tags_read) *tags_read = tags->Count;

  if (tags->Count == 0) return 1;
  int chosen = tags->Count - 1;
  for (int i = tags->Count - 1; i >= 0; --i) {
    if (tags->Tags[i].Toe != 0) {
      chosen = i;
      break;
    }
  }
  *week = tags->Tags[chosen].Week;
  *toe = static_cast<double>(tags->Tags[chosen].Toe);
  return 0;
}

}  // namespace rawconv
