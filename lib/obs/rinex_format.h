// RINEX 2 observation file format facts in one place: header labels, fixed
// texts, numeric field formats, and the output buffer that builds lines.
//
// Header line layout: columns 1-60 carry the values, columns 61-80 the label
// (left-aligned in 20 columns). Texts taken from the request are written
// whole: a text longer than its column lengthens the line.
//
// Epoch record layout (RINEX 2):
//   " yy mm dd hh mm ss.sssssss  f nn" then up to 12 satellites "Gnn"/"Rnn"
//   (36 columns); satellites 13 to 24 on a continuation line that begins
//   with 32 blanks. Observation values 16 columns each ("%14.3f", loss-of-lock
//   digit, signal strength digit), five to a line.
#ifndef RAWCONV_OBS_RINEX_FORMAT_H_
#define RAWCONV_OBS_RINEX_FORMAT_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace rawconv {

// ---- Header labels (columns 61-80) ----
constexpr char kLabelVersionType[] = "RINEX VERSION / TYPE";
constexpr char kLabelPgmRunByDate[] = "PGM / RUN BY / DATE";
constexpr char kLabelMarkerName[] = "MARKER NAME";
constexpr char kLabelObserverAgency[] = "OBSERVER / AGENCY";
constexpr char kLabelReceiver[] = "REC # / TYPE / VERS";
constexpr char kLabelAntenna[] = "ANT # / TYPE";
constexpr char kLabelApproxPosition[] = "APPROX POSITION XYZ";
constexpr char kLabelAntennaDelta[] = "ANTENNA: DELTA H/E/N";
constexpr char kLabelWavelength[] = "WAVELENGTH FACT L1/2";
constexpr char kLabelObsTypes[] = "# / TYPES OF OBSERV";
constexpr char kLabelInterval[] = "INTERVAL";
constexpr char kLabelFirstObs[] = "TIME OF FIRST OBS";
constexpr char kLabelEndOfHeader[] = "END OF HEADER";
constexpr char kLabelComment[] = "COMMENT";
// Written only on request (user metadata, full header).
constexpr char kLabelMarkerNumber[] = "MARKER NUMBER";
constexpr char kLabelLastObs[] = "TIME OF LAST OBS";
constexpr char kLabelSatelliteCount[] = "# OF SATELLITES";
constexpr char kLabelPrnObsCount[] = "PRN / # OF OBS";

// ---- Fixed texts ----
// Columns 21-60 of the first header line.
constexpr char kObsTypeText[] = "OBSERVATION DATA    G (GPS)             ";
constexpr char kObsTypeTextMixed[] = "OBSERVATION DATA    M (MIXED)           ";
constexpr char kProgramText[] = "RAWCONV v7.00";
constexpr char kKinematicStartText[] = "*** START OF KINEMATIC DATA ***";
constexpr char kKinematicEndText[] = "*** END OF KINEMATIC DATA ***";
constexpr char kKinematicEndMarker[] = "STA";  // marker name of an END event

constexpr int kLabelColumns = 20;  // width of a label and of most text columns
constexpr int kRunDateColumns = 16;  // the run date is cut to this many characters
constexpr int kReceiverColumns = 20;  // receiver text is cut to this many characters
constexpr int kMaxTypesListed = 9;  // places on the "# / TYPES OF OBSERV" line
constexpr int kTypeColumns = 6;
constexpr int kSatsPerLine = 12;
constexpr int kSatListColumns = 36;  // 12 satellites of 3 columns
constexpr int kContinuationIndent = 32;  // satellite continuation starts in column 33
constexpr int kValuesPerLine = 5;
constexpr int kGpsPrnMax = 32;  // above: GLONASS, written as "R"

// Epoch flags of RINEX 2.
constexpr int kEpochFlagOk = 0;
constexpr int kEpochFlagKinematicStart = 2;
constexpr int kEpochFlagNewSite = 3;  // also "end of kinematic data"
constexpr int kNewSiteRecordCount = 4;

// ---- Numeric fields ----
// A right-aligned fixed-point field: "%<Width>.<Decimals>f".
struct FixedFormat {
  int Width;
  int Decimals;
};

constexpr FixedFormat kFmtVersion21{9, 2};         // "%9.2f" version 2.1
constexpr FixedFormat kFmtPosition{14, 4};         // "%14.4f" XYZ and antenna H/E/N
constexpr FixedFormat kFmtInterval20{6, 0};        // "%6.0f"
constexpr FixedFormat kFmtInterval21{10, 3};       // "%10.3f"
constexpr FixedFormat kFmtFirstObsSec20{12, 6};    // "%12.6f"
constexpr FixedFormat kFmtFirstObsSec21{13, 7};    // "%13.7f"
constexpr FixedFormat kFmtEpochSec{10, 7};         // "%10.7f"
constexpr FixedFormat kFmtObsValue{14, 3};         // "%14.3f"
constexpr int kObsValueColumns = 14;  // a value other than C1 is cut to this

