#include "naming/naming.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "naming/file_ext.h"
#include "naming/path.h"
#include "time/calendar.h"

namespace rawconv {
namespace {

constexpr double kDay = 86400.0;
constexpr double kHour = 3600.0;
constexpr double kMinute = 60.0;
constexpr double kYearDays = 365.25;
constexpr int kMaxUnits = 99;
constexpr size_t kStationCodeLength = 4;
constexpr size_t kStationIdLength = 9;
constexpr size_t kPathMax = 4096;

bool Valid(const NamingInput& in) {
  if (in.GpbPath == nullptr || in.GpbPath[0] == '\0') return false;
  if (in.RinexMajor != 2 && in.RinexMajor != 3) return false;
  if (in.Year < 1980 || in.Year > 9999 || in.Month < 1 || in.Month > 12 || in.Day < 1 ||
      in.Day > 31 || in.Hour < 0 || in.Hour > 23 || in.Minute < 0 || in.Minute > 59)
    return false;
  return true;
}

// The last component of a path: after a slash or a backslash on every system.
const char* BaseName(const char* path) { return FileNameOf(path, PathRule::kEitherSlash); }

// The GPB file's name as names are made from it: its last component without
// the ".gz" of a gzip input (site1.gpb.gz -> site1.gpb). out holds kPathMax
// bytes.
void InputName(const char* path, char* out) {
  const char* base = BaseName(path);
  std::snprintf(out, kPathMax, "%.*s", static_cast<int>(WithoutGzipSuffixLength(base)), base);
}

// Four letters/digits from text (lower case), filled with '0'. false when
// text holds none.
bool CodeFrom(const char* text, char* code) {
  size_t n = 0;
  for (const char* p = text; p != nullptr && *p && n < kStationCodeLength; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (std::isalnum(c)) code[n++] = static_cast<char>(std::tolower(c));
  }
  if (n == 0) return false;
  while (n < kStationCodeLength) code[n++] = '0';
  code[n] = '\0';
  return true;
}

void StationCode(const NamingInput& in, char* code) {
  if (CodeFrom(in.Marker, code)) return;
  // The GPB base name without its extension.
  char base[kPathMax];
  InputName(in.GpbPath, base);
  char* dot = std::strrchr(base, '.');
  if (dot != nullptr && dot != base) *dot = '\0';
  if (!CodeFrom(base, code)) std::snprintf(code, kStationCodeLength + 1, "0000");
}

void Upper(char* text) {
  for (; *text; ++text) *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
}

// The nine-character id of a long name.
void StationId(const NamingInput& in, char* id) {
  if (in.StationId != nullptr && std::strlen(in.StationId) == kStationIdLength) {
    bool ok = true;
    for (size_t i = 0; i < kStationIdLength; ++i)
      ok = ok && std::isalnum(static_cast<unsigned char>(in.StationId[i]));
    if (ok) {
      std::memcpy(id, in.StationId, kStationIdLength + 1);
      Upper(id);
      return;
    }
  }
  char code[kStationCodeLength + 1];
  StationCode(in, code);
  std::snprintf(id, kStationIdLength + 1, "%s00XXX", code);
  Upper(id);
}

// Units of a long name: value rounded, between 1 and 99.
int Units(double value) {
  const double r = std::floor(value + 0.5);
  if (r < 1.0) return 1;
  if (r > kMaxUnits) return kMaxUnits;
  return static_cast<int>(r);
}

void PutUnits(int count, char unit, char* out) { std::snprintf(out, 4, "%02d%c", count, unit); }

char TypeLetter(bool navigation, Compression c) {
  if (navigation) return 'n';
  return c == Compression::kCrx || c == Compression::kCrxGzip ? 'd' : 'o';
}

bool Gzipped(Compression c) { return c == Compression::kGzip || c == Compression::kCrxGzip; }

int Finish(const char* name, char* out, size_t size) {
  const size_t length = std::strlen(name);
  if (out == nullptr || size == 0) return kNameTooLong;
  if (length + 1 > size) {
    out[0] = '\0';
    return kNameTooLong;
  }
  std::memcpy(out, name, length + 1);
  return kNameOk;
}

int MakeName(const NamingInput& in, NameStyle style, Compression compression, bool navigation,
             char* out, size_t size) {
  if (out != nullptr && size > 0) out[0] = '\0';
  if (!Valid(in)) return kNameBadInput;
  const char* gz = Gzipped(compression) ? ".gz" : "";
  char name[kPathMax + 16];
  const int yy = in.Year % 100;
  const bool split = in.SplitSeconds > 0.0;
  if (split && style == NameStyle::kInput) style = NameStyle::kShort;
  if (style == NameStyle::kInput || style == NameStyle::kShort) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".%02d%c", yy, TypeLetter(navigation, compression));
    if (split) {
      char code[kStationCodeLength + 1];
      StationCode(in, code);
      char session[8];
      if (in.SplitSeconds >= kDay - 0.5) {
        std::snprintf(session, sizeof session, "0");
      } else if (in.SplitSeconds >= kHour - 0.5) {
        std::snprintf(session, sizeof session, "%c", 'a' + in.Hour);
      } else {
        std::snprintf(session, sizeof session, "%c%02d", 'a' + in.Hour, in.Minute);
      }
      std::snprintf(name, kPathMax, "%s%03d%s%s", code, DayOfYear(in.Year, in.Month, in.Day),
                    session, ext);
    } else if (style == NameStyle::kInput) {
      InputName(in.GpbPath, name);
      if (SetFileExt(name, ext, kPathMax) != 0) return Finish("", out, 0);
    } else {
      char code[kStationCodeLength + 1];
      StationCode(in, code);
      const bool whole_day =
          in.Hour == 0 && in.Minute == 0 && in.SpanSeconds >= kDay - 0.5;
      const char session = whole_day ? '0' : static_cast<char>('a' + in.Hour);
      std::snprintf(name, kPathMax, "%s%03d%c%s", code, DayOfYear(in.Year, in.Month, in.Day),
                    session, ext);
    }
    std::strcat(name, gz);
    return Finish(name, out, size);
  }
  char id[kStationIdLength + 1];
  StationId(in, id);
  char period[4];
  FormatPeriod(split ? in.SplitSeconds : in.SpanSeconds, period);
  char start[32];
  std::snprintf(start, sizeof start, "%04d%03d%02d%02d", in.Year,
                DayOfYear(in.Year, in.Month, in.Day), in.Hour, in.Minute);
  if (navigation) {
    std::snprintf(name, sizeof name, "%s_R_%s_%s_GN.rnx%s", id, start, period, gz);
  } else {
    char interval[4];
    FormatInterval(in.IntervalSeconds, interval);
    const bool crx = compression == Compression::kCrx || compression == Compression::kCrxGzip;
    std::snprintf(name, sizeof name, "%s_R_%s_%s_%s_%cO.%s%s", id, start, period, interval,
                  in.Mixed ? 'M' : 'G', crx ? "crx" : "rnx", gz);
  }
  return Finish(name, out, size);
}

}  // namespace

