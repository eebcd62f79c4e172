#include "sink/crx_sink.h"

#include <cstdlib>
#include <cstring>

#include "obs/rinex_format.h"
#include "obs/run_date.h"
#include "sink/crx_format.h"

namespace rawconv {
namespace {

constexpr size_t kFlushSize = 64 * 1024;       // pass text on once this much is held
constexpr size_t kOutCapacity = 256 * 1024;    // room for that plus the longest line
constexpr size_t kMaxLine = 64 * 1024;         // a longer "line" is not RINEX
constexpr size_t kSatelliteSlots = 1024;       // open-addressing table, a power of two
constexpr size_t kMaxNumber = 21;              // "-" and 19 digits of an int64, and one spare
constexpr size_t kMaxField = 2 + kMaxNumber;   // "3&" and a number

char At(const char* line, size_t length, size_t i) { return i < length ? line[i] : ' '; }

// Reads a right-aligned integer field; -1 when it is blank or not a number.
int ReadCount(const char* line, size_t length, size_t start, size_t width) {
  int value = 0;
  bool digits = false;
  for (size_t i = start; i < start + width; ++i) {
    const char c = At(line, length, i);
    if (c == ' ' && !digits) continue;
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    digits = true;
  }
  return digits ? value : -1;
}

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Fixed-point text of `width` columns with exactly `decimals` decimals as
// the integer of its digits ("  -12.345" -> -12345). 0 for a blank field,
// 1 for a number, -1 for anything else.
int ReadFixed(const char* text, size_t width, int decimals, int64_t* value) {
  const char* p = text;
  const char* const end = text + width;
  while (p != end && *p == ' ') ++p;
  if (p == end) return 0;
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* const whole = p;
  uint64_t v = 0;
  while (p != end && IsDigit(*p)) v = v * 10 + static_cast<uint64_t>(*p++ - '0');
  if (p == end || *p != '.' || p - whole > 15) return -1;
  ++p;
  if (end - p != decimals) return -1;
  for (; p != end; ++p) {
    if (!IsDigit(*p)) return -1;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
  }
  *value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return 1;
}

// Eight bytes of text as a little-endian word: text[0] in the lowest byte.
uint64_t Load8(const char* text) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  return v;
}

constexpr uint64_t kHighBits = 0x8080808080808080ULL;
constexpr uint64_t kZeros = 0x3030303030303030ULL;    // "00000000"
constexpr uint64_t kBlanks = 0x2020202020202020ULL;   // "        "

// The value of eight digit bytes less '0' (each 0..9), text[0] most
// significant: pairs, then fours, then the whole.
uint32_t EightDigits(uint64_t d) {
  d = d * 10 + (d >> 8);
  d = ((d & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32)) +
       ((d >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32))) >>
      32;
  return static_cast<uint32_t>(d);
}

