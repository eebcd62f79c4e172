#include "info.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "rawconv_api.h"

namespace gpb2rinex {
namespace {

const char* const kTypeNames[8] = {"C1", "L1", "L2", "P1", "P2", "D1", "S1", "S2"};

std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (size > 0) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    text.assign(buffer.data(), static_cast<size_t>(size));
  }
  va_end(again);
  return text;
}

// A JSON number, or null when it is not finite.
std::string JsonNumber(const char* format, double value) {
  return std::isfinite(value) ? Format(format, value) : std::string("null");
}

// Length of the valid UTF-8 sequence at text[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0.
size_t Utf8Length(const std::string& text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length;
  uint32_t code;
  if (c < 0x80) return 1;
  if (c >= 0xc2 && c <= 0xdf) length = 2, code = c & 0x1f;
  else if (c >= 0xe0 && c <= 0xef) length = 3, code = c & 0x0f;
  else if (c >= 0xf0 && c <= 0xf4) length = 4, code = c & 0x07;
  else return 0;
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xc0) != 0x80) return 0;
    code = (code << 6) | (d & 0x3f);
  }
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10ffff)) ||
      (code >= 0xd800 && code <= 0xdfff))
    return 0;
  return length;
}

// The GPB file's name without a ".gz" ending: the name its companions
// are found by.
std::string PlainName(const std::string& gpb) {
  const size_t n = gpb.size();
  if (n > 3 && gpb[n - 3] == '.' && (gpb[n - 2] | 0x20) == 'g' && (gpb[n - 1] | 0x20) == 'z')
    return gpb.substr(0, n - 3);
  return gpb;
}

// The EPP file of a GPB file: the one given, else FILE.epp or FILE.EPP
// (or either gzipped) beside it when there is one.
std::string EppFor(const std::string& gpb, const std::string& epp) {
  if (!epp.empty()) return epp;
  for (const char* ext : {".epp", ".EPP", ".Epp", ".epp.gz", ".EPP.gz", ".EPP.GZ"}) {
    const std::string beside = WithExtension(PlainName(gpb), ext);
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside;
  }
  return "";
}

std::string SatelliteName(const rawconv_channel& c) {
  return Format("%c%02d", c.system, static_cast<int>(c.prn));
}

bool IsFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// Writes text to out; false (errno set) when it could not be written.
bool Put(std::FILE* out, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += Format("\\udc%02x", c);  // U+DC80 + the byte
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      out += Format("\\u%04x", c);
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string GpsDateText(int32_t week, double tow) {
  if (week < 0) return Format("week unknown, %.3f s of week", tow);
  // Whole milliseconds, so that rounding never gives 60 seconds.
  const int64_t ms = static_cast<int64_t>(std::llround(tow * 1000.0));
  const int64_t day_ms = 86400000;
  const int64_t days = kGpsEpochUnixDays + static_cast<int64_t>(week) * 7 + ms / day_ms;
  const int64_t in_day = ms % day_ms;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day,
                static_cast<int>(in_day / 3600000), static_cast<int>(in_day / 60000 % 60),
                static_cast<int>(in_day / 1000 % 60), static_cast<int>(in_day % 1000));
}