// Room for any double in any of the formats above, with its NUL.
constexpr size_t kFixedFieldMax = 352;

// The one formatter of fixed-point numeric fields: writes value as
// "%<Width>.<Decimals>f" into out (out_size bytes, kFixedFieldMax is always
// enough) and returns the length written (cut to out_size - 1).
//
// The text is the one printf gives in the default rounding mode: the exact
// binary value rounded to Decimals places, ties to even, a minus sign for
// every negative value (also -0.0 and values that round to zero), blanks in
// front up to Width. Finite values with up to 8 decimals and fewer than 17
// digits are formatted by integer arithmetic; everything else (NaN,
// infinities, huge values, more decimals, widths over 64) goes through
// snprintf itself, so those texts are the C library's.
size_t FormatFixed(double value, FixedFormat format, char* out, size_t out_size);

// FormatFixed(value, kFmtObsValue, out, out_size), faster for the values of
// observation fields: a value whose text fits the 14 columns is placed in
// them directly (PutObsColumns).
size_t FormatObsValue(double value, char* out, size_t out_size);

// "0000" .. "9999" as four bytes each, the first digit in the lowest byte.
struct FourDigitTable {
  uint32_t Text[10000];
};
extern const FourDigitTable kFourDigitTable;

// The integer an observation field of "%14.3f" says, in thousandths: true
// with |value| x 1000 rounded into *scaled and the sign into *negative when
// the value is one the fast path takes, false (nothing stored) for NaN,
// infinities, texts wider than 14 columns and products that fall on a
// thousandths tie, which need the exact rounding.
//
// |value| x 1000 is rounded the way printf rounds the exact binary value:
// below 2^52 the rounded product p and the half-integers are multiples of
// p's unit in the last place and the exact product lies within half a unit
// of p, so unless p is itself a half-integer the exact product is on the
// same side of every half-integer as p.
inline bool ObsThousandths(double value, uint64_t* scaled, bool* negative) {
  const double product = std::fabs(value) * 1000.0;
  if (!(product < 1e13)) return false;  // the widest text that fits, and NaN
  // Signed conversions: one instruction each way on common machines.
  const int64_t floor = static_cast<int64_t>(product);
  const double above_half = (product - static_cast<double>(floor)) - 0.5;
  if (above_half == 0.0) return false;
  const uint64_t rounded = static_cast<uint64_t>(floor) + (above_half > 0.0 ? 1u : 0u);
  const bool minus = std::signbit(value);
  // Sign, up to 10 whole digits (9 with a sign), point, 3 decimals.
  if (rounded / 1000 >= (minus ? 1000000000u : 10000000000u)) return false;
  *scaled = rounded;
  *negative = minus;
  return true;
}

// The signed form: the thousandths a field's text says (0 for "-0.000").
inline bool ObsThousandths(double value, int64_t* thousandths) {
  uint64_t scaled;
  bool negative;
  if (!ObsThousandths(value, &scaled, &negative)) return false;
  *thousandths = negative ? -static_cast<int64_t>(scaled) : static_cast<int64_t>(scaled);
  return true;
}

// The fast path of an observation value: writes the 14 columns of "%14.3f"
// at out (no terminator) and returns true, or writes nothing and returns
// false when ObsThousandths does not take the value. Inline so that the
// writers' loops over a satellite's values hold no call.
//
// scaled_out (when not null) receives the integer the text says in
// thousandths, signed (0 for "-0.000"), for the writers that hand the
// values on beside the text.
inline bool PutObsColumns(double value, char* out, int64_t* scaled_out = nullptr) {
  uint64_t scaled;
  bool negative;
  if (!ObsThousandths(value, &scaled, &negative)) return false;
  const uint64_t whole = scaled / 1000;
  const uint32_t* const text = kFourDigitTable.Text;
  const uint32_t thousandths = static_cast<uint32_t>(scaled - whole * 1000);
  const uint64_t top = whole / 100000000u;  // 0..99
  const uint64_t rest = whole - top * 100000000u;
  const uint64_t lower = rest / 10000;
  uint64_t digits = text[lower] | (static_cast<uint64_t>(text[rest - lower * 10000]) << 32);
  int sign_at = 0;  // column of the minus sign
  uint16_t head;    // columns 1 and 2
  if (top == 0) {
    // Byte index of the first digit other than '0' among the eight (the
    // last one counts as such, so that 0 keeps its one digit); the zeros
    // before it become blanks ('0' - 0x10).
    const int first =
        __builtin_ctzll((digits ^ 0x3030303030303030u) | (uint64_t{0xFF} << 56)) / 8;
    digits -= 0x1010101010101010u & ((uint64_t{1} << (8 * first)) - 1);
    sign_at = 1 + first;
    head = 0x2020;
  } else {
    const uint32_t pair = text[top] >> 16;
    head = static_cast<uint16_t>(top >= 10 ? pair : (pair & 0xFF00u) | 0x20u);
  }
  const uint32_t fraction = (text[thousandths] & 0xFFFFFF00u) | '.';
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(out, &head, 2);
  std::memcpy(out + 2, &digits, 8);
  std::memcpy(out + 10, &fraction, 4);
#else
  out[0] = static_cast<char>(head & 0xFF);
  out[1] = static_cast<char>(head >> 8);
  for (int i = 0; i < 8; ++i) out[2 + i] = static_cast<char>((digits >> (8 * i)) & 0xFF);
  for (int i = 0; i < 4; ++i) out[10 + i] = static_cast<char>((fraction >> (8 * i)) & 0xFF);
#endif
  if (negative) out[sign_at] = '-';
  if (scaled_out != nullptr) {
    *scaled_out = negative ? -static_cast<int64_t>(scaled) : static_cast<int64_t>(scaled);
  }
  return true;
}