bool ParseNameStyle(const char* text, NameStyle* style) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "input") == 0) *style = NameStyle::kInput;
  else if (std::strcmp(text, "short") == 0) *style = NameStyle::kShort;
  else if (std::strcmp(text, "long") == 0) *style = NameStyle::kLong;
  else return false;
  return true;
}

bool ParseCompression(const char* text, Compression* compression) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "none") == 0) *compression = Compression::kNone;
  else if (std::strcmp(text, "gz") == 0) *compression = Compression::kGzip;
  else if (std::strcmp(text, "crx") == 0) *compression = Compression::kCrx;
  else if (std::strcmp(text, "crx.gz") == 0) *compression = Compression::kCrxGzip;
  else return false;
  return true;
}

int MakeObsFileName(const NamingInput& input, NameStyle style, Compression compression, char* out,
                    size_t size) {
  return MakeName(input, style, compression, false, out, size);
}

int MakeNavFileName(const NamingInput& input, NameStyle style, Compression compression, char* out,
                    size_t size) {
  // Navigation files are gzipped at most, never Hatanaka-compressed.
  const Compression nav = Gzipped(compression) ? Compression::kGzip : Compression::kNone;
  return MakeName(input, style, nav, true, out, size);
}

void FormatPeriod(double seconds, char* out) {
  if (!(seconds > 0.0)) {
    std::snprintf(out, 4, "00U");
    return;
  }
  if (seconds >= kDay - 0.5 * kHour) {
    const double days = seconds / kDay;
    if (std::floor(days + 0.5) > kMaxUnits) PutUnits(Units(days / kYearDays), 'Y', out);
    else PutUnits(Units(days), 'D', out);
  } else if (seconds >= kHour - 0.5 * kMinute) {
    PutUnits(Units(seconds / kHour), 'H', out);
  } else {
    PutUnits(Units(seconds / kMinute), 'M', out);
  }
}

void FormatInterval(double seconds, char* out) {
  if (!(seconds > 0.0) || std::isinf(seconds)) {
    std::snprintf(out, 4, "00U");
    return;
  }
  if (seconds < 1.0 - 1e-6) {
    const double hertz = 1.0 / seconds;
    if (std::floor(hertz + 0.5) < 100.0) PutUnits(Units(hertz), 'Z', out);
    else PutUnits(Units(hertz / 100.0), 'C', out);
  } else if (seconds < kMinute - 0.5) {
    PutUnits(Units(seconds), 'S', out);
  } else if (seconds < kHour - 0.5 * kMinute) {
    PutUnits(Units(seconds / kMinute), 'M', out);
  } else if (seconds < kDay - 0.5 * kHour) {
    PutUnits(Units(seconds / kHour), 'H', out);
  } else {
    PutUnits(Units(seconds / kDay), 'D', out);
  }
}

std::string PlainObsFileName(const std::string& name, Compression compression) {
  std::string plain = name;
  auto ends_with = [&plain](const char* tail) {
    const size_t n = std::strlen(tail);
    return plain.size() >= n && plain.compare(plain.size() - n, n, tail) == 0;
  };
  if (Gzipped(compression) && ends_with(".gz")) plain.resize(plain.size() - 3);
  if (compression != Compression::kCrx && compression != Compression::kCrxGzip) return plain;
  const size_t n = plain.size();
  auto digit = [&plain](size_t i) { return std::isdigit(static_cast<unsigned char>(plain[i])) != 0; };
  if (ends_with(".crx")) {
    plain.replace(n - 3, 3, "rnx");
  } else if (n >= 4 && plain[n - 4] == '.' && digit(n - 3) && digit(n - 2) &&
             plain[n - 1] == TypeLetter(false, compression)) {
    plain[n - 1] = TypeLetter(false, Compression::kNone);  // .yyd -> .yyo
  }
  return plain;
}

}  // namespace rawconv