GpbInfo ScanGpbInfo(const std::string& gpb, const Dating& dating) {
  GpbInfo info;
  info.file = gpb;
  const bool by_epp = !dating.use_week && !dating.use_day;
  const std::string epp_path = by_epp ? EppFor(gpb, dating.epp) : std::string();
  char error[RAWCONV_ERROR_MAX] = "";
  rawconv_gpb_reader* reader =
      rawconv_gpb_open(gpb.c_str(), epp_path.empty() ? nullptr : epp_path.c_str(),
                       dating.use_week ? dating.week : -1, error, sizeof error);
  if (reader == nullptr) {
    info.error = error[0] ? error : "cannot be read";
    return info;
  }
  // Why the epochs may come undated.
  const char* const give = "; give --epp FILE, --week N or --date DATE";
  if (by_epp && epp_path.empty())
    info.undated = "no ephemeris file " + WithExtension(PlainName(gpb), ".epp") + give;
  else if (by_epp && !IsFile(epp_path))
    info.undated = "no ephemeris file " + epp_path + give;
  else if (by_epp)
    info.undated = "ephemeris file " + epp_path + " gives no date" + give;
  // Noon of the day given, in GPS seconds.
  const double noon = static_cast<double>(dating.day) * 86400.0 + 43200.0;
  info.receiver = rawconv_gpb_receiver(reader);
  std::unique_ptr<rawconv_epoch> epoch(new rawconv_epoch());
  // Steps between epochs in whole milliseconds, with how often each came.
  std::map<int64_t, uint64_t> steps;
  double previous = 0.0;
  int32_t previous_week = -1;
  double lat = 0.0, lon = 0.0, h = 0.0;
  int rc = 0;
  while ((rc = rawconv_gpb_next(reader, epoch.get())) == 1) {
    rawconv_epoch& e = *epoch;
    if (dating.use_day)
      e.week = static_cast<int32_t>(std::floor((noon - e.tow) / 604800.0 + 0.5));
    if (info.epochs == 0) {
      info.first_week = e.week;
      info.first_tow = e.tow;
    } else {
      const double step =
          (e.week >= 0 && previous_week >= 0 ? (e.week - previous_week) * 604800.0 : 0.0) + e.tow -
          previous;
      if (step > 0.0) ++steps[std::llround(step * 1000.0)];
    }
    previous = e.tow;
    previous_week = e.week;
    info.last_week = e.week;
    info.last_tow = e.tow;
    ++info.epochs;
    if (e.position_valid) {
      ++info.position_epochs;
      lat += e.latitude;
      lon += e.longitude;
      h += e.height;
    }
    for (int i = 0; i < e.num_channels && i < RAWCONV_MAX_CHANNELS; ++i) {
      const rawconv_channel& c = e.channels[i];
      info.satellites.insert(SatelliteName(c));
      for (int t = 0; t < 8; ++t)
        if (c.have & (1u << t)) ++info.obs[t];
    }
  }
  if (rc < 0) {
    info.damaged = true;
    info.damage = rawconv_gpb_error(reader);
  }
  rawconv_gpb_close(reader);
  if (info.epochs > 0 && info.first_week >= 0) info.undated.clear();
  if (info.position_epochs > 0) {
    const double n = static_cast<double>(info.position_epochs);
    info.latitude = lat / n;
    info.longitude = lon / n;
    info.height = h / n;
  }
  uint64_t best = 0;
  for (const auto& step : steps) {
    if (step.second > best) {
      best = step.second;
      info.interval = static_cast<double>(step.first) / 1000.0;
    }
  }
  return info;
}

std::string InfoText(const GpbInfo& info) {
  std::string o = info.file + "\n";
  if (!info.error.empty()) return o + "  error           " + info.error + "\n";
  o += "  receiver        " + (info.receiver.empty() ? std::string("unknown") : info.receiver) + "\n";
  o += Format("  epochs          %llu\n", static_cast<unsigned long long>(info.epochs));
  if (info.epochs > 0) {
    o += "  first epoch     " + GpsDateText(info.first_week, info.first_tow) + "\n";
    o += "  last epoch      " + GpsDateText(info.last_week, info.last_tow) + "\n";
    if (!info.undated.empty()) o += "  dates unknown   " + info.undated + "\n";
  }
  o += Format("  interval        %g s\n", info.interval);
  o += Format("  satellites      %zu", info.satellites.size());
  for (const std::string& s : info.satellites) o += " " + s;
  o += "\n  observations   ";
  for (int t = 0; t < 8; ++t)
    o += Format(" %s %llu", kTypeNames[t], static_cast<unsigned long long>(info.obs[t]));
  o += "\n";
  if (info.position_epochs > 0) {
    o += Format("  mean position   %.8f %.8f %.3f m (latitude, longitude, height; %llu epochs)\n",
                info.latitude, info.longitude, info.height,
                static_cast<unsigned long long>(info.position_epochs));
  } else {
    o += "  mean position   none (no epoch with a valid position)\n";
  }
  o += info.damaged ? "  end             damaged or truncated record: " + info.damage + "\n"
                    : std::string("  end             complete\n");
  return o;
}