// An observation field ("%14.3f": columns 1-10 the sign and whole digits
// right-aligned, column 11 the point, 12-14 the decimals) read without a
// branch per character. Text of any other shape goes to ReadFixed, which
// also decides what the fast path declines.
int ReadValueField(const char* text, int64_t* value) {
  static_assert(crx::kValueWidth == 14 && crx::kValueDecimals == 3, "the layout read below");
  const char* const decimals = text + 11;
  if (text[10] == '.' && IsDigit(decimals[0]) && IsDigit(decimals[1]) && IsDigit(decimals[2])) {
    const uint64_t x = Load8(text + 2);  // columns 3-10
    // High bit of each byte: set for a digit.
    const uint64_t at_least_0 = ((x | kHighBits) - kZeros) & kHighBits;
    const uint64_t at_most_9 = ~(x + 0x4646464646464646ULL) & kHighBits;
    const uint64_t other = ~(at_least_0 & at_most_9) & kHighBits;
    if ((x & kHighBits) == 0) {
      // The non-digits must be a prefix: blanks, the last one maybe "-".
      int prefix = 0;
      if (other != 0) prefix = (63 - __builtin_clzll(other)) / 8 + 1;
      const uint64_t prefix_mask = prefix == 8 ? ~0ULL : (1ULL << (8 * prefix)) - 1;
      if ((other & ~prefix_mask) == 0 && (other & prefix_mask) == (kHighBits & prefix_mask)) {
        // The prefix read as zeros (no borrow between bytes).
        uint64_t whole = EightDigits(((x & ~prefix_mask) | (kZeros & prefix_mask)) - kZeros);
        bool negative = false;
        bool fast = true;
        const uint64_t blanks = kBlanks & prefix_mask;
        const uint64_t minus_at_end = prefix == 0 ? 0 : 0x0DULL << (8 * (prefix - 1));
        if (prefix > 0 && (x & prefix_mask) == blanks) {
          fast = text[0] == ' ' && text[1] == ' ';
        } else if (prefix > 0 && (x & prefix_mask) == (blanks | minus_at_end)) {
          negative = true;
          fast = text[0] == ' ' && text[1] == ' ';
        } else if (prefix == 0) {
          // Eight digits: columns 1-2 hold blanks, a sign or more digits.
          const char c0 = text[0];
          const char c1 = text[1];
          if (IsDigit(c1) && (c0 == ' ' || c0 == '-' || IsDigit(c0))) {
            whole += 100000000ULL * static_cast<uint64_t>(c1 - '0');
            if (IsDigit(c0)) whole += 1000000000ULL * static_cast<uint64_t>(c0 - '0');
            negative = c0 == '-';
          } else if (c1 == '-' && c0 == ' ') {
            negative = true;
          } else {
            fast = c1 == ' ' && c0 == ' ';
          }
        } else {
          fast = false;
        }
        if (fast) {
          const int64_t v = static_cast<int64_t>(whole * 1000 + static_cast<uint64_t>(
              (decimals[0] - '0') * 100 + (decimals[1] - '0') * 10 + (decimals[2] - '0')));
          *value = negative ? -v : v;
          return 1;
        }
      }
    }
  }
  return ReadFixed(text, crx::kValueWidth, crx::kValueDecimals, value);
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint64_t kPowersOf10[20] = {1ULL,
                                     10ULL,
                                     100ULL,
                                     1000ULL,
                                     10000ULL,
                                     100000ULL,
                                     1000000ULL,
                                     10000000ULL,
                                     100000000ULL,
                                     1000000000ULL,
                                     10000000000ULL,
                                     100000000000ULL,
                                     1000000000000ULL,
                                     10000000000000ULL,
                                     100000000000000ULL,
                                     1000000000000000ULL,
                                     10000000000000000ULL,
                                     100000000000000000ULL,
                                     1000000000000000000ULL,
                                     10000000000000000000ULL};

// Decimal digits of u (1 for 0).
int DigitCount(uint64_t u) {
  // log10(2) ~ 1233 / 4096: an estimate from the bit length, then one step.
  const int bits = 64 - __builtin_clzll(u | 1);
  const int estimate = (bits * 1233) >> 12;
  return estimate + ((u | 1) >= kPowersOf10[estimate] ? 1 : 0);
}

// Writes `v` in decimal at `p` and returns the end.
char* PutInt(char* p, int64_t v) {
  uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  if (v < 0) *p++ = '-';
  // Most coded numbers are differences of a few digits.
  if (u < 10) {
    *p = static_cast<char>('0' + u);
    return p + 1;
  }
  if (u < 100) {
    p[0] = kDigitPairs[u * 2];
    p[1] = kDigitPairs[u * 2 + 1];
    return p + 2;
  }
  char* const end = p + DigitCount(u);
  char* d = end;
  while (u >= 100) {
    const size_t pair = static_cast<size_t>(u % 100) * 2;
    u /= 100;
    d -= 2;
    d[0] = kDigitPairs[pair];
    d[1] = kDigitPairs[pair + 1];
  }
  if (u >= 10) {
    d[-2] = kDigitPairs[u * 2];
    d[-1] = kDigitPairs[u * 2 + 1];
  } else {
    d[-1] = static_cast<char>('0' + u);
  }
  return end;
}

uint32_t SatKey(const char* name) {
  return static_cast<uint32_t>(static_cast<unsigned char>(name[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(name[2])) << 16;
}

}  // namespace

CrxSink::CrxSink(Sink* next, const char* program, const RunClock& clock)
    : next_(next),
      program_(program != nullptr ? program : kProgramText),
      out_(new char[kOutCapacity]),
      satellites_(kSatelliteSlots) {
  if (program_.size() > 20) program_.resize(20);
  clock_.count = 0;
  // The run date is read here, on the thread that builds the chain: the
  // sink may run on a thread stage.
  if (FormatRunDate(date_, clock) != 0) date_[0] = '\0';
}

CrxSink::~CrxSink() {
  if (!done_) Abort();
}

bool CrxSink::Fail(const std::string& message) {
  if (!failed_) error_ = "Compact RINEX: " + message;
  failed_ = true;
  return false;
}

bool CrxSink::Room(size_t n) {
  if (out_length_ + n <= kOutCapacity) return true;
  if (!Emit()) return false;
  if (n > kOutCapacity) return Fail("a line is too long");
  return true;
}

void CrxSink::Put(const char* text, size_t n) {
  std::memcpy(out_.get() + out_length_, text, n);
  out_length_ += n;
}

void CrxSink::PutPadded(const char* text, size_t width) {
  const size_t n = std::strlen(text);
  Put(text, n < width ? n : width);
  for (size_t i = n; i < width; ++i) Put(' ');
}

// Lines are begun only after Room for all of them, so the line being ended
// is wholly in the block and trimming stops at the previous line's end.
void CrxSink::EndLine() {
  while (out_length_ > 0 && out_[out_length_ - 1] == ' ') --out_length_;
  Put('\n');
}

bool CrxSink::Emit() {
  if (out_length_ == 0) return true;
  if (!next_->Write(out_.get(), out_length_)) return Fail("the output could not be written");
  out_length_ = 0;
  return true;
}

bool CrxSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  while (length > 0) {
    if (phase_ == Phase::kSkip) {
      // Data records whose values were handed: passed over unread.
      const size_t n = skip_left_ < length ? static_cast<size_t>(skip_left_) : length;
      data += n;
      length -= n;
      skip_left_ -= n;
      if (skip_left_ > 0) break;
      phase_ = Phase::kEpoch;
      if (!EncodeEpoch()) return false;
      continue;
    }
    const char* end = static_cast<const char*>(std::memchr(data, '\n', length));
    if (end == nullptr) {
      if (partial_.size() + length > kMaxLine) return Fail("a line is too long");
      partial_.append(data, length);
      break;
    }
    const size_t part = static_cast<size_t>(end - data);
    bool ok;
    if (partial_.empty()) {
      ok = OnLine(data, part);
    } else {
      if (partial_.size() + part > kMaxLine) return Fail("a line is too long");
      partial_.append(data, part);
      ok = OnLine(partial_.data(), partial_.size());
      partial_.clear();
    }
    if (!ok) return false;
    data += part + 1;
    length -= part + 1;
  }
  if (out_length_ >= kFlushSize) return Emit();
  return true;
}

bool CrxSink::Finish() {
  if (done_) return false;
  if (!failed_ && !partial_.empty()) {
    OnLine(partial_.data(), partial_.size());
    partial_.clear();
  }
  if (!failed_ && phase_ == Phase::kHeader) Fail("the text ends inside the header");
  if (!failed_ && phase_ != Phase::kEpoch) Fail("the text ends inside an epoch");
  if (failed_ || !Emit()) {
    Abort();
    return false;
  }
  done_ = true;
  if (!next_->Finish()) return Fail("the output could not be completed");
  return true;
}

void CrxSink::Abort() {
  done_ = true;
  out_length_ = 0;
  next_->Abort();
}

bool CrxSink::OnLine(const char* line, size_t length) {
  if (length > 0 && line[length - 1] == '\r') --length;
  switch (phase_) {
    case Phase::kHeader:
      return OnHeaderLine(line, length);
    case Phase::kEpoch:
      return OnEpochLine(line, length);
    case Phase::kSpecial:
      // Header records of an event: unchanged; they may redefine the types.
      ReadTypesLine(line, length);
      if (!Room(length + 1)) return false;
      Put(line, length);
      EndLine();
      if (--special_left_ == 0) phase_ = Phase::kEpoch;
      return true;
    case Phase::kRecords:
      epoch_starts_.push_back(epoch_text_.size());
      epoch_lengths_.push_back(length);
      epoch_text_.append(line, length);
      epoch_text_.push_back('\n');
      if (epoch_starts_.size() == epoch_lines_needed_) {
        phase_ = Phase::kEpoch;
        return EpochLinesRead();
      }
      return true;
    case Phase::kSkip:
      break;  // Write passes these bytes over
  }
  return true;
}

bool CrxSink::Values(const EpochValues& values) {
  if (failed_ || done_) return false;
  if (values.Satellites < 0 || values.Types < 0) return Fail("epoch values of a negative count");
  if (pending_head_ > 0 && (pending_head_ == pending_.size() || pending_head_ >= 256)) {
    // Drop what has been used: entries, and values and names up to the
    // first ones still needed (the epoch being coded, or the oldest waiting).
    size_t keep = pending_base_ + pending_values_.size();
    size_t keep_names = pending_names_base_ + pending_names_.size() / 3;
    if (pending_head_ < pending_.size()) {
      keep = pending_[pending_head_].at;
      keep_names = pending_[pending_head_].named_at;
    }
    if (from_values_ && current_.at < keep) keep = current_.at;
    if (from_values_ && current_.named_at < keep_names) keep_names = current_.named_at;
    const long cut = static_cast<long>(keep - pending_base_);
    pending_values_.erase(pending_values_.begin(), pending_values_.begin() + cut);
    pending_flags_.erase(pending_flags_.begin(), pending_flags_.begin() + 2 * cut);
    pending_present_.erase(pending_present_.begin(), pending_present_.begin() + cut);
    pending_base_ = keep;
    const long cut_names = static_cast<long>(keep_names - pending_names_base_);
    pending_names_.erase(pending_names_.begin(), pending_names_.begin() + 3 * cut_names);
    pending_names_base_ = keep_names;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pending_head_));
    pending_head_ = 0;
  }
  Pending entry{values.TextBytes,
                values.Satellites,
                values.Types,
                pending_base_ + pending_values_.size(),
                pending_names_base_ + pending_names_.size() / 3,
                values.Values != nullptr,
                values.Values != nullptr && values.Names != nullptr};
  if (entry.given) {
    const size_t n = static_cast<size_t>(values.Satellites) * static_cast<size_t>(values.Types);
    pending_values_.insert(pending_values_.end(), values.Values, values.Values + n);
    pending_flags_.insert(pending_flags_.end(), values.Flags, values.Flags + 2 * n);
    if (values.Present != nullptr) {
      pending_present_.insert(pending_present_.end(), values.Present, values.Present + n);
    } else {
      pending_present_.insert(pending_present_.end(), n, uint8_t{1});
    }
    if (entry.named) {
      pending_names_.insert(pending_names_.end(), values.Names,
                            values.Names + 3 * static_cast<size_t>(values.Satellites));
    }
  }
  pending_.push_back(entry);
  return true;
}

