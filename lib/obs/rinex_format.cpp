#include "obs/rinex_format.h"
#include "sink/sink.h"

#include <cmath>
#include <cstring>


namespace rawconv {
namespace {

constexpr int kMaxFastDecimals = 8;  // one group of eight fraction digits
constexpr int kMaxFastWidth = 64;
constexpr size_t kFastFieldRoom = 96;  // a field of up to 64 columns and the copies past it

constexpr uint64_t kPow10[kMaxFastDecimals + 1] = {1u,      10u,      100u,      1000u,    10000u,
                                                   100000u, 1000000u, 10000000u, 100000000u};

// "00".."99": two digits per division.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// An unsigned 128-bit value in two halves; plain 64-bit arithmetic, so the
// 32-bit builds run the same code.
struct U128 {
  uint64_t Hi;
  uint64_t Lo;
};

// m (below 2^53) times p (below 2^32).
U128 Multiply(uint64_t m, uint64_t p) {
  const uint64_t low = (m & 0xFFFFFFFFu) * p;
  const uint64_t high = (m >> 32) * p;  // below 2^53
  U128 r;
  r.Lo = low + (high << 32);
  r.Hi = (high >> 32) + (r.Lo < low ? 1u : 0u);
  return r;
}

// |value| x 10^decimals rounded to an integer the way printf rounds: on the
// exact binary value, ties to even. False when the result does not fit in
// 64 bits. value is finite.
bool ScaledMagnitude(double value, int decimals, uint64_t* scaled) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // value = mantissa x 2^exponent
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  if (mantissa == 0) {
    *scaled = 0;
    return true;
  }
  const U128 m = Multiply(mantissa, kPow10[decimals]);  // below 2^80
  if (exponent >= 0) {
    // An integer: m shifted left must stay within 64 bits.
    if (m.Hi != 0 || exponent >= 64 || ((m.Lo >> (63 - exponent)) >> 1) != 0) return false;
    *scaled = m.Lo << exponent;
    return true;
  }
  const int shift = -exponent;
  if (shift > 86) {
    // m < 2^80 is below half of 2^shift: rounds to 0.
    *scaled = 0;
    return true;
  }
  uint64_t quotient_hi, quotient;
  if (shift < 64) {
    quotient = (m.Lo >> shift) | (m.Hi << (64 - shift));
    quotient_hi = m.Hi >> shift;
  } else {
    quotient = m.Hi >> (shift - 64);
    quotient_hi = 0;
  }
  if (quotient_hi != 0) return false;
  // The bit worth one half, and whether anything lies below it.
  const int h = shift - 1;
  bool half, below;
  if (h < 64) {
    half = ((m.Lo >> h) & 1u) != 0;
    below = h > 0 && (m.Lo & ((uint64_t{1} << h) - 1)) != 0;
  } else {
    half = ((m.Hi >> (h - 64)) & 1u) != 0;
    below = m.Lo != 0 || (h > 64 && (m.Hi & ((uint64_t{1} << (h - 64)) - 1)) != 0);
  }
  if (half && (below || (quotient & 1u) != 0)) {
    if (quotient == UINT64_MAX) return false;
    ++quotient;
  }
  *scaled = quotient;
  return true;
}

// Writes the decimal digits of v ending just before end; returns the first.
char* WriteDigitsBackward(uint64_t v, char* end) {
  char* p = end;
  while (v >= 100) {
    const unsigned pair = static_cast<unsigned>(v % 100) * 2;
    v /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (v >= 10) {
    const unsigned pair = static_cast<unsigned>(v) * 2;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return p;
}

// The eight decimal digits of v (v < 10^8, leading zeros included) as
// byte values 0..9, the first digit in the lowest byte. The digits are
// split in halves, quarters and eighths inside one 64-bit word, so the
// steps do not wait on each other the way a division loop does.
uint64_t EightDigits(uint64_t v) {
  const uint64_t halves = (v / 10000) | ((v % 10000) << 32);  // two 4-digit lanes
  const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;  // lane / 100
  const uint64_t quarters = hundreds | ((halves - hundreds * 100) << 16);  // four 2-digit lanes
  const uint64_t tens = ((quarters * 103) >> 10) & 0x000F000F000F000Fu;   // lane / 10
  return tens | ((quarters - tens * 10) << 8);
}

// 10^0 .. 10^16.
constexpr uint64_t kPowersOfTen[17] = {1u,
                                       10u,
                                       100u,
                                       1000u,
                                       10000u,
                                       100000u,
                                       1000000u,
                                       10000000u,
                                       100000000u,
                                       1000000000u,
                                       10000000000u,
                                       100000000000u,
                                       1000000000000u,
                                       10000000000000u,
                                       100000000000000u,
                                       1000000000000000u,
                                       10000000000000000u};

// Number of decimal digits of v (v < 10^16; 0 has one): the bit length
// times log10(2) (1233 / 4096) gives the count or one more.
int DigitCount(uint64_t v) {
  v |= 1u;  // same count (powers of ten are even), and 0 counts as one digit
  const int bits = 64 - __builtin_clzll(v);
  const int estimate = (bits * 1233) >> 12;
  return estimate + 1 - (v < kPowersOfTen[estimate] ? 1 : 0);
}

// Stores the eight (or four) bytes of w, lowest first: one store on
// little-endian machines.
void StoreBytes(char* p, uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, &w, sizeof w);
#else
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((w >> (8 * i)) & 0xFF);
#endif
}

void StoreBytes(char* p, uint32_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, &w, sizeof w);
#else
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((w >> (8 * i)) & 0xFF);
#endif
}

constexpr uint64_t kAsciiZeros = 0x3030303030303030u;
constexpr uint64_t kFastScaledLimit = 10000000000000000u;  // 10^16: two groups of eight digits

// The field of a scaled magnitude (below 10^16, `decimals` of its digits
// after the point), right-aligned in width, at out (kFastFieldRoom bytes).
// The sixteen digits are made in two groups of eight; every byte is stored
// once from left to right in 8-byte stores whose excess is overwritten by
// the next store or lies past the end. Returns the length.
size_t WriteFixedField(bool negative, uint64_t scaled, int decimals, int width, char* out) {
  // The layout comes from the digit count alone, so the positions are known
  // before the digits are.
  const int significant = DigitCount(scaled);
  const uint64_t high = EightDigits(scaled / 100000000u);
  const uint64_t low = EightDigits(scaled % 100000000u);
  const int shown = significant > decimals + 1 ? significant : decimals + 1;
  const int length = (negative ? 1 : 0) + shown + (decimals > 0 ? 1 : 0);
  const int pad = width > length ? width - length : 0;
  char* p = out;
  if (pad <= 16) {
    std::memcpy(p, "                ", 16);
  } else {
    std::memset(p, ' ', static_cast<size_t>(pad));
  }
  p += pad;
  *p = '-';
  p += negative ? 1 : 0;
  // Digits before the point: the last shown digits of the sixteen up to
  // the fraction, which lies wholly in the low group.
  const uint64_t low_text = low + kAsciiZeros;
  if (shown > 8) {
    StoreBytes(p, (high + kAsciiZeros) >> (8 * (16 - shown)));
    p += shown - 8;
    StoreBytes(p, low_text);
    p += 8 - decimals;
  } else {
    StoreBytes(p, low_text >> (8 * (8 - shown)));
    p += shown - decimals;
  }
  if (decimals > 0) {
    *p++ = '.';
    StoreBytes(p, low_text >> (8 * (8 - decimals)));
    p += decimals;
  }
  *p = '\0';
  return static_cast<size_t>(p - out);
}

// Right-aligns the text [first, end) in width at out; returns the length.
size_t PlaceRight(const char* first, const char* end, int width, char* out) {
  const size_t length = static_cast<size_t>(end - first);
  const size_t pad = static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, first, length);
  out[pad + length] = '\0';
  return pad + length;
}