std::string InfoJsonObject(const GpbInfo& info) {
  std::string o = "{\"file\": " + JsonString(info.file);
  if (!info.error.empty()) return o + ", \"error\": " + JsonString(info.error) + "}";
  const bool any = info.epochs > 0;
  auto time = [&](int32_t week, double tow) {
    return any && week >= 0 ? JsonString(GpsDateText(week, tow)) : std::string("null");
  };
  o += ", \"receiver\": " + JsonString(info.receiver);
  o += Format(", \"epochs\": %llu", static_cast<unsigned long long>(info.epochs));
  o += ", \"first\": " + time(info.first_week, info.first_tow);
  o += ", \"last\": " + time(info.last_week, info.last_tow);
  o += ", \"dates_unknown\": " +
       (any && !info.undated.empty() ? JsonString(info.undated) : std::string("null"));
  o += Format(", \"first_week\": %d", static_cast<int>(info.first_week));
  o += ", \"first_tow\": " + JsonNumber("%.3f", info.first_tow);
  o += Format(", \"last_week\": %d", static_cast<int>(info.last_week));
  o += ", \"last_tow\": " + JsonNumber("%.3f", info.last_tow);
  o += ", \"interval_s\": " + JsonNumber("%g", info.interval);
  o += ", \"satellites\": [";
  bool first = true;
  for (const std::string& s : info.satellites) {
    o += (first ? "" : ", ") + JsonString(s);
    first = false;
  }
  o += "], \"observations\": {";
  for (int t = 0; t < 8; ++t)
    o += Format("%s\"%s\": %llu", t ? ", " : "", kTypeNames[t],
                static_cast<unsigned long long>(info.obs[t]));
  o += "}, \"mean_position\": ";
  o += info.position_epochs > 0
           ? "{\"latitude_deg\": " + JsonNumber("%.9f", info.latitude) +
                 ", \"longitude_deg\": " + JsonNumber("%.9f", info.longitude) +
                 ", \"height_m\": " + JsonNumber("%.4f", info.height) +
                 Format(", \"epochs\": %llu}", static_cast<unsigned long long>(info.position_epochs))
           : std::string("null");
  o += std::string(", \"damaged\": ") + (info.damaged ? "true" : "false");
  o += ", \"damage\": " + (info.damaged ? JsonString(info.damage) : std::string("null"));
  return o + "}";
}

int RunInfo(const Arguments& args, std::FILE* out, std::FILE* err) {
  Dating dating;
  dating.epp = args.epp;
  dating.use_week = args.use_week;
  dating.week = args.week;
  dating.use_day = !args.date.empty();
  dating.day = args.date_days;
  int rc = 0;
  bool written = true;
  int write_errno = 0;
  auto put = [&](const std::string& text) {
    if (written && !Put(out, text)) {
      written = false;
      write_errno = errno;
    }
  };
  if (args.json) put("{\"files\": [");
  for (size_t i = 0; i < args.files.size(); ++i) {
    const GpbInfo info = ScanGpbInfo(args.files[i], dating);
    if (!info.error.empty()) {
      std::fprintf(err, "%s: %s\n", info.file.c_str(), info.error.c_str());
      rc = 1;
    }
    if (args.json) {
      put((i ? ",\n  " : "\n  ") + InfoJsonObject(info));
    } else if (info.error.empty()) {
      put((i ? "\n" : "") + InfoText(info));
    }
  }
  if (args.json) put("\n]}\n");
  if (std::fflush(out) != 0 && written) {
    written = false;
    write_errno = errno;
  }
  if (written && std::ferror(out)) {
    written = false;
    write_errno = EIO;
  }
  if (!written) {
    std::fprintf(err, "gpb2rinex: cannot write the information: %s\n",
                 std::strerror(write_errno != 0 ? write_errno : EIO));
    return 1;
  }
  return rc;
}

}  // namespace gpb2rinex