// The epoch line(s) are held: code the epoch, or first pass over its data
// records when its values were handed.
bool CrxSink::EpochLinesRead() {
  if (!from_values_) return EncodeEpoch();
  const uint64_t read = epoch_text_.size();  // the lines and their ends
  if (read > current_.text_bytes) return Fail("epoch values out of step with the text");
  skip_left_ = current_.text_bytes - read;
  if (skip_left_ > 0) {
    phase_ = Phase::kSkip;
    return true;
  }
  return EncodeEpoch();
}

bool CrxSink::OnHeaderLine(const char* line, size_t length) {
  if (!header_written_) {
    // "     2.11           OBSERVATION DATA    ..." : version in columns 1-9,
    // file type in column 21.
    const double version = std::atof(std::string(line, length < 9 ? length : 9).c_str());
    major_ = static_cast<int>(version);
    if (major_ < 2 || major_ > 4) return Fail("not a RINEX 2, 3 or 4 header");
    if (At(line, length, 20) != 'O') return Fail("not an observation file");
    if (!Room(2 * 81)) return false;
    PutPadded(major_ == 2 ? crx::kVersion1 : crx::kVersion3, 20);
    PutPadded(crx::kFormatText, 40);
    PutPadded(crx::kLabelVersion, 20);
    Put('\n');
    PutPadded(program_.c_str(), 20);
    PutPadded("", 20);
    PutPadded(date_, 20);
    Put(crx::kLabelProgram, std::strlen(crx::kLabelProgram));
    Put('\n');
    header_written_ = true;
  }
  ReadTypesLine(line, length);
  if (!Room(length + 1)) return false;
  Put(line, length);
  Put('\n');
  if (length >= 73 && std::strncmp(line + 60, "END OF HEADER", 13) == 0) phase_ = Phase::kEpoch;
  return true;
}

