#include "info.h"

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

// GPS time starts on 1980-01-06, day 3657 after 1970-01-01.
constexpr int64_t kGpsEpochUnixDays = 3657;

// Calendar date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += Format("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The EPP file of a GPB file: the one given, else FILE.epp or FILE.EPP
// beside it when there is one, else FILE.epp.gz; FILE is the GPB file's
// name without the ".gz" of a gzip file.
std::string EppFor(const std::string& gpb, const std::string& epp) {
  if (!epp.empty()) return epp;
  std::string name = gpb;
  if (name.size() > 3 && (name.compare(name.size() - 3, 3, ".gz") == 0 ||
                          name.compare(name.size() - 3, 3, ".GZ") == 0))
    name.resize(name.size() - 3);
  for (const char* ext : {".epp", ".EPP", ".Epp", ".epp.gz", ".EPP.GZ"}) {
    const std::string beside = WithExtension(name, ext);
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside;
  }
  return "";
}

std::string SatelliteName(const rawconv_channel& c) {
  return Format("%c%02d", c.system, static_cast<int>(c.prn));
}

}  // namespace

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

GpbInfo ScanGpbInfo(const std::string& gpb, const std::string& epp, bool use_week, int32_t week) {
  GpbInfo info;
  info.file = gpb;
  const std::string epp_path = EppFor(gpb, epp);
  char error[RAWCONV_ERROR_MAX] = "";
  rawconv_gpb_reader* reader = rawconv_gpb_open(gpb.c_str(), epp_path.empty() ? nullptr : epp_path.c_str(),
                                                use_week ? week : -1, error, sizeof error);
  if (reader == nullptr) {
    info.error = error[0] ? error : "cannot be read";
    return info;
  }
  info.receiver = rawconv_gpb_receiver(reader);
  std::unique_ptr<rawconv_epoch> epoch(new rawconv_epoch());
  // Steps between epochs in whole milliseconds, with how often each came.
  std::map<int64_t, uint64_t> steps;
  double previous = 0.0;
  int32_t previous_week = -1;
  double lat = 0.0, lon = 0.0, h = 0.0;
  int rc = 0;
  while ((rc = rawconv_gpb_next(reader, epoch.get())) == 1) {
    const rawconv_epoch& e = *epoch;
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
  o += Format(", \"first_week\": %d, \"first_tow\": %.3f, \"last_week\": %d, \"last_tow\": %.3f",
              static_cast<int>(info.first_week), info.first_tow, static_cast<int>(info.last_week),
              info.last_tow);
  o += Format(", \"interval_s\": %g", info.interval);
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
           ? Format("{\"latitude_deg\": %.9f, \"longitude_deg\": %.9f, \"height_m\": %.4f, "
                    "\"epochs\": %llu}",
                    info.latitude, info.longitude, info.height,
                    static_cast<unsigned long long>(info.position_epochs))
           : std::string("null");
  o += std::string(", \"damaged\": ") + (info.damaged ? "true" : "false");
  o += ", \"damage\": " + (info.damaged ? JsonString(info.damage) : std::string("null"));
  return o + "}";
}

int RunInfo(const Arguments& args, std::FILE* out, std::FILE* err) {
  int rc = 0;
  std::string json = "{\"files\": [";
  for (size_t i = 0; i < args.files.size(); ++i) {
    const GpbInfo info = ScanGpbInfo(args.files[i], args.epp, args.use_week, args.week);
    if (!info.error.empty()) {
      std::fprintf(err, "%s: %s\n", info.file.c_str(), info.error.c_str());
      rc = 1;
    }
    if (args.json) {
      json += (i ? ",\n  " : "\n  ") + InfoJsonObject(info);
    } else if (info.error.empty()) {
      std::fprintf(out, "%s%s", i ? "\n" : "", InfoText(info).c_str());
    }
  }
  if (args.json) std::fprintf(out, "%s\n]}\n", json.c_str());
  std::fflush(out);
  return rc;
}

}  // namespace gpb2rinex
