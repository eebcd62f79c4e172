#include "qc/qc_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "ephem/gps_time.h"

namespace rawconv {
namespace qc {
namespace {

void Appendf(std::string* out, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

void Appendf(std::string* out, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n > 0 && static_cast<size_t>(n) < sizeof text) {
    out->append(text, static_cast<size_t>(n));
  } else if (n > 0) {
    // Longer than the first try: formatted again straight into the string.
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(&(*out)[at], static_cast<size_t>(n) + 1, format, again);
    out->resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

// Counts are printed as whole doubles (exact below 2^53): the same format
// on every C library.
double Ll(int64_t v) { return static_cast<double>(v); }

// Text of a value that may not exist: "-" in text, null in JSON.
std::string Opt(double v, const char* format, bool exists, const char* missing) {
  if (!exists || !std::isfinite(v)) return missing;
  std::string text;
  Appendf(&text, format, v);
  return text;
}

std::string JsonNumber(double v, bool exists = true) { return Opt(v, "%.6g", exists, "null"); }

// Length of the well-formed UTF-8 sequence at p (n bytes left), 0 when the
// bytes there are not one: overlong forms, surrogates and code points above
// U+10FFFF are not.
size_t Utf8Length(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
  if (c >= 0xc2 && c <= 0xdf) {
    length = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    length = 3;
    if (c == 0xe0) low = 0xa0;
    if (c == 0xed) high = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    length = 4;
    if (c == 0xf0) low = 0x90;
    if (c == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (n < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (p[i] < 0x80 || p[i] > 0xbf) return 0;
  return length;
}

const char kHexDigits[] = "0123456789abcdef";

// A JSON string. Well-formed UTF-8 is kept as it is; each byte that is not
// part of a well-formed sequence (a file name in another encoding) becomes
// the lone low surrogate U+DC00 + byte, written "\udcXX": the document stays
// valid JSON and a reader gets the bytes back by encoding the surrogates
// back to their bytes (what Python's "surrogateescape" does).
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  const unsigned char* const p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const unsigned char u = p[i];
    if (u == '"' || u == '\\') {
      out += '\\';
      out += static_cast<char>(u);
      ++i;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHexDigits[u >> 4];
      out += kHexDigits[u & 15];
      ++i;
    } else if (u < 0x80) {
      out += static_cast<char>(u);
      ++i;
    } else if (const size_t length = Utf8Length(p + i, n - i)) {
      out.append(s, i, length);
      i += length;
    } else {
      out += "\\udc";
      out += kHexDigits[u >> 4];
      out += kHexDigits[u & 15];
      ++i;
    }
  }
  return out + "\"";
}

// Text for the page: markup characters as entities, and each byte that is
// not part of well-formed UTF-8 (a file name in another encoding) as the
// replacement character, so that the page is valid UTF-8 (the JSON report
// keeps such names byte for byte).
std::string HtmlEscape(const std::string& s) {
  std::string out;
  const unsigned char* const p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const char c = s[i];
    if (p[i] >= 0x80) {
      const size_t length = Utf8Length(p + i, n - i);
      if (length == 0) {
        out += "&#xfffd;";
        ++i;
      } else {
        out.append(s, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
    ++i;
  }
  return out;
}

// The figures' many elements are put together piece by piece, numbers in
// tenths as "%.1f" prints them: printf would cost most of the page. Values
// whose tenths lie within a hair of a tie, or too large for the digits
// below, go through printf after all, so the text is the same to the byte.
class SvgLine {
 public:
  explicit SvgLine(std::string* out) : out_(out) {}
  void Put(const char* text) { out_->append(text); }
  void Put(const std::string& text) { out_->append(text); }
  void Put(double v) {
    const double tenths = v * 10.0;
    if (!(std::fabs(tenths) < 1e15) || std::fabs(std::fabs(tenths - std::trunc(tenths)) - 0.5) < 1e-6) {
      Appendf(out_, "%.1f", v);
      return;
    }
    long long n = std::llround(tenths);
    const bool negative = std::signbit(v);
    if (negative) n = -n;
    char digits[24];
    char* const end = digits + sizeof digits;
    char* p = end;
    *--p = static_cast<char>('0' + n % 10);
    *--p = '.';
    n /= 10;
    do {
      *--p = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    if (negative) *--p = '-';
    out_->append(p, static_cast<size_t>(end - p));
  }

 private:
  std::string* out_;
};

template <typename... Pieces>
void Svg(std::string* o, const Pieces&... pieces) {
  SvgLine line(o);
  (line.Put(pieces), ...);
}

std::string JsonTime(double t, bool exists) { return exists ? JsonString(GpsTimeText(t)) : "null"; }

const char* const kSlipColours[kQcSlipKinds] = {"#d62728", "#9467bd", "#ff7f0e"};

// ---------------------------------------------------------------- station

// The skyplot's samples: per satellite, in time order, the samples the
// figure draws (with an azimuth and an elevation at or above the horizon).
void SkyplotJson(std::string* o, const QcSummary& s) {
  std::map<int, std::vector<const QcSample*>> by_satellite;
  for (const QcSample& x : s.Samples) {
    if (!std::isfinite(x.Azimuth) || !std::isfinite(x.Elevation) || x.Elevation < 0.0f) continue;
    by_satellite[x.Prn].push_back(&x);
  }
  Appendf(o, "  \"skyplot\": {\"sample_stride\": %d, \"satellites\": [", s.SampleStride);
  bool first = true;
  for (const auto& entry : by_satellite) {
    *o += first ? "\n    " : ",\n    ";
    first = false;
    *o += "{\"sat\": " + JsonString(SatelliteName(entry.first)) + ", \"samples\": [";
    for (size_t i = 0; i < entry.second.size(); ++i) {
      const QcSample& x = *entry.second[i];
      *o += i ? ", [" : "[";
      *o += JsonTime(x.Time, true);
      Appendf(o, ", %.1f, %.1f]", static_cast<double>(x.Azimuth), static_cast<double>(x.Elevation));
    }
    *o += "]}";
  }
  *o += "]}\n";
}

std::string JsonEcef(const Vec3& p) {
  return "[" + Opt(p.X, "%.4f", true, "null") + ", " + Opt(p.Y, "%.4f", true, "null") + ", " +
         Opt(p.Z, "%.4f", true, "null") + "]";
}

std::string JsonBool(bool v) { return v ? "true" : "false"; }

std::string JsonText(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

// A comparison of two texts: null when it was not made.
std::string JsonComparison(const TextComparison& c) { return c.Compared ? JsonBool(c.Agrees) : "null"; }

std::string JsonDifference(const PositionDifference& d) {
  if (!d.Valid) return "null";
  std::string o;
  Appendf(&o, "{\"north_m\": %s, \"east_m\": %s, \"up_m\": %s, \"distance_m\": %s, \"threshold_m\": %s, "
              "\"warning\": %s}",
          JsonNumber(d.North).c_str(), JsonNumber(d.East).c_str(), JsonNumber(d.Up).c_str(),
          JsonNumber(d.Distance).c_str(), JsonNumber(d.Threshold).c_str(), JsonBool(d.Warn).c_str());
  return o;
}

// "north 1.234 east -0.567 up 2.345 m, 2.7 m (threshold 30 m)"
std::string TextDifference(const PositionDifference& d) {
  // No "-0.000" for a component that rounds to nothing.
  auto tidy = [](double v) { return std::fabs(v) < 0.0005 ? 0.0 : v; };
  std::string o;
  Appendf(&o, "north %.3f east %.3f up %.3f m, distance %.3f m (warning above %g m)%s", tidy(d.North),
          tidy(d.East), tidy(d.Up), d.Distance, d.Threshold, d.Warn ? "  WARNING" : "");
  return o;
}

const char* Agreement(const TextComparison& c) { return !c.Compared ? "" : c.Agrees ? "agrees" : "DIFFERS"; }

// The station section of the text report.
void StationText(std::string* out, const QcMetadata& m) {
  const DataPosition& d = m.Data;
  *out += "\nStation\n";
  if (d.Valid) {
    Appendf(out, "Position from data  %.3f %.3f %.3f m (ECEF)\n", d.Mean.X, d.Mean.Y, d.Mean.Z);
    Appendf(out, "                    lat %.8f lon %.8f deg, height %.3f m (WGS 84)\n", d.Latitude, d.Longitude,
            d.Height);
    Appendf(out, "  spread            north %.3f east %.3f up %.3f m, 3D RMS %.3f m\n", d.SigmaNorth, d.SigmaEast,
            d.SigmaUp, d.Rms3d);
    Appendf(out, "  epochs            %.0f solved of %.0f tried (every %d), %.0f within the robust bound, "
                 "%.0f ionosphere-free, %.0f satellites dropped by the residual check\n",
            Ll(d.EpochsSolved), Ll(d.EpochsTried), d.Stride, Ll(d.EpochsUsed), Ll(d.IonoFreeEpochs),
            Ll(d.SatellitesDropped));
  } else {
    Appendf(out, "Position from data  - (%s)\n", d.Reason.empty() ? "not computed" : d.Reason.c_str());
  }
  if (m.HasHeaderPosition) {
    Appendf(out, "APPROX POSITION XYZ %.4f %.4f %.4f m\n", m.HeaderPosition.X, m.HeaderPosition.Y,
            m.HeaderPosition.Z);
    if (m.FromHeader.Valid) *out += "  data - header     " + TextDifference(m.FromHeader) + "\n";
  } else {
    *out += "APPROX POSITION XYZ -\n";
  }
  const StationReference& r = m.Reference;
  if (r.Source.empty()) {
    *out += "Station records     none\n";
  } else {
    *out += "Station records     " + r.Source + "\n";
    if (r.HasPosition) {
      Appendf(out, "  position          %.4f %.4f %.4f m\n", r.Position[0], r.Position[1], r.Position[2]);
      if (m.FromReference.Valid) *out += "  data - records    " + TextDifference(m.FromReference) + "\n";
    }
  }
  *out += "Receiver (GPB)      " + (m.ReceiverText.empty() ? std::string("-") : m.ReceiverText) + "\n";
  if (!r.ReceiverType.empty() || !r.ReceiverVersion.empty() || !r.ReceiverNumber.empty()) {
    Appendf(out, "  records           type \"%s\" %s, version \"%s\" %s, number \"%s\"\n", r.ReceiverType.c_str(),
            Agreement(m.ReceiverType), r.ReceiverVersion.c_str(),
            !m.ReceiverVersion.Compared ? "" : m.ReceiverVersion.Agrees ? "found" : "not in the GPB's text",
            r.ReceiverNumber.c_str());
  }
  if (!m.HeaderAntenna.empty() || !r.AntennaType.empty() || !r.AntennaNumber.empty()) {
    Appendf(out, "Antenna             header \"%s\", records \"%s\" %s, number \"%s\"\n", m.HeaderAntenna.c_str(),
            r.AntennaType.c_str(), Agreement(m.AntennaType), r.AntennaNumber.c_str());
  }
  if (m.Warnings.empty()) {
    *out += "Warnings            none\n";
  } else {
    for (const std::string& w : m.Warnings) *out += "WARNING: " + w + "\n";
  }
}

void StationJson(std::string* o, const QcMetadata& m) {
  const DataPosition& d = m.Data;
  *o += "  \"metadata\": {\n    \"data_position\": {\"ecef_m\": " + (d.Valid ? JsonEcef(d.Mean) : std::string("null"));
  Appendf(o, ", \"latitude_deg\": %s, \"longitude_deg\": %s, \"height_m\": %s, \"sigma_north_m\": %s, "
             "\"sigma_east_m\": %s, \"sigma_up_m\": %s, \"rms_3d_m\": %s,\n      \"epochs_tried\": %.0f, "
             "\"epochs_solved\": %.0f, \"epochs_used\": %.0f, \"iono_free_epochs\": %.0f, "
             "\"satellites_dropped\": %.0f, \"stride\": %d, \"reason\": %s},\n",
          Opt(d.Latitude, "%.9f", d.Valid, "null").c_str(), Opt(d.Longitude, "%.9f", d.Valid, "null").c_str(),
          Opt(d.Height, "%.4f", d.Valid, "null").c_str(), JsonNumber(d.SigmaNorth, d.Valid).c_str(),
          JsonNumber(d.SigmaEast, d.Valid).c_str(), JsonNumber(d.SigmaUp, d.Valid).c_str(),
          JsonNumber(d.Rms3d, d.Valid).c_str(), Ll(d.EpochsTried), Ll(d.EpochsSolved), Ll(d.EpochsUsed),
          Ll(d.IonoFreeEpochs), Ll(d.SatellitesDropped), d.Stride, JsonText(d.Valid ? "" : d.Reason).c_str());
  *o += "    \"approx_position\": {\"ecef_m\": " +
        (m.HasHeaderPosition ? JsonEcef(m.HeaderPosition) : std::string("null")) +
        ", \"difference\": " + JsonDifference(m.FromHeader) + "},\n";
  const StationReference& r = m.Reference;
  if (r.Source.empty()) {
    *o += "    \"reference\": null,\n";
  } else {
    Vec3 p;
    p.X = r.Position[0];
    p.Y = r.Position[1];
    p.Z = r.Position[2];
    *o += "    \"reference\": {\"source\": " + JsonString(r.Source) +
          ", \"ecef_m\": " + (r.HasPosition ? JsonEcef(p) : std::string("null")) +
          ", \"difference\": " + JsonDifference(m.FromReference) +
          ",\n      \"receiver_type\": " + JsonText(r.ReceiverType) +
          ", \"receiver_number\": " + JsonText(r.ReceiverNumber) +
          ", \"receiver_version\": " + JsonText(r.ReceiverVersion) +
          ", \"antenna_type\": " + JsonText(r.AntennaType) + ", \"antenna_number\": " + JsonText(r.AntennaNumber) +
          "},\n";
  }
  *o += "    \"receiver\": {\"gpb\": " + JsonString(m.ReceiverText) +
        ", \"type_agrees\": " + JsonComparison(m.ReceiverType) +
        ", \"version_found\": " + JsonComparison(m.ReceiverVersion) + "},\n";
  *o += "    \"antenna\": {\"header\": " + JsonText(m.HeaderAntenna) +
        ", \"type_agrees\": " + JsonComparison(m.AntennaType) + "},\n";
  *o += "    \"warnings\": [";
  for (size_t i = 0; i < m.Warnings.size(); ++i) *o += (i ? ", " : "") + JsonString(m.Warnings[i]);
  *o += "]\n  },\n";
}

// The station section of the page: one table row per fact, the warnings
// above it.
void StationHtml(std::string* o, const QcMetadata& m) {
  *o += "<h2>Station</h2>\n";
  if (!m.Warnings.empty()) {
    *o += "<ul class=\"warnings\">\n";
    for (const std::string& w : m.Warnings) *o += "<li style=\"color:#b00000\">Warning: " + HtmlEscape(w) + "</li>\n";
    *o += "</ul>\n";
  }
  *o += "<table id=\"station\">\n";
  auto row = [o](const std::string& what, const std::string& value) {
    *o += "<tr><th style=\"text-align:left\">" + HtmlEscape(what) + "</th><td style=\"text-align:left\">" +
          HtmlEscape(value) + "</td></tr>\n";
  };
  const DataPosition& d = m.Data;
  std::string text;
  if (d.Valid) {
    Appendf(&text, "%.3f %.3f %.3f m", d.Mean.X, d.Mean.Y, d.Mean.Z);
    row("Position from the data (ECEF)", text);
    text.clear();
    Appendf(&text, "lat %.8f, lon %.8f deg, height %.3f m", d.Latitude, d.Longitude, d.Height);
    row("Position from the data (WGS 84)", text);
    text.clear();
    Appendf(&text, "north %.3f, east %.3f, up %.3f m; 3D RMS %.3f m; %.0f of %.0f epochs solved", d.SigmaNorth,
            d.SigmaEast, d.SigmaUp, d.Rms3d, Ll(d.EpochsSolved), Ll(d.EpochsTried));
    row("Spread", text);
  } else {
    row("Position from the data", "- (" + (d.Reason.empty() ? std::string("not computed") : d.Reason) + ")");
  }
  if (m.HasHeaderPosition) {
    text.clear();
    Appendf(&text, "%.4f %.4f %.4f m", m.HeaderPosition.X, m.HeaderPosition.Y, m.HeaderPosition.Z);
    row("APPROX POSITION XYZ", text);
    if (m.FromHeader.Valid) row("Data minus header", TextDifference(m.FromHeader));
  }
  const StationReference& r = m.Reference;
  row("Station records", r.Source.empty() ? std::string("none") : r.Source);
  if (r.HasPosition) {
    text.clear();
    Appendf(&text, "%.4f %.4f %.4f m", r.Position[0], r.Position[1], r.Position[2]);
    row("Position of the records", text);
    if (m.FromReference.Valid) row("Data minus records", TextDifference(m.FromReference));
  }
  row("Receiver (GPB)", m.ReceiverText.empty() ? std::string("-") : m.ReceiverText);
  if (!r.ReceiverType.empty() || !r.ReceiverVersion.empty() || !r.ReceiverNumber.empty()) {
    row("Receiver (records)", r.ReceiverType + " " + Agreement(m.ReceiverType) + "; version " + r.ReceiverVersion +
                                  "; number " + r.ReceiverNumber);
  }
  if (!m.HeaderAntenna.empty() || !r.AntennaType.empty()) {
    row("Antenna", "header " + m.HeaderAntenna + "; records " + r.AntennaType + " " + Agreement(m.AntennaType));
  }
  *o += "</table>\n";
}

}  // namespace

std::string SatelliteName(int prn) {
  char text[16];
  if (prn > 32) {
    std::snprintf(text, sizeof text, "R%02d", prn - 32);
  } else {
    std::snprintf(text, sizeof text, "G%02d", prn);
  }
  return text;
}

std::string GpsTimeText(double gps_seconds) {
  if (!std::isfinite(gps_seconds) || gps_seconds < 0.0) return "?";
  const int week = static_cast<int>(std::floor(gps_seconds / kSecondsPerWeek));
  const double sow = gps_seconds - week * kSecondsPerWeek;
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(week, sow, hour, minute, seconds, month, day, year);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%06.3f", year, month, day, hour, minute,
                seconds);
  return text;
}

SvgPoint SkyplotPoint(double az_deg, double el_deg, double cx, double cy, double radius) {
  const double r = radius * (90.0 - el_deg) / 90.0;
  const double az = az_deg / kDegPerRad;
  SvgPoint p;
  p.X = cx + r * std::sin(az);
  p.Y = cy - r * std::cos(az);
  return p;
}

double ScaleLinear(double v, double d0, double d1, double r0, double r1) {
  if (d1 == d0) return r0;
  return r0 + (v - d0) * (r1 - r0) / (d1 - d0);
}

std::string SignalColour(double dbhz) {
  if (!std::isfinite(dbhz)) return "#999999";
  double f = (dbhz - kWeakSignal) / (kStrongSignal - kWeakSignal);
  f = std::min(1.0, std::max(0.0, f));
  // Hue 240 (blue) to 0 (red) through cyan, green and yellow.
  const double h = 240.0 * (1.0 - f) / 60.0;
  const double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
  double r = 0, g = 0, b = 0;
  if (h < 1) { r = 1; g = x; }
  else if (h < 2) { r = x; g = 1; }
  else if (h < 3) { g = 1; b = x; }
  else { g = x; b = 1; }
  static const char kHex[] = "0123456789abcdef";
  std::string text = "#";
  for (double v : {r, g, b}) {
    const long byte = std::lround(v * 255);
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

int TimelineHeight(const QcSummary& s) { return 50 + kTimelineRow * std::max(1, s.SatelliteCount()); }

std::string QcOneLine(const QcSummary& s, const std::string& name) {
  std::string out;
  if (s.PresentEpochs == 0) {
    Appendf(&out, "%s: no epochs", name.c_str());
    return out;
  }
  Appendf(&out, "%s: %s to %s, %g s, %.0f/%.0f epochs (%.1f%%), %.0f gaps, %d satellites, %.0f slips",
          name.c_str(), GpsTimeText(s.FirstTime).c_str(), GpsTimeText(s.LastTime).c_str(), s.Interval,
          Ll(s.PresentEpochs), Ll(s.ExpectedEpochs), s.CompletenessPercent, Ll(s.GapCount),
          s.SatelliteCount(), Ll(s.TotalSlips()));
  if (s.Mp1Count > 0) Appendf(&out, ", MP1 %.2f m", s.Mp1Rms);
  if (s.Mp2Count > 0) Appendf(&out, ", MP2 %.2f m", s.Mp2Rms);
  if (s.S1Count > 0) Appendf(&out, ", S1 %.1f dB-Hz", s.MeanS1);
  if (s.S2Count > 0) Appendf(&out, ", S2 %.1f dB-Hz", s.MeanS2);
  if (s.WithAzEl > 0) {
    Appendf(&out, ", %.1f%% below %g deg",
            100.0 * static_cast<double>(s.BelowMask) / static_cast<double>(s.WithAzEl), s.ElevationMask);
  }
  return out;
}

std::string QcText(const QcSummary& s, const std::string& name) {
  std::string out;
  Appendf(&out, "Quality check of %s\n\n", name.c_str());
  const bool any = s.PresentEpochs > 0;
  Appendf(&out, "First epoch         %s\n", any ? GpsTimeText(s.FirstTime).c_str() : "-");
  Appendf(&out, "Last epoch          %s\n", any ? GpsTimeText(s.LastTime).c_str() : "-");
  Appendf(&out, "Interval            %g s\n", s.Interval);
  Appendf(&out, "Epochs              %.0f present, %.0f expected, %.2f%% complete\n",
          Ll(s.PresentEpochs), Ll(s.ExpectedEpochs), s.CompletenessPercent);
  if (s.SkippedEpochs > 0) Appendf(&out, "Epochs out of order  %.0f (skipped)\n", Ll(s.SkippedEpochs));
  Appendf(&out, "Gaps (> %.1f intervals)  %.0f\n", kGapFactor, Ll(s.GapCount));
  for (const QcGap& g : s.Gaps) {
    Appendf(&out, "  %s to %s  %8.1f s  %.0f epochs missing\n", GpsTimeText(g.Start).c_str(),
            GpsTimeText(g.End).c_str(), g.End - g.Start, Ll(g.MissingEpochs));
  }
  if (static_cast<int64_t>(s.Gaps.size()) < s.GapCount) Appendf(&out, "  ... (list cut)\n");
  Appendf(&out, "\nSatellites          %d\n", s.SatelliteCount());
  out += "Observations       ";
  for (int i = 0; i < kQcObsTypes; ++i) Appendf(&out, " %s %.0f", QcObsTypeName(i), Ll(s.Obs[i]));
  Appendf(&out, "\nLoss of lock        %.0f\n", Ll(s.LossOfLock));
  Appendf(&out, "Cycle slips         %.0f (geometry-free %.0f, Melbourne-Wuebbena %.0f, code-minus-phase %.0f)\n",
          Ll(s.TotalSlips()), Ll(s.Slips[kSlipGeometryFree]), Ll(s.Slips[kSlipMelbourneWuebbena]),
          Ll(s.Slips[kSlipCodeMinusPhase]));
  Appendf(&out, "  thresholds: GF %.3f m from the linear prediction; MW %.0f sigma and at least %.0f cycles "
               "after %d epochs; code-minus-phase %.0f m between epochs\n",
          kGeometryFreeSlipMetres, kMwSlipSigmas, kMwSlipMinCycles, kMwMinEpochs, kCodeMinusPhaseSlipMetres);
  Appendf(&out, "MP1 RMS             %s m (%.0f values)\n", Opt(s.Mp1Rms, "%.3f", s.Mp1Count > 0, "-").c_str(),
          Ll(s.Mp1Count));
  Appendf(&out, "MP2 RMS             %s m (%.0f values)\n", Opt(s.Mp2Rms, "%.3f", s.Mp2Count > 0, "-").c_str(),
          Ll(s.Mp2Count));
  Appendf(&out, "Mean S1             %s dB-Hz\n", Opt(s.MeanS1, "%.1f", s.S1Count > 0, "-").c_str());
  Appendf(&out, "Mean S2             %s dB-Hz\n", Opt(s.MeanS2, "%.1f", s.S2Count > 0, "-").c_str());
  if (s.HasPosition) {
    Appendf(&out, "Position (ECEF)     %.3f %.3f %.3f m\n", s.Position.X, s.Position.Y, s.Position.Z);
  } else {
    out += "Position (ECEF)     -\n";
  }
  Appendf(&out, "Ephemerides         %d\n", s.EphemerisCount);
  Appendf(&out, "With az/el          %.0f, without ephemeris %.0f, below %g deg mask %.0f\n",
          Ll(s.WithAzEl), Ll(s.WithoutEphemeris), s.ElevationMask, Ll(s.BelowMask));
  StationText(&out, s.Metadata);
  out += "\n";

  out += "Sat  Epochs     C1     L1     L2     P1     P2     D1     S1     S2  LLI  GF  MW CMP   MP1    MP2   S1   S2  <mask\n";
  for (const QcSatellite& sat : s.Satellites) {
    Appendf(&out, "%s %7.0f", SatelliteName(sat.Prn).c_str(), Ll(sat.Epochs));
    for (int i = 0; i < kQcObsTypes; ++i) Appendf(&out, " %6.0f", Ll(sat.Obs[i]));
    Appendf(&out, " %4.0f %3.0f %3.0f %3.0f %6s %6s %4s %4s %6.0f\n", Ll(sat.LossOfLock),
            Ll(sat.Slips[0]), Ll(sat.Slips[1]), Ll(sat.Slips[2]),
            Opt(sat.Mp1Rms, "%.3f", sat.Mp1Count > 0, "-").c_str(),
            Opt(sat.Mp2Rms, "%.3f", sat.Mp2Count > 0, "-").c_str(),
            Opt(sat.MeanS1, "%.1f", sat.MeanS1 > 0, "-").c_str(),
            Opt(sat.MeanS2, "%.1f", sat.MeanS2 > 0, "-").c_str(), Ll(sat.BelowMask));
  }
  if (!s.SlipList.empty()) {
    out += "\nSlips\n";
    for (const QcSlip& x : s.SlipList) {
      Appendf(&out, "  %s %s %-3s %12.3f\n", GpsTimeText(x.Time).c_str(), SatelliteName(x.Prn).c_str(),
              QcSlipKindName(x.Kind), x.Jump);
    }
    if (static_cast<int64_t>(s.SlipList.size()) < s.TotalSlips()) out += "  ... (list cut)\n";
  }
  return out;
}

std::string QcJson(const QcSummary& s, const std::string& name) {
  const bool any = s.PresentEpochs > 0;
  std::string o = "{\n";
  o += "  \"file\": " + JsonString(name) + ",\n";
  o += "  \"time\": {\"first\": " + JsonTime(s.FirstTime, any) + ", \"last\": " + JsonTime(s.LastTime, any);
  Appendf(&o, ", \"interval_s\": %s, \"epochs_present\": %.0f, \"epochs_expected\": %.0f, "
              "\"epochs_skipped\": %.0f, \"completeness_percent\": %s, \"gap_count\": %.0f,\n    \"gaps\": [",
          JsonNumber(s.Interval).c_str(), Ll(s.PresentEpochs), Ll(s.ExpectedEpochs), Ll(s.SkippedEpochs),
          JsonNumber(s.CompletenessPercent).c_str(), Ll(s.GapCount));
  for (size_t i = 0; i < s.Gaps.size(); ++i) {
    const QcGap& g = s.Gaps[i];
    o += i ? ",\n      " : "\n      ";
    o += "{\"start\": " + JsonTime(g.Start, true) + ", \"end\": " + JsonTime(g.End, true);
    Appendf(&o, ", \"seconds\": %s, \"missing_epochs\": %.0f}", JsonNumber(g.End - g.Start).c_str(),
            Ll(g.MissingEpochs));
  }
  o += "]},\n";
  Appendf(&o, "  \"satellite_count\": %d,\n  \"observations\": {", s.SatelliteCount());
  for (int i = 0; i < kQcObsTypes; ++i) Appendf(&o, "%s\"%s\": %.0f", i ? ", " : "", QcObsTypeName(i), Ll(s.Obs[i]));
  Appendf(&o, "},\n  \"loss_of_lock\": %.0f,\n", Ll(s.LossOfLock));
  Appendf(&o, "  \"slips\": {\"total\": %.0f, \"GF\": %.0f, \"MW\": %.0f, \"CMP\": %.0f,\n", Ll(s.TotalSlips()),
          Ll(s.Slips[0]), Ll(s.Slips[1]), Ll(s.Slips[2]));
  Appendf(&o, "    \"thresholds\": {\"gf_m\": %g, \"mw_sigmas\": %g, \"mw_min_cycles\": %g, \"mw_min_epochs\": %d, "
              "\"cmp_m\": %g, \"arc_gap_s\": %g},\n    \"list\": [",
          kGeometryFreeSlipMetres, kMwSlipSigmas, kMwSlipMinCycles, kMwMinEpochs, kCodeMinusPhaseSlipMetres,
          kMaxArcGapSeconds);
  for (size_t i = 0; i < s.SlipList.size(); ++i) {
    const QcSlip& x = s.SlipList[i];
    o += i ? ",\n      " : "\n      ";
    o += "{\"sat\": " + JsonString(SatelliteName(x.Prn)) + ", \"time\": " + JsonTime(x.Time, true);
    Appendf(&o, ", \"kind\": \"%s\", \"jump\": %s}", QcSlipKindName(x.Kind), JsonNumber(x.Jump).c_str());
  }
  o += "]},\n";
  Appendf(&o, "  \"multipath\": {\"mp1_rms_m\": %s, \"mp2_rms_m\": %s, \"mp1_count\": %.0f, \"mp2_count\": %.0f, "
              "\"min_arc_epochs\": %d},\n",
          JsonNumber(s.Mp1Rms, s.Mp1Count > 0).c_str(), JsonNumber(s.Mp2Rms, s.Mp2Count > 0).c_str(),
          Ll(s.Mp1Count), Ll(s.Mp2Count), kMinMultipathArcEpochs);
  Appendf(&o, "  \"signal\": {\"mean_s1_dbhz\": %s, \"mean_s2_dbhz\": %s},\n",
          JsonNumber(s.MeanS1, s.S1Count > 0).c_str(), JsonNumber(s.MeanS2, s.S2Count > 0).c_str());
  o += "  \"geometry\": {\"position_ecef_m\": ";
  if (s.HasPosition) {
    o += "[" + Opt(s.Position.X, "%.4f", true, "null") + ", " + Opt(s.Position.Y, "%.4f", true, "null") +
         ", " + Opt(s.Position.Z, "%.4f", true, "null") + "]";
  } else {
    o += "null";
  }
  Appendf(&o, ", \"ephemerides\": %d, \"elevation_mask_deg\": %s, \"with_azel\": %.0f, "
              "\"without_ephemeris\": %.0f, \"below_mask\": %.0f},\n",
          s.EphemerisCount, JsonNumber(s.ElevationMask).c_str(), Ll(s.WithAzEl), Ll(s.WithoutEphemeris),
          Ll(s.BelowMask));
  StationJson(&o, s.Metadata);
  o += "  \"satellites\": [";
  for (size_t k = 0; k < s.Satellites.size(); ++k) {
    const QcSatellite& sat = s.Satellites[k];
    const bool spans = !sat.Spans.empty();
    o += k ? ",\n    " : "\n    ";
    o += "{\"sat\": " + JsonString(SatelliteName(sat.Prn));
    Appendf(&o, ", \"epochs\": %.0f, \"first\": %s, \"last\": %s, \"observations\": {", Ll(sat.Epochs),
            JsonTime(spans ? sat.Spans.front().Start : 0.0, spans).c_str(),
            JsonTime(spans ? sat.Spans.back().End : 0.0, spans).c_str());
    for (int i = 0; i < kQcObsTypes; ++i) {
      Appendf(&o, "%s\"%s\": %.0f", i ? ", " : "", QcObsTypeName(i), Ll(sat.Obs[i]));
    }
    Appendf(&o, "}, \"loss_of_lock\": %.0f, \"slips\": {\"GF\": %.0f, \"MW\": %.0f, \"CMP\": %.0f}, ",
            Ll(sat.LossOfLock), Ll(sat.Slips[0]), Ll(sat.Slips[1]), Ll(sat.Slips[2]));
    Appendf(&o, "\"mp1_rms_m\": %s, \"mp2_rms_m\": %s, \"mean_s1_dbhz\": %s, \"mean_s2_dbhz\": %s, ",
            JsonNumber(sat.Mp1Rms, sat.Mp1Count > 0).c_str(), JsonNumber(sat.Mp2Rms, sat.Mp2Count > 0).c_str(),
            JsonNumber(sat.MeanS1, sat.MeanS1 > 0).c_str(), JsonNumber(sat.MeanS2, sat.MeanS2 > 0).c_str());
    Appendf(&o, "\"with_azel\": %.0f, \"below_mask\": %.0f}", Ll(sat.WithAzEl), Ll(sat.BelowMask));
  }
  o += "],\n";
  SkyplotJson(&o, s);
  o += "}\n";
  return o;
}

namespace {

// ---------------------------------------------------------------- figures

void SvgOpen(std::string* o, const char* id, int width, int height, const char* title) {
  Appendf(o, "<figure><figcaption>%s</figcaption>\n<svg id=\"%s\" xmlns=\"http://www.w3.org/2000/svg\" "
             "width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"11\">\n"
             "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#ffffff\" stroke=\"#cccccc\"/>\n",
          title, id, width, height, width, height, width, height);
}

void SvgClose(std::string* o) { *o += "</svg></figure>\n"; }

void SvgNote(std::string* o, int width, int height, const char* text) {
  Appendf(o, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" fill=\"#666666\">%s</text>\n", width / 2,
          height / 2, text);
}

bool HasGeometry(const QcSample& x) { return std::isfinite(x.Azimuth) && std::isfinite(x.Elevation); }

// ------------------------------------------------------ label placement

// The room a text takes on a figure. Glyphs are taken as 0.75 em wide
// (wider than the digits and capitals of any sans-serif face) and from
// 0.95 em above the baseline to 0.25 em below it (the line box of the
// common faces, which a browser's text box spans).
struct TextBox {
  double X0 = 0.0, Y0 = 0.0, X1 = 0.0, Y1 = 0.0;
};
constexpr double kGlyphWidthEm = 0.75;
constexpr double kAscentEm = 0.95;
constexpr double kDescentEm = 0.25;

// A text of n characters starting at x on the baseline y.
TextBox BoxOfText(double x, double y, size_t n, double font_size) {
  TextBox b;
  b.X0 = x;
  b.X1 = x + kGlyphWidthEm * font_size * static_cast<double>(n);
  b.Y0 = y - kAscentEm * font_size;
  b.Y1 = y + kDescentEm * font_size;
  return b;
}

// The same centred on (x, y) both ways.
TextBox BoxOfCentredText(double x, double y, size_t n, double font_size) {
  const double half_w = 0.5 * kGlyphWidthEm * font_size * static_cast<double>(n);
  const double half_h = 0.5 * (kAscentEm + kDescentEm) * font_size;
  TextBox b;
  b.X0 = x - half_w;
  b.X1 = x + half_w;
  b.Y0 = y - half_h;
  b.Y1 = y + half_h;
  return b;
}

bool Overlaps(const TextBox& a, const TextBox& b) {
  return a.X0 < b.X1 && b.X0 < a.X1 && a.Y0 < b.Y1 && b.Y0 < a.Y1;
}

// Places labels so that none overlaps another or a part of the figure
// kept free (fixed texts, keys). Each label has its own anchor points, in
// the order it prefers them; the first point with a free place near it
// wins, else the label is left out.
class LabelLayout {
 public:
  LabelLayout(double width, double height) : width_(width), height_(height) {}

  void Keep(const TextBox& b) { taken_.push_back(b); }

  // A place for a text of n characters near one of the points: right above,
  // right below, left above or left below the point. The index of the point
  // used, with the text's start on the baseline in *x, *y; -1 when there is
  // no room near any.
  long Place(const std::vector<SvgPoint>& points, size_t n, double font_size, double* x, double* y) {
    const double gap = 3.0;
    const double w = kGlyphWidthEm * font_size * static_cast<double>(n);
    const double up = -gap - kDescentEm * font_size;
    const double down = gap + kAscentEm * font_size;
    const double dx[4] = {gap, gap, -gap - w, -gap - w};
    const double dy[4] = {up, down, up, down};
    for (size_t i = 0; i < points.size(); ++i) {
      const SvgPoint& p = points[i];
      for (int k = 0; k < 4; ++k) {
        const TextBox b = BoxOfText(p.X + dx[k], p.Y + dy[k], n, font_size);
        if (b.X0 < 1.0 || b.Y0 < 1.0 || b.X1 > width_ - 1.0 || b.Y1 > height_ - 1.0) continue;
        bool free = true;
        for (const TextBox& t : taken_) {
          if (Overlaps(b, t)) {
            free = false;
            break;
          }
        }
        if (!free) continue;
        taken_.push_back(b);
        *x = p.X + dx[k];
        *y = p.Y + dy[k];
        return static_cast<long>(i);
      }
    }
    return -1;
  }

 private:
  double width_, height_;
  std::vector<TextBox> taken_;
};

// Anchor points for a satellite's label along its track: from the track's
// highest point outwards both ways, at most kLabelTries of them spread
// over the whole track.
constexpr size_t kLabelTries = 96;

std::vector<SvgPoint> LabelAnchors(const std::vector<SvgPoint>& track, size_t highest) {
  std::vector<SvgPoint> anchors;
  const size_t n = track.size();
  if (n == 0) return anchors;
  const size_t step = std::max<size_t>(1, n / kLabelTries);
  anchors.push_back(track[highest]);
  for (size_t d = step; d < n; d += step) {
    if (highest + d < n) anchors.push_back(track[highest + d]);
    if (d <= highest) anchors.push_back(track[highest - d]);
  }
  return anchors;
}

void Skyplot(std::string* o, const QcSummary& s) {
  const double size = kSkyplotSize, c = size / 2.0, radius = size / 2.0 - 30.0;
  // Tracks are coloured by signal strength only when the data has one.
  const bool signal = s.S1Count > 0 || s.S2Count > 0;
  SvgOpen(o, "skyplot", kSkyplotSize, kSkyplotSize,
          signal ? "Skyplot: satellite tracks coloured by S1 (S2 without S1)"
                 : "Skyplot: satellite tracks (grey: no signal strengths in the data)");
  LabelLayout labels(size, size);
  for (int el = 0; el < 90; el += 30) {
    const double y = c - radius * (90.0 - el) / 90.0 + 12;
    Appendf(o, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"#bbbbbb\"/>\n", c, c,
            radius * (90.0 - el) / 90.0);
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" fill=\"#888888\">%d</text>\n", c + 2, y, el);
    labels.Keep(BoxOfText(c + 2, y, el == 0 ? 1 : 2, 11));
  }
  Appendf(o, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"#888888\" stroke-dasharray=\"4 3\"/>\n",
          c, c, radius * (90.0 - s.ElevationMask) / 90.0);
  const char* compass[] = {"N", "E", "S", "W"};
  for (int k = 0; k < 4; ++k) {
    const SvgPoint p = SkyplotPoint(90.0 * k, 0.0, c, c, radius);
    const SvgPoint q = SkyplotPoint(90.0 * k, -8.0, c, c, radius);
    Appendf(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#dddddd\"/>\n", c, c, p.X, p.Y);
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" dominant-baseline=\"middle\">%s</text>\n", q.X,
            q.Y, compass[k]);
    labels.Keep(BoxOfCentredText(q.X, q.Y, 2, 11));  // room for a wide W
  }
  // The corners of the keys: bottom left the colour key (or the note on
  // signal strengths), top right the note on labels left out.
  const double key_y = size - 26;
  labels.Keep(BoxOfText(8, key_y, 31, 11));  // the longer of the two texts
  labels.Keep(TextBox{8, key_y, 8 + 16 * 7, size - 12});
  constexpr size_t kDroppedNoteLength = 28;
  const double dropped_x = size - 6 - kGlyphWidthEm * 9 * kDroppedNoteLength;
  labels.Keep(BoxOfText(dropped_x, 14, kDroppedNoteLength, 9));

  bool drawn = false;
  // Consecutive samples of a satellite are joined when no more than one
  // kept epoch lies between them.
  const double join = 2.5 * std::max(1.0, s.Interval) * s.SampleStride;
  std::map<int, const QcSample*> last;
  // The passes of each satellite: the drawn points of each, and the index
  // and elevation of its highest point. A pass ends when the satellite is
  // missing for more than kPassGap (broken tracking within a pass does not
  // make a new one: a satellite is back over a site only hours later).
  constexpr double kPassGap = 3600.0;
  struct Pass {
    std::vector<SvgPoint> Points;
    size_t Highest = 0;
    float Top = -1.0f;
  };
  std::map<int, std::vector<Pass>> passes;
  for (const QcSample& x : s.Samples) {
    if (!HasGeometry(x) || x.Elevation < 0.0f) continue;
    const double snr = std::isfinite(x.S1) ? x.S1 : x.S2;
    const SvgPoint p = SkyplotPoint(x.Azimuth, x.Elevation, c, c, radius);
    const std::string colour = SignalColour(snr);
    auto it = last.find(x.Prn);
    std::vector<Pass>& mine = passes[x.Prn];
    if (it != last.end() && x.Time - it->second->Time <= join) {
      const SvgPoint q = SkyplotPoint(it->second->Azimuth, it->second->Elevation, c, c, radius);
      Svg(o, "<line x1=\"", q.X, "\" y1=\"", q.Y, "\" x2=\"", p.X, "\" y2=\"", p.Y, "\" stroke=\"", colour,
          "\" stroke-width=\"3\"/>\n");
    } else {
      Svg(o, "<circle cx=\"", p.X, "\" cy=\"", p.Y, "\" r=\"2\" fill=\"", colour, "\"/>\n");
      if (it == last.end() || x.Time - it->second->Time > kPassGap) mine.emplace_back();
    }
    last[x.Prn] = &x;
    Pass& pass = mine.back();
    if (x.Elevation > pass.Top) {
      pass.Top = x.Elevation;
      pass.Highest = pass.Points.size();
    }
    pass.Points.push_back(p);
    drawn = true;
  }
  // Labels placed clear of every other text: first one per satellite, tried
  // along its highest pass and then along its others; then one for each
  // pass still without, so that a crowded figure leaves out second labels
  // before it leaves a satellite unnamed.
  constexpr double kLabelFont = 9;
  std::set<int> named;
  std::set<const Pass*> labelled;
  int dropped = 0;
  auto label = [&](int prn, const std::vector<SvgPoint>& anchors, const std::vector<const Pass*>& owners) {
    const std::string name = SatelliteName(prn);
    double x = 0.0, y = 0.0;
    const long at = labels.Place(anchors, name.size(), kLabelFont, &x, &y);
    if (at < 0) return false;
    Appendf(o, "<text class=\"sat\" x=\"%.1f\" y=\"%.1f\" font-size=\"9\">%s</text>\n", x, y, name.c_str());
    named.insert(prn);
    labelled.insert(owners[static_cast<size_t>(at)]);
    return true;
  };
  for (const auto& entry : passes) {
    std::vector<const Pass*> by_height;
    for (const Pass& pass : entry.second) by_height.push_back(&pass);
    std::stable_sort(by_height.begin(), by_height.end(),
                     [](const Pass* a, const Pass* b) { return a->Top > b->Top; });
    std::vector<SvgPoint> anchors;
    std::vector<const Pass*> owners;
    for (const Pass* pass : by_height) {
      for (const SvgPoint& p : LabelAnchors(pass->Points, pass->Highest)) {
        anchors.push_back(p);
        owners.push_back(pass);
      }
    }
    if (!label(entry.first, anchors, owners)) dropped += static_cast<int>(entry.second.size());
  }
  for (const auto& entry : passes) {
    if (named.count(entry.first) == 0) continue;  // no room near any of its passes
    for (const Pass& pass : entry.second) {
      if (labelled.count(&pass) != 0) continue;
      const std::vector<SvgPoint> anchors = LabelAnchors(pass.Points, pass.Highest);
      if (!label(entry.first, anchors, std::vector<const Pass*>(anchors.size(), &pass))) ++dropped;
    }
  }
  if (dropped > 0) {
    // What was left out, at most kDroppedNoteLength characters: the
    // satellites left unnamed ("no room for G17 G20 +3"), else the number
    // of passes without a label ("12 passes left unlabelled").
    std::vector<int> unnamed;
    for (const auto& entry : passes)
      if (named.count(entry.first) == 0) unnamed.push_back(entry.first);
    std::string note;
    if (unnamed.empty()) {
      Appendf(&note, "%d pass%s left unlabelled", dropped, dropped == 1 ? "" : "es");
    } else {
      note = "no room for";
      size_t k = 0;
      for (; k < unnamed.size() && k < 2; ++k) note += " " + SatelliteName(unnamed[k]);
      if (k < unnamed.size()) Appendf(&note, " +%d", static_cast<int>(unnamed.size() - k));
    }
    Appendf(o, "<text x=\"%.1f\" y=\"14\" font-size=\"9\" fill=\"#666666\">%s</text>\n", dropped_x,
            note.c_str());
  }
  if (!drawn) SvgNote(o, kSkyplotSize, kSkyplotSize, "no azimuth/elevation (no ephemerides or position)");
  if (signal) {
    // Colour key.
    for (int k = 0; k <= 6; ++k) {
      const double v = kWeakSignal + (kStrongSignal - kWeakSignal) * k / 6.0;
      Appendf(o, "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"8\" fill=\"%s\"/>\n", 8 + 16 * k, kSkyplotSize - 22,
              SignalColour(v).c_str());
    }
    Appendf(o, "<text x=\"8\" y=\"%d\">%.0f .. %.0f dB-Hz</text>\n", kSkyplotSize - 26, kWeakSignal, kStrongSignal);
  } else {
    Appendf(o, "<text x=\"8\" y=\"%d\" fill=\"#666666\">no signal strengths in the data</text>\n",
            kSkyplotSize - 26);
  }
  SvgClose(o);
}

constexpr char kSpanHeight[] = "10";  // kTimelineRow - 4
static_assert(kTimelineRow == 14, "kSpanHeight follows the row height");

void Timeline(std::string* o, const QcSummary& s) {
  const int height = TimelineHeight(s);
  const double left = 50, right = kPlotWidth - 15, top = 10, bottom = height - 30;
  SvgOpen(o, "timeline", kPlotWidth, height,
          "Satellite visibility: tracked spans, gaps of the file (shaded), slips (GF red, MW purple, CMP orange)");
  if (s.PresentEpochs == 0) {
    SvgNote(o, kPlotWidth, height, "no epochs");
    SvgClose(o);
    return;
  }
  const double t0 = s.FirstTime, t1 = std::max(s.LastTime, s.FirstTime + 1.0);
  auto x = [&](double t) { return ScaleLinear(t, t0, t1, left, right); };
  // Hour ticks (or finer for short files).
  const double span = t1 - t0;
  const double step = span > 6 * 3600.0   ? 3600.0 * std::ceil(span / (12 * 3600.0))
                      : span > 2 * 3600.0 ? 1800.0
                      : span > 1200.0     ? 600.0
                      : span > 300.0      ? 120.0
                                          : 30.0;
  for (double t = std::ceil(t0 / step) * step; t <= t1; t += step) {
    const std::string label = GpsTimeText(t).substr(11, 5);
    Appendf(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eeeeee\"/>\n", x(t), top, x(t), bottom);
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n", x(t), bottom + 14, label.c_str());
  }
  for (const QcGap& g : s.Gaps) {
    Appendf(o, "<rect class=\"gap\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#f4c7c3\"/>\n",
            x(g.Start), top, std::max(1.0, x(g.End) - x(g.Start)), bottom - top);
  }
  std::map<int, double> row;
  for (size_t k = 0; k < s.Satellites.size(); ++k) {
    const QcSatellite& sat = s.Satellites[k];
    const double y = top + kTimelineRow * static_cast<double>(k);
    row[sat.Prn] = y;
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"10\">%s</text>\n", left - 4,
            y + kTimelineRow - 4, SatelliteName(sat.Prn).c_str());
    for (const QcSpan& sp : sat.Spans) {
      Svg(o, "<rect x=\"", x(sp.Start), "\" y=\"", y + 2, "\" width=\"", std::max(1.0, x(sp.End) - x(sp.Start)),
          "\" height=\"", kSpanHeight, "\" fill=\"", sat.Prn > 32 ? "#8fbc8f" : "#4682b4", "\"/>\n");
    }
  }
  for (const QcSlip& slip : s.SlipList) {
    const auto it = row.find(slip.Prn);
    if (it == row.end()) continue;
    Appendf(o, "<rect class=\"slip\" x=\"%.1f\" y=\"%.1f\" width=\"2\" height=\"%d\" fill=\"%s\"/>\n",
            x(slip.Time) - 1, it->second, kTimelineRow, kSlipColours[slip.Kind]);
  }
  SvgClose(o);
}

// A scatter plot against elevation (0..90 degrees) of two series.
void ElevationScatter(std::string* o, const QcSummary& s, const char* id, const char* title, double y0,
                      double y1, const char* unit, float QcSample::*a, float QcSample::*b, const char* name_a,
                      const char* name_b, const char* none) {
  const double left = 55, right = kPlotWidth - 15, top = 12, bottom = kPlotHeight - 35;
  SvgOpen(o, id, kPlotWidth, kPlotHeight, title);
  for (int el = 0; el <= 90; el += 15) {
    const double x = ScaleLinear(el, 0, 90, left, right);
    Appendf(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eeeeee\"/>\n", x, top, x, bottom);
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%d</text>\n", x, bottom + 14, el);
  }
  for (int k = 0; k <= 4; ++k) {
    const double v = y0 + (y1 - y0) * k / 4.0;
    const double y = ScaleLinear(v, y0, y1, bottom, top);
    Appendf(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eeeeee\"/>\n", left, y, right, y);
    Appendf(o, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g</text>\n", left - 4, y + 4, v);
  }
  Appendf(o, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">elevation (deg)</text>\n", (left + right) / 2,
          kPlotHeight - 6);
  Appendf(o, "<text x=\"12\" y=\"%.1f\" transform=\"rotate(-90 12 %.1f)\" text-anchor=\"middle\">%s</text>\n",
          (top + bottom) / 2, (top + bottom) / 2, unit);
  const char* colours[2] = {"#1f77b4", "#ff7f0e"};
  float QcSample::*members[2] = {a, b};
  int drawn = 0;
  for (int k = 0; k < 2; ++k) {
    for (const QcSample& x : s.Samples) {
      const double v = x.*members[k];
      if (!HasGeometry(x) || !std::isfinite(v) || x.Elevation < 0.0f) continue;
      const double cv = std::min(y1, std::max(y0, v));
      Svg(o, "<circle cx=\"", ScaleLinear(x.Elevation, 0, 90, left, right), "\" cy=\"",
          ScaleLinear(cv, y0, y1, bottom, top), "\" r=\"1.5\" fill=\"", colours[k], "\" fill-opacity=\"0.6\"/>\n");
      ++drawn;
    }
  }
  Appendf(o, "<rect x=\"%.1f\" y=\"%.1f\" width=\"10\" height=\"10\" fill=\"%s\"/><text x=\"%.1f\" y=\"%.1f\">%s</text>\n",
          right - 120, top + 4, colours[0], right - 106, top + 13, name_a);
  Appendf(o, "<rect x=\"%.1f\" y=\"%.1f\" width=\"10\" height=\"10\" fill=\"%s\"/><text x=\"%.1f\" y=\"%.1f\">%s</text>\n",
          right - 60, top + 4, colours[1], right - 46, top + 13, name_b);
  if (drawn == 0) {
    // Why nothing is drawn: no such values at all, or none with a place.
    bool any = false;
    for (const QcSample& x : s.Samples) any = any || std::isfinite(x.*a) || std::isfinite(x.*b);
    SvgNote(o, kPlotWidth, kPlotHeight, any ? "no values with azimuth/elevation" : none);
  }
  SvgClose(o);
}

}  // namespace

std::string QcHtml(const QcSummary& s, const std::string& name, const std::string& text) {
  std::string o;
  const std::string title = HtmlEscape(name);
  o += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Quality check: " + title +
       "</title>\n<style>body{font-family:sans-serif;margin:16px;color:#222}"
       "figure{margin:12px 0}figcaption{font-weight:bold;margin-bottom:4px}"
       "table{border-collapse:collapse;font-size:12px}td,th{border:1px solid #ccc;padding:2px 6px;text-align:right}"
       "th{background:#f0f0f0}pre{font-size:12px}</style>\n</head><body>\n";
  o += "<h1>Quality check: " + title + "</h1>\n<p>" + HtmlEscape(QcOneLine(s, name)) + "</p>\n";
  StationHtml(&o, s.Metadata);
  Skyplot(&o, s);
  Timeline(&o, s);
  // Multipath range: whole half metres around the values, at least +-1 m,
  // at most +-5 m (values beyond sit on the border).
  double worst = 0.0;
  for (const QcSample& x : s.Samples) {
    if (std::isfinite(x.Mp1)) worst = std::max(worst, std::fabs(static_cast<double>(x.Mp1)));
    if (std::isfinite(x.Mp2)) worst = std::max(worst, std::fabs(static_cast<double>(x.Mp2)));
  }
  const double mp_range = std::min(5.0, std::max(1.0, std::ceil(worst * 2.0) / 2.0));
  ElevationScatter(&o, s, "multipath", "Multipath MP1 and MP2 against elevation", -mp_range, mp_range, "m",
                   &QcSample::Mp1, &QcSample::Mp2, "MP1", "MP2",
                   "no multipath values (they need codes and phases on both frequencies)");
  ElevationScatter(&o, s, "signal", "Signal strength S1 and S2 against elevation", 20.0, 60.0, "dB-Hz",
                   &QcSample::S1, &QcSample::S2, "S1", "S2", "no signal strengths in the data");
  o += "<h2>Details</h2>\n<pre>" + HtmlEscape(text) + "</pre>\n</body></html>\n";
  return o;
}

std::string QcHtml(const QcSummary& s, const std::string& name) { return QcHtml(s, name, QcText(s, name)); }

}  // namespace qc
}  // namespace rawconv