void CrxSink::ClearSatellites() {
  for (Satellite& s : satellites_) {
    s.key = 0;
    s.last_epoch = 0;
  }
  satellite_count_ = 0;
}

CrxSink::Satellite* CrxSink::FindSatellite(const char* name) {
  const uint32_t key = SatKey(name);
  size_t i = (key * 2654435761u) >> 22 & (kSatelliteSlots - 1);
  while (satellites_[i].key != 0) {
    if (satellites_[i].key == key) return &satellites_[i];
    i = (i + 1) & (kSatelliteSlots - 1);
  }
  if (satellite_count_ == kMaxSatellites) return nullptr;
  ++satellite_count_;
  Satellite& s = satellites_[i];
  s.key = key;
  s.last_epoch = 0;
  s.arcs.clear();
  s.flags.clear();
  return &s;
}

void CrxSink::ReadTypesLine(const char* line, size_t length) {
  if (length < 61) return;
  const char* label = line + 60;
  const size_t label_length = length - 60;
  if (major_ == 2 && label_length >= 19 && std::strncmp(label, "# / TYPES OF OBSERV", 19) == 0) {
    const int n = ReadCount(line, length, 0, 6);
    if (n >= 0) {
      if (n != types2_) ClearSatellites();  // arcs follow the type order
      types2_ = n;
    }
  } else if (major_ >= 3 && label_length >= 19 &&
             std::strncmp(label, "SYS / # / OBS TYPES", 19) == 0) {
    const char system = line[0];
    if (system == ' ') return;  // a continuation line
    const int n = ReadCount(line, length, 3, 3);
    if (n >= 0 && static_cast<unsigned char>(system) < 128) {
      types3_[static_cast<unsigned char>(system)] = n;
      ClearSatellites();
    }
  }
}

