#include "sink/crx_sink.h"

#include <cstdlib>
#include <cstring>

#include "obs/rinex_format.h"
#include "obs/run_date.h"
#include "sink/crx_format.h"

namespace rawconv {
namespace {

constexpr size_t kFlushSize = 64 * 1024;
constexpr size_t kMaxLine = 64 * 1024;  // a longer "line" is not RINEX

// Removes trailing blanks.
size_t TrimmedLength(const char* text, size_t length) {
  while (length > 0 && text[length - 1] == ' ') --length;
  return length;
}

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

// Fixed-point text with `decimals` decimals as an integer of its digits.
// 0 for a blank field, 1 for a number, -1 for anything else.
int ReadFixed(const char* text, size_t width, int decimals, int64_t* value) {
  size_t i = 0;
  while (i < width && text[i] == ' ') ++i;
  if (i == width) return 0;
  bool negative = false;
  if (text[i] == '-') {
    negative = true;
    ++i;
  }
  int64_t v = 0;
  int whole_digits = 0;
  while (i < width && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i++] - '0');
    ++whole_digits;
  }
  if (i == width || text[i] != '.' || whole_digits > 15) return -1;
  ++i;
  for (int d = 0; d < decimals; ++d, ++i) {
    if (i == width || text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  if (i != width) return -1;
  *value = negative ? -v : v;
  return 1;
}

void AppendInt(std::string* out, int64_t v) {
  char buffer[24];
  char* p = buffer + sizeof buffer;
  uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  out->append(p, static_cast<size_t>(buffer + sizeof buffer - p));
}

uint32_t SatKey(const char* name) {
  return static_cast<uint32_t>(static_cast<unsigned char>(name[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(name[2])) << 16;
}

void AppendPadded(std::string* out, const char* text, size_t width) {
  const size_t n = std::strlen(text);
  out->append(text, n < width ? n : width);
  if (n < width) out->append(width - n, ' ');
}

}  // namespace

CrxSink::CrxSink(Sink* next, const char* program)
    : next_(next), program_(program != nullptr ? program : kProgramText) {
  if (program_.size() > 20) program_.resize(20);
  clock_.count = 0;
}

CrxSink::~CrxSink() {
  if (!done_) Abort();
}

bool CrxSink::Fail(const std::string& message) {
  if (!failed_) error_ = "Compact RINEX: " + message;
  failed_ = true;
  return false;
}

void CrxSink::EndLine() {
  out_.resize(TrimmedLength(out_.data(), out_.size()));
  out_.push_back('\n');
}

bool CrxSink::Emit() {
  if (out_.empty()) return true;
  if (!next_->Write(out_.data(), out_.size())) return Fail("the output could not be written");
  out_.clear();
  return true;
}

bool CrxSink::Write(const char* data, size_t length) {
  if (failed_ || done_) return false;
  while (length > 0) {
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
  if (out_.size() >= kFlushSize) return Emit();
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
  out_.clear();
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
      out_.append(line, length);
      EndLine();
      if (--special_left_ == 0) phase_ = Phase::kEpoch;
      return true;
    case Phase::kRecords:
      epoch_starts_.push_back(epoch_text_.size());
      epoch_text_.append(line, length);
      epoch_text_.push_back('\n');
      if (epoch_starts_.size() == epoch_lines_needed_) {
        phase_ = Phase::kEpoch;
        return EncodeEpoch();
      }
      return true;
  }
  return true;
}

bool CrxSink::OnHeaderLine(const char* line, size_t length) {
  if (!header_written_) {
    // "     2.11           OBSERVATION DATA    ..." : version in columns 1-9,
    // file type in column 21.
    const double version = std::atof(std::string(line, length < 9 ? length : 9).c_str());
    major_ = static_cast<int>(version);
    if (major_ != 2 && major_ != 3) return Fail("not a RINEX 2 or 3 header");
    if (At(line, length, 20) != 'O') return Fail("not an observation file");
    AppendPadded(&out_, major_ == 2 ? crx::kVersion1 : crx::kVersion3, 20);
    AppendPadded(&out_, crx::kFormatText, 40);
    out_.append(crx::kLabelVersion);
    out_.push_back('\n');
    char date[128];
    if (FormatRunDate(date) != 0) date[0] = '\0';
    AppendPadded(&out_, program_.c_str(), 20);
    out_.append(20, ' ');
    AppendPadded(&out_, date, 20);
    out_.append(crx::kLabelProgram);
    out_.push_back('\n');
    header_written_ = true;
  }
  ReadTypesLine(line, length);
  out_.append(line, length);
  out_.push_back('\n');
  if (length >= 73 && std::strncmp(line + 60, "END OF HEADER", 13) == 0) phase_ = Phase::kEpoch;
  return true;
}

void CrxSink::ReadTypesLine(const char* line, size_t length) {
  if (length < 61) return;
  const char* label = line + 60;
  const size_t label_length = length - 60;
  if (major_ == 2 && label_length >= 19 && std::strncmp(label, "# / TYPES OF OBSERV", 19) == 0) {
    const int n = ReadCount(line, length, 0, 6);
    if (n >= 0) {
      if (n != types2_) satellites_.clear();  // arcs follow the type order
      types2_ = n;
    }
  } else if (major_ == 3 && label_length >= 19 &&
             std::strncmp(label, "SYS / # / OBS TYPES", 19) == 0) {
    const char system = line[0];
    if (system == ' ') return;  // a continuation line
    const int n = ReadCount(line, length, 3, 3);
    if (n >= 0 && static_cast<unsigned char>(system) < 128) {
      types3_[static_cast<unsigned char>(system)] = n;
      satellites_.clear();
    }
  }
}

int CrxSink::TypesFor(char system) const {
  if (major_ == 2) return types2_;
  const unsigned char s = static_cast<unsigned char>(system);
  return s < 128 ? types3_[s] : 0;
}

bool CrxSink::OnEpochLine(const char* line, size_t length) {
  const bool v3 = major_ == 3;
  if (v3 && (length == 0 || line[0] != '>')) return Fail("an epoch line was expected");
  if (length == 0) return Fail("an epoch line was expected");
  const size_t flag_column = v3 ? crx::kEpoch3FlagColumn : crx::kEpoch2FlagColumn;
  const char flag = At(line, length, flag_column);
  const int count = ReadCount(line, length, flag_column + 1, 3);
  if (flag < '0' || flag > '6') return Fail("an epoch line has no valid flag: " + std::string(line, length));
  if (flag >= '2' && flag <= '5') {
    // An event: written whole, its records follow unchanged.
    if (v3) {
      out_.append(line, length);
    } else {
      out_.push_back('&');
      if (length > 1) out_.append(line + 1, length - 1);
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
  epoch_sats_ = count;
  epoch_text_.assign(line, length);
  epoch_text_.push_back('\n');
  epoch_starts_.assign(1, 0);
  size_t lines = 1;
  if (v3) {
    lines += static_cast<size_t>(count);
  } else {
    if (count > 0 && types2_ <= 0) return Fail("data records before the observation types");
    if (count > 0) lines += static_cast<size_t>((count - 1) / crx::kEpoch2SatsPerLine);
    const int per_sat = (types2_ + crx::kValues2PerLine - 1) / crx::kValues2PerLine;
    lines += static_cast<size_t>(count) * static_cast<size_t>(per_sat);
  }
  epoch_lines_needed_ = lines;
  if (lines == 1) return EncodeEpoch();
  phase_ = Phase::kRecords;
  return true;
}

// Writes `now` as a text difference to `before` (or whole).
void CrxSink::PutDiffText(const std::string& before, const std::string& now, bool whole) {
  if (whole) {
    out_.append(now);
    return;
  }
  const size_t n = now.size() > before.size() ? now.size() : before.size();
  for (size_t i = 0; i < n; ++i) {
    const char b = i < before.size() ? before[i] : ' ';
    const char c = i < now.size() ? now[i] : ' ';
    out_.push_back(c == b ? ' ' : (c == ' ' ? '&' : c));
  }
}

bool CrxSink::EncodeEpoch() {
  const bool v3 = major_ == 3;
  const char* text = epoch_text_.data();
  const char* first = text;
  const size_t first_length = epoch_text_.find('\n');
  ++epoch_number_;

  // The coded epoch line: fixed columns, then the satellite list.
  const size_t fixed = v3 ? crx::kEpoch3Fixed : crx::kEpoch2Fixed;
  epoch_line_.assign(first, first_length < fixed ? first_length : fixed);
  epoch_line_.resize(fixed, ' ');
  size_t first_record = 1;
  if (!v3) {
    for (int i = 0; i < epoch_sats_; ++i) {
      const size_t li = static_cast<size_t>(i / crx::kEpoch2SatsPerLine);
      const char* l = text + epoch_starts_[li];
      const size_t ll = std::strchr(l, '\n') - l;
      const size_t col = crx::kEpoch2Fixed + 3 * static_cast<size_t>(i % crx::kEpoch2SatsPerLine);
      for (size_t k = 0; k < 3; ++k) epoch_line_.push_back(At(l, ll, col + k));
    }
    if (epoch_sats_ > 0) first_record += static_cast<size_t>((epoch_sats_ - 1) / crx::kEpoch2SatsPerLine);
  } else {
    for (int i = 0; i < epoch_sats_; ++i) {
      const char* l = text + epoch_starts_[1 + static_cast<size_t>(i)];
      const size_t ll = std::strchr(l, '\n') - l;
      for (size_t k = 0; k < 3; ++k) epoch_line_.push_back(At(l, ll, k));
    }
  }
  epoch_line_.resize(TrimmedLength(epoch_line_.data(), epoch_line_.size()));
  if (epoch_anew_ && !v3) {
    out_.push_back('&');
    out_.append(epoch_line_, 1, std::string::npos);
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

  // Data records.
  const char* lines[64];
  size_t lengths[64];
  for (int i = 0; i < epoch_sats_; ++i) {
    const char* name = last_epoch_line_.size() >= fixed + 3 * static_cast<size_t>(i) + 3
                           ? last_epoch_line_.data() + fixed + 3 * static_cast<size_t>(i)
                           : "   ";
    char name_text[3] = {' ', ' ', ' '};
    const size_t avail = last_epoch_line_.size() > fixed + 3 * static_cast<size_t>(i)
                             ? last_epoch_line_.size() - fixed - 3 * static_cast<size_t>(i)
                             : 0;
    for (size_t k = 0; k < 3 && k < avail; ++k) name_text[k] = name[k];
    const int types = TypesFor(name_text[0]);
    int line_count;
    if (v3) {
      line_count = 1;
      const char* l = text + epoch_starts_[1 + static_cast<size_t>(i)];
      const size_t ll = std::strchr(l, '\n') - l;
      lines[0] = ll >= 3 ? l + 3 : l + ll;
      lengths[0] = ll >= 3 ? ll - 3 : 0;
    } else {
      line_count = (types + crx::kValues2PerLine - 1) / crx::kValues2PerLine;
      if (line_count > 64) return Fail("too many observation types");
      for (int k = 0; k < line_count; ++k) {
        const char* l = text + epoch_starts_[first_record + static_cast<size_t>(i * line_count + k)];
        lines[k] = l;
        lengths[k] = static_cast<size_t>(std::strchr(l, '\n') - l);
      }
    }
    if (!EncodeSatellite(name_text, lines, lengths, line_count, types)) return false;
  }
  return true;
}

bool CrxSink::EncodeClock(const char* text, int width, int decimals) {
  int64_t value = 0;
  const int read = ReadFixed(text, static_cast<size_t>(width), decimals, &value);
  if (read < 0) return Fail("a receiver clock offset cannot be read");
  EncodeValue(&clock_, read == 1, value);
  EndLine();
  return true;
}

// Appends the field of one value and moves its arc on.
void CrxSink::EncodeValue(Arc* arc, bool present, int64_t value) {
  if (!present) {
    arc->count = 0;
    return;
  }
  if (arc->count > 0) {
    const int order = arc->count < crx::kArcOrder ? arc->count : crx::kArcOrder;
    int64_t d[4];
    d[0] = value;
    for (int k = 1; k <= order; ++k) d[k] = d[k - 1] - arc->diff[k - 1];
    if (d[order] < crx::kDifferenceLimit && d[order] > -crx::kDifferenceLimit) {
      for (int k = 0; k <= order; ++k) arc->diff[k] = d[k];
      if (arc->count < crx::kArcOrder) ++arc->count;
      AppendInt(&out_, d[order]);
      return;
    }
  }
  // A new arc.
  arc->diff[0] = value;
  arc->count = 1;
  out_.push_back(static_cast<char>('0' + crx::kArcOrder));
  out_.push_back('&');
  AppendInt(&out_, value);
}

bool CrxSink::EncodeSatellite(const char* name, const char* const* lines, const size_t* lengths,
                              int line_count, int types) {
  if (types <= 0) return Fail("a satellite of a system without observation types");
  Satellite& sat = satellites_[SatKey(name)];
  const bool continuing = sat.last_epoch + 1 == epoch_number_ && sat.last_epoch != 0 &&
                          sat.arcs.size() == static_cast<size_t>(types);
  sat.last_epoch = epoch_number_;
  if (!continuing) {
    sat.arcs.assign(static_cast<size_t>(types), Arc());
    sat.flags.resize(2 * static_cast<size_t>(types), ' ');
  }
  flags_.assign(2 * static_cast<size_t>(types), ' ');
  char field[crx::kFieldColumns];
  for (int t = 0; t < types; ++t) {
    const int per_line = major_ == 2 ? crx::kValues2PerLine : types;
    const int li = t / per_line;
    if (li >= line_count) return Fail("a data record is too short");
    const size_t col = static_cast<size_t>(t % per_line) * crx::kFieldColumns;
    for (size_t k = 0; k < crx::kFieldColumns; ++k) field[k] = At(lines[li], lengths[li], col + k);
    int64_t value = 0;
    const int read = ReadFixed(field, crx::kValueWidth, crx::kValueDecimals, &value);
    if (read < 0) return Fail("an observation value cannot be read: " + std::string(field, crx::kValueWidth));
    if (t > 0) out_.push_back(' ');
    EncodeValue(&sat.arcs[static_cast<size_t>(t)], read == 1, value);
    flags_[2 * static_cast<size_t>(t)] = field[crx::kValueWidth];
    flags_[2 * static_cast<size_t>(t) + 1] = field[crx::kValueWidth + 1];
  }
  // Flags: a continuing satellite by difference; a returning one so that a
  // reader with either blank or old flags reads the same.
  out_.push_back(' ');
  for (size_t j = 0; j < flags_.size(); ++j) {
    const char b = sat.flags[j];
    const char c = flags_[j];
    if (continuing) {
      out_.push_back(c == b ? ' ' : (c == ' ' ? '&' : c));
    } else {
      out_.push_back(c != ' ' ? c : (b != ' ' ? '&' : ' '));
    }
  }
  sat.flags.swap(flags_);
  EndLine();
  return true;
}

}  // namespace rawconv