// The same field through snprintf, always: the reference the fast path is
// checked against.
size_t FormatFixedReference(double value, FixedFormat format, char* out, size_t out_size);

// An integer right-aligned in width, as "%*ld" writes it, into out (at least
// kFixedFieldMax bytes when width may exceed 64). Returns the length; out is
// NUL-terminated.
size_t FormatInt(long value, int width, char* out);

// ---- Output buffer ----
// Lines are built in memory and written with fwrite in large blocks:
// whenever an append would not fit, what is held so far is written first, so
// a text of any length is written whole.
constexpr size_t kRinexBufferSize = 65536;

class Sink;

struct RinexBuffer {
  std::FILE* Stream;  // the block goes to Stream, or to Out when Stream is null
  Sink* Out;
  size_t Length;
  // 1: numbers are formatted through snprintf (the reference formatting),
  // as the writer that sets the buffer up asks.
  int32_t Reference;
  char Data[kRinexBufferSize];
};

void RinexBufferInit(RinexBuffer* out, std::FILE* stream, bool reference = false);
void RinexBufferInit(RinexBuffer* out, Sink* sink, bool reference = false);
// Writes out what is held (nothing when neither Stream nor Out is set) and
// empties it. A failing sink remembers its failure itself.
void RinexFlush(RinexBuffer* out);
// Makes room for n more bytes (n at most kRinexBufferSize), flushing first
// when needed, and returns where they go: the caller writes there and adds
// what it wrote to Length.
inline char* RinexReserve(RinexBuffer* out, size_t n) {
  if (kRinexBufferSize - out->Length < n) RinexFlush(out);
  return out->Data + out->Length;
}

// Numeric fields written straight into reserved room (at least
// kFixedFieldMax bytes at `at`) with the buffer's formatter; each returns the
// length written. The Append functions below are built on them.
size_t PutFixed(const RinexBuffer& out, char* at, double value, FixedFormat format);
// An observation value ("%14.3f", FormatObsValue).
size_t PutObsValue(const RinexBuffer& out, char* at, double value);
size_t PutInt(const RinexBuffer& out, char* at, long value, int width);

void AppendText(RinexBuffer* out, const char* text);
// First `length` bytes of text.
void AppendBytes(RinexBuffer* out, const char* text, size_t length);
// Text padded with blanks to width: left-aligned ("%-Ns") or right-aligned
// ("%Ns"). Never cut.
void AppendLeft(RinexBuffer* out, const char* text, int width);
void AppendRight(RinexBuffer* out, const char* text, int width);
// The first `length` bytes of text, padded the same way.
void AppendPadded(RinexBuffer* out, const char* text, size_t length, int width, bool left);
void AppendBlanks(RinexBuffer* out, int count);
// Integer right-aligned in width ("%Ni").
void AppendInt(RinexBuffer* out, long value, int width);
// Fixed-point field through FormatFixed (FormatFixedReference when the
// buffer's Reference is set).
void AppendFixed(RinexBuffer* out, double value, FixedFormat format);
void AppendNewline(RinexBuffer* out);
// A header line ending: the label left-aligned in 20 columns and a newline.
void AppendLabel(RinexBuffer* out, const char* label);

// Length of a NUL-terminated text inside an array of `size` bytes; an array
// without NUL counts as full.
size_t BoundedLength(const char* text, size_t size);

}  // namespace rawconv

#endif  // RAWCONV_OBS_RINEX_FORMAT_H_