int CrxSink::TypesFor(char system) const {
  if (major_ == 2) return types2_;
  const unsigned char s = static_cast<unsigned char>(system);
  return s < 128 ? types3_[s] : 0;
}

bool CrxSink::OnEpochLine(const char* line, size_t length) {
  const bool v3 = major_ >= 3;
  if (v3 && (length == 0 || line[0] != '>')) return Fail("an epoch line was expected");
  if (length == 0) return Fail("an epoch line was expected");
  const size_t flag_column = v3 ? crx::kEpoch3FlagColumn : crx::kEpoch2FlagColumn;
  const char flag = At(line, length, flag_column);
  const int count = ReadCount(line, length, flag_column + 1, 3);
  if (flag < '0' || flag > '6') return Fail("an epoch line has no valid flag: " + std::string(line, length));
  if (flag >= '2') {
    // An event, or the cycle-slip records of flag 6: written whole, its
    // lines follow unchanged, as many as its count says (a reader takes
    // exactly that many). RINEX 2 cycle-slip records that take more lines
    // than they have satellites cannot be carried that way.
    if (flag == '6' && !v3 && count > 0) {
      if (types2_ <= 0) return Fail("data records before the observation types");
      const int per_sat = (types2_ + crx::kValues2PerLine - 1) / crx::kValues2PerLine;
      if ((count - 1) / crx::kEpoch2SatsPerLine + count * per_sat != count) {
        return Fail("cycle-slip records of more lines than satellites: " + std::string(line, length));
      }
    }
    if (!Room(length + 1)) return false;
    if (v3) {
      Put(line, length);
    } else {
      Put('&');
      if (length > 1) Put(line + 1, length - 1);
    }
    EndLine();
    // Everything after an event starts anew: epoch line, clock, arcs.
    epoch_anew_ = true;
    clock_.count = 0;
    ++epoch_number_;
    special_left_ = count > 0 ? static_cast<size_t>(count) : 0;
    if (special_left_ > 0) phase_ = Phase::kSpecial;
    return true;
  }
  if (count < 0) return Fail("an epoch line has no satellite count");
  // The values handed for this epoch, if any (RINEX 3 values come with the
  // records' names, which the epoch line lacks).
  from_values_ = false;
  if (pending_head_ < pending_.size()) {
    current_ = pending_[pending_head_++];
    if (current_.given && (!v3 || current_.named)) {
      if (current_.satellites != count) return Fail("epoch values out of step with the text");
      from_values_ = true;
    }
  }
  epoch_sats_ = count;
  epoch_text_.assign(line, length);
  epoch_text_.push_back('\n');
  epoch_starts_.assign(1, 0);
  epoch_lengths_.assign(1, length);
  size_t lines = 1;
  if (v3) {
    // Coded from values: the epoch line alone is read.
    if (!from_values_) lines += static_cast<size_t>(count);
  } else {
    if (count > 0 && types2_ <= 0) return Fail("data records before the observation types");
    if (count > 0) lines += static_cast<size_t>((count - 1) / crx::kEpoch2SatsPerLine);
    const int per_sat = (types2_ + crx::kValues2PerLine - 1) / crx::kValues2PerLine;
    // Coded from values: only the epoch lines are read.
    if (!from_values_) lines += static_cast<size_t>(count) * static_cast<size_t>(per_sat);
  }
  epoch_lines_needed_ = lines;
  if (lines == 1) return EpochLinesRead();
  phase_ = Phase::kRecords;
  return true;
}