// Copies a finished field into out (out_size bytes), cut to fit.
size_t CopyCut(const char* field, size_t length, char* out, size_t out_size) {
  if (length >= out_size) length = out_size - 1;
  std::memcpy(out, field, length);
  out[length] = '\0';
  return length;
}

size_t SnprintfResult(int n, char* out, size_t out_size) {
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  const size_t length = static_cast<size_t>(n);
  return length < out_size ? length : out_size - 1;
}

constexpr FourDigitTable MakeFourDigitTable() {
  FourDigitTable t{};
  for (uint32_t i = 0; i < 10000; ++i) {
    t.Text[i] = (0x30u + i / 1000) | ((0x30u + i / 100 % 10) << 8) | ((0x30u + i / 10 % 10) << 16) |
                ((0x30u + i % 10) << 24);
  }
  return t;
}

}  // namespace

constexpr FourDigitTable kFourDigitTable = MakeFourDigitTable();

size_t FormatObsValue(double value, char* out, size_t out_size) {
  if (out_size > static_cast<size_t>(kObsValueColumns) && PutObsColumns(value, out)) {
    out[kObsValueColumns] = '\0';
    return kObsValueColumns;
  }
  return FormatFixed(value, kFmtObsValue, out, out_size);
}

size_t FormatFixedReference(double value, FixedFormat format, char* out, size_t out_size) {
  if (out_size == 0) return 0;
  return SnprintfResult(
      std::snprintf(out, out_size, "%*.*f", format.Width, format.Decimals, value), out, out_size);
}