// Writes `now` as a text difference to `before` (or whole).
void CrxSink::PutDiffText(const std::string& before, const std::string& now, bool whole) {
  if (whole) {
    Put(now.data(), now.size());
    return;
  }
  const size_t n = now.size() > before.size() ? now.size() : before.size();
  for (size_t i = 0; i < n; ++i) {
    const char b = i < before.size() ? before[i] : ' ';
    const char c = i < now.size() ? now[i] : ' ';
    Put(c == b ? ' ' : (c == ' ' ? '&' : c));
  }
}

bool CrxSink::EncodeEpoch() {
  const bool v3 = major_ >= 3;
  const char* text = epoch_text_.data();
  const char* first = text;
  const size_t first_length = epoch_lengths_[0];
  ++epoch_number_;

  // The coded epoch line: fixed columns, then the satellite list.
  const size_t fixed = v3 ? crx::kEpoch3Fixed : crx::kEpoch2Fixed;
  epoch_line_.assign(first, first_length < fixed ? first_length : fixed);
  epoch_line_.resize(fixed, ' ');
  size_t first_record = 1;
  for (int i = 0; i < epoch_sats_; ++i) {
    if (v3 && from_values_) {
      // RINEX 3 coded from values: the names came with them.
      const size_t at = 3 * (current_.named_at - pending_names_base_ + static_cast<size_t>(i));
      epoch_line_.append(&pending_names_[at], 3);
      continue;
    }
    // RINEX 2: 12 names a line from column 33; RINEX 3: each record's start.
    const size_t li = v3 ? 1 + static_cast<size_t>(i) : static_cast<size_t>(i / crx::kEpoch2SatsPerLine);
    const size_t col =
        v3 ? 0 : crx::kEpoch2Fixed + 3 * static_cast<size_t>(i % crx::kEpoch2SatsPerLine);
    const char* l = text + epoch_starts_[li];
    const size_t ll = epoch_lengths_[li];
    if (col + 3 <= ll) {
      epoch_line_.append(l + col, 3);
    } else {
      for (size_t k = 0; k < 3; ++k) epoch_line_.push_back(At(l, ll, col + k));
    }
  }
  if (!v3 && epoch_sats_ > 0) {
    first_record += static_cast<size_t>((epoch_sats_ - 1) / crx::kEpoch2SatsPerLine);
  }
  size_t trimmed = epoch_line_.size();
  while (trimmed > 0 && epoch_line_[trimmed - 1] == ' ') --trimmed;
  epoch_line_.resize(trimmed);
  const size_t longest = epoch_line_.size() > last_epoch_line_.size() ? epoch_line_.size()
                                                                      : last_epoch_line_.size();
  if (!Room(longest + 1)) return false;
  if (epoch_anew_ && !v3) {
    Put('&');
    if (!epoch_line_.empty()) Put(epoch_line_.data() + 1, epoch_line_.size() - 1);
  } else {
    PutDiffText(last_epoch_line_, epoch_line_, epoch_anew_);
  }
  EndLine();
  last_epoch_line_.swap(epoch_line_);
  epoch_anew_ = false;

  // Clock offset line.
  const size_t clock_start = v3 ? crx::kEpoch3ClockStart : crx::kEpoch2ClockStart;
  const int clock_width = v3 ? crx::kEpoch3ClockWidth : crx::kEpoch2ClockWidth;
  char clock[16];
  for (int k = 0; k < clock_width; ++k) clock[k] = At(first, first_length, clock_start + static_cast<size_t>(k));
  if (!EncodeClock(clock, clock_width, v3 ? crx::kEpoch3ClockDecimals : crx::kEpoch2ClockDecimals)) {
    return false;
  }

  // Data records, named by the coded line (blanks past its end).
  const char* lines[64];
  size_t lengths[64];
  for (int i = 0; i < epoch_sats_; ++i) {
    const size_t at = fixed + 3 * static_cast<size_t>(i);
    char name[3];
    for (size_t k = 0; k < 3; ++k) name[k] = At(last_epoch_line_.data(), last_epoch_line_.size(), at + k);
    const int types = TypesFor(name[0]);
    if (from_values_) {
      if (current_.types != types) return Fail("epoch values of other types than the header's");
      const size_t at = current_.at - pending_base_ + static_cast<size_t>(i) * static_cast<size_t>(types);
      if (types <= 0) return Fail("a satellite of a system without observation types");
      flags_.assign(&pending_flags_[2 * at], 2 * static_cast<size_t>(types));
      if (!CodeRecord(name, static_cast<size_t>(types), &pending_values_[at], &pending_present_[at]))
        return false;
      continue;
    }
    int line_count;
    if (v3) {
      line_count = 1;
      const size_t li = 1 + static_cast<size_t>(i);
      const char* l = text + epoch_starts_[li];
      const size_t ll = epoch_lengths_[li];
      lines[0] = ll >= 3 ? l + 3 : l + ll;
      lengths[0] = ll >= 3 ? ll - 3 : 0;
    } else {
      line_count = (types + crx::kValues2PerLine - 1) / crx::kValues2PerLine;
      if (line_count > 64) return Fail("too many observation types");
      for (int k = 0; k < line_count; ++k) {
        const size_t li = first_record + static_cast<size_t>(i * line_count + k);
        lines[k] = text + epoch_starts_[li];
        lengths[k] = epoch_lengths_[li];
      }
    }
    if (!EncodeSatellite(name, lines, lengths, line_count, types)) return false;
  }
  if (from_values_) ++epochs_from_values_;
  from_values_ = false;
  return true;
}

bool CrxSink::EncodeClock(const char* text, int width, int decimals) {
  int64_t value = 0;
  const int read = ReadFixed(text, static_cast<size_t>(width), decimals, &value);
  if (read < 0) return Fail("a receiver clock offset cannot be read");
  if (!Room(kMaxField + 1)) return false;
  EncodeValue(&clock_, read == 1, value);
  EndLine();
  return true;
}

// Appends the field of one value and moves its arc on.
inline void CrxSink::EncodeValue(Arc* arc, bool present, int64_t value) {
  if (!present) {
    arc->count = 0;
    return;
  }
  if (arc->count == crx::kArcOrder) {
    // The steady state: an arc of full order.
    static_assert(crx::kArcOrder == 3, "differences of order 3 below");
    const int64_t d1 = value - arc->diff[0];
    const int64_t d2 = d1 - arc->diff[1];
    const int64_t d3 = d2 - arc->diff[2];
    if (d3 < crx::kDifferenceLimit && d3 > -crx::kDifferenceLimit) {
      arc->diff[0] = value;
      arc->diff[1] = d1;
      arc->diff[2] = d2;
      arc->diff[3] = d3;
      out_length_ = static_cast<size_t>(PutInt(out_.get() + out_length_, d3) - out_.get());
      return;
    }
  } else if (arc->count > 0) {
    const int order = arc->count;
    int64_t d[4];
    d[0] = value;
    for (int k = 1; k <= order; ++k) d[k] = d[k - 1] - arc->diff[k - 1];
    if (d[order] < crx::kDifferenceLimit && d[order] > -crx::kDifferenceLimit) {
      for (int k = 0; k <= order; ++k) arc->diff[k] = d[k];
      if (arc->count < crx::kArcOrder) ++arc->count;
      out_length_ = static_cast<size_t>(PutInt(out_.get() + out_length_, d[order]) - out_.get());
      return;
    }
  }
  // A new arc.
  arc->diff[0] = value;
  arc->count = 1;
  Put(static_cast<char>('0' + crx::kArcOrder));
  Put('&');
  out_length_ = static_cast<size_t>(PutInt(out_.get() + out_length_, value) - out_.get());
}