size_t FormatFixed(double value, FixedFormat format, char* out, size_t out_size) {
  if (out_size == 0) return 0;
  uint64_t scaled = 0;
  if (format.Decimals < 0 || format.Decimals > kMaxFastDecimals || format.Width < 0 ||
      format.Width > kMaxFastWidth || !std::isfinite(value) || !ScaledMagnitude(value, format.Decimals, &scaled)) {
    return FormatFixedReference(value, format, out, out_size);
  }
  if (scaled >= kFastScaledLimit) return FormatFixedReference(value, format, out, out_size);
  const bool negative = std::signbit(value);
  if (out_size >= kFastFieldRoom) {
    return WriteFixedField(negative, scaled, format.Decimals, format.Width, out);
  }
  char field[kFastFieldRoom];
  return CopyCut(field, WriteFixedField(negative, scaled, format.Decimals, format.Width, field),
                 out, out_size);
}

size_t FormatInt(long value, int width, char* out) {
  if (value >= 0 && value < 10000 && width >= 0 && width <= kMaxFastWidth) {
    // The small counts, dates and satellite numbers of the records: four
    // digits from the table, leading zeros blanked but for the last.
    const uint32_t v = static_cast<uint32_t>(value);
    const int digits = v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : 4;
    const uint32_t text =
        kFourDigitTable.Text[v] - (0x10101010u & ((uint32_t{1} << (8 * (4 - digits))) - 1));
    const int length = width > digits ? width : digits;
    if (length <= 16) {
      std::memcpy(out, "                ", 16);
    } else {
      std::memset(out, ' ', static_cast<size_t>(length));
    }
    if (length >= 4) {
      StoreBytes(out + length - 4, text);
    } else {
      StoreBytes(out, text >> (8 * (4 - length)));
    }
    out[length] = '\0';
    return static_cast<size_t>(length);
  }
  if (width < 0 || width > kMaxFastWidth) {
    return SnprintfResult(std::snprintf(out, kFixedFieldMax, "%*ld", width, value), out,
                          kFixedFieldMax);
  }
  char number[24];
  char* const end = number + sizeof number;
  const bool negative = value < 0;
  // The magnitude in unsigned arithmetic, so the most negative value works.
  const unsigned long magnitude =
      negative ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  char* first = WriteDigitsBackward(magnitude, end);
  if (negative) *--first = '-';
  return PlaceRight(first, end, width, out);
}

void RinexBufferInit(RinexBuffer* out, std::FILE* stream, bool reference) {
  out->Stream = stream;
  out->Out = nullptr;
  out->Length = 0;
  out->Reference = reference ? 1 : 0;
}

void RinexBufferInit(RinexBuffer* out, Sink* sink, bool reference) {
  RinexBufferInit(out, static_cast<std::FILE*>(nullptr), reference);
  out->Out = sink;
}

void RinexFlush(RinexBuffer* out) {
  if (out->Length > 0) {
    if (out->Stream) {
      std::fwrite(out->Data, 1, out->Length, out->Stream);
    } else if (out->Out) {
      out->Out->Write(out->Data, out->Length);
    }
  }
  out->Length = 0;
}

void AppendBytes(RinexBuffer* out, const char* text, size_t length) {
  while (length > 0) {
    if (out->Length == sizeof out->Data) RinexFlush(out);
    size_t room = sizeof out->Data - out->Length;
    size_t part = length < room ? length : room;
    std::memcpy(out->Data + out->Length, text, part);
    out->Length += part;
    text += part;
    length -= part;
  }
}

void AppendText(RinexBuffer* out, const char* text) { AppendBytes(out, text, std::strlen(text)); }

void AppendBlanks(RinexBuffer* out, int count) {
  static const char kBlanks[] = "                                                  ";  // 50
  while (count > 0) {
    int part = count < 50 ? count : 50;
    AppendBytes(out, kBlanks, static_cast<size_t>(part));
    count -= part;
  }
}

void AppendPadded(RinexBuffer* out, const char* text, size_t length, int width, bool left) {
  int pad = width > 0 && length < static_cast<size_t>(width) ? width - static_cast<int>(length) : 0;
  if (!left) AppendBlanks(out, pad);
  AppendBytes(out, text, length);
  if (left) AppendBlanks(out, pad);
}

void AppendLeft(RinexBuffer* out, const char* text, int width) {
  AppendPadded(out, text, std::strlen(text), width, true);
}

void AppendRight(RinexBuffer* out, const char* text, int width) {
  AppendPadded(out, text, std::strlen(text), width, false);
}

size_t PutFixed(const RinexBuffer& out, char* at, double value, FixedFormat format) {
  return out.Reference ? FormatFixedReference(value, format, at, kFixedFieldMax)
                       : FormatFixed(value, format, at, kFixedFieldMax);
}

size_t PutObsValue(const RinexBuffer& out, char* at, double value) {
  return out.Reference ? FormatFixedReference(value, kFmtObsValue, at, kFixedFieldMax)
                       : FormatObsValue(value, at, kFixedFieldMax);
}

size_t PutInt(const RinexBuffer& out, char* at, long value, int width) {
  if (!out.Reference) return FormatInt(value, width, at);
  return SnprintfResult(std::snprintf(at, kFixedFieldMax, "%*ld", width, value), at,
                        kFixedFieldMax);
}

void AppendInt(RinexBuffer* out, long value, int width) {
  char* at = RinexReserve(out, kFixedFieldMax);
  out->Length += PutInt(*out, at, value, width);
}

void AppendFixed(RinexBuffer* out, double value, FixedFormat format) {
  char* at = RinexReserve(out, kFixedFieldMax);
  out->Length += PutFixed(*out, at, value, format);
}

void AppendNewline(RinexBuffer* out) { AppendBytes(out, "\n", 1); }

void AppendLabel(RinexBuffer* out, const char* label) {
  AppendLeft(out, label, kLabelColumns);
  AppendNewline(out);
}

size_t BoundedLength(const char* text, size_t size) {
  const void* end = std::memchr(text, '\0', size);
  return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : size;
}

}  // namespace rawconv