// Reads one data record's values from its text, then codes them.
bool CrxSink::EncodeSatellite(const char* name, const char* const* lines, const size_t* lengths,
                              int line_count, int types) {
  if (types <= 0) return Fail("a satellite of a system without observation types");
  const size_t n = static_cast<size_t>(types);
  record_values_.resize(n);
  record_present_.resize(n);
  flags_.resize(2 * n);
  char* flags = &flags_[0];
  const size_t per_line = major_ == 2 ? crx::kValues2PerLine : n;
  char padded[crx::kFieldColumns];
  size_t t = 0;
  for (int li = 0; li < line_count && t < n; ++li) {
    const char* line = lines[li];
    const size_t length = lengths[li];
    const size_t on_line = n - t < per_line ? n - t : per_line;
    for (size_t k = 0, col = 0; k < on_line; ++k, ++t, col += crx::kFieldColumns) {
      const char* field = line + col;
      if (col + crx::kFieldColumns > length) {
        // The line ends inside the field: read it as if padded with blanks.
        for (size_t c = 0; c < crx::kFieldColumns; ++c) padded[c] = At(line, length, col + c);
        field = padded;
      }
      int64_t value = 0;
      const int read = ReadValueField(field, &value);
      if (read < 0) {
        return Fail("an observation value cannot be read: " + std::string(field, crx::kValueWidth));
      }
      record_values_[t] = value;
      record_present_[t] = read == 1 ? 1 : 0;
      // Version 1.0 has no flags for a blank value: a reader blanks them.
      const bool flagless = read == 0 && major_ == 2;
      flags[2 * t] = flagless ? ' ' : field[crx::kValueWidth];
      flags[2 * t + 1] = flagless ? ' ' : field[crx::kValueWidth + 1];
    }
  }
  if (t < n) return Fail("a data record is too short");
  return CodeRecord(name, n, record_values_.data(), record_present_.data());
}

// Codes one data record: n values (present null: all of them there) and
// the 2 * n flag characters in flags_.
bool CrxSink::CodeRecord(const char* name, size_t n, const int64_t* values,
                         const uint8_t* present) {
  Satellite* sat = FindSatellite(name);
  if (sat == nullptr) return Fail("too many satellites");
  const bool continuing = sat->last_epoch + 1 == epoch_number_ && sat->last_epoch != 0 &&
                          sat->arcs.size() == n;
  sat->last_epoch = epoch_number_;
  if (!continuing) {
    sat->arcs.assign(n, Arc());
    sat->flags.resize(2 * n, ' ');
  }
  // Each value: a separator and a field; then the flags' separator and text.
  if (!Room(n * (1 + kMaxField) + 1 + 2 * n + 1)) return false;
  for (size_t t = 0; t < n; ++t) {
    if (t > 0) Put(' ');
    EncodeValue(&sat->arcs[t], present == nullptr || present[t] != 0, values[t]);
  }
  // Flags: a continuing satellite by difference. A new or returning one in
  // full: version 3.0 readers start its flags empty and take exactly the
  // characters written, so each one is there ("&" for a blank); version 1.0
  // readers start from blanks, so only what differs from blank is needed.
  Put(' ');
  const char* before = sat->flags.data();
  const bool whole_flags = major_ >= 3;
  for (size_t j = 0; j < 2 * n; ++j) {
    const char b = before[j];
    const char c = flags_[j];
    if (continuing) {
      Put(c == b ? ' ' : (c == ' ' ? '&' : c));
    } else if (whole_flags) {
      Put(c == ' ' ? '&' : c);
    } else {
      Put(c != ' ' ? c : (b != ' ' ? '&' : ' '));
    }
  }
  sat->flags.swap(flags_);
  EndLine();
  return true;
}

}  // namespace rawconv
