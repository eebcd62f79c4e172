// RINEX 2 GPS navigation files for tests and tools (header-only): a reader
// of navigation files written by anyone (ours or real receivers' files,
// "D" or "E" exponents, loose header labels such as "Navigation"), and the
// conversion of such a file into an EPP ephemeris file.
//
// Record layout read: line 1 "I2,5I3,F5.1,3D19.12" (PRN, epoch, af0, af1,
// af2), then seven lines "3X,4D19.12" (broadcast orbits 1..7); blank or
// missing fields read as 0.
#ifndef RAWCONV_TESTS_SUPPORT_RINEX_NAV_H_
#define RAWCONV_TESTS_SUPPORT_RINEX_NAV_H_

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ephem/epp.h"
#include "ephem/gps_time.h"

namespace rawconv {
namespace rinexnav {

struct NavRecord {
  int Prn = 0;
  int Year = 0;  // four digits
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  double Second = 0.0;
  double Clock[3] = {0, 0, 0};  // af0, af1, af2
  // Broadcast orbit lines 1..7, four fields each:
  //   0: IODE Crs DeltaN M0          1: Cuc e Cus sqrtA
  //   2: Toe Cic OMEGA0 Cis          3: i0 Crc omega OMEGADOT
  //   4: IDOT L2codes Week L2Pflag   5: accuracy health TGD IODC
  //   6: transmission-time fit-interval (spare spare)
  double Orbit[7][4] = {};
  int LastLineFields = 0;  // number of non-blank fields on orbit line 7
};

struct NavFile {
  std::string VersionText;  // columns 1-9 of the first line, trimmed
  char FileType = 0;        // column 21 of the first line
  std::vector<std::string> HeaderLines;
  std::vector<NavRecord> Records;
};

// A number field with "D", "d", "E" or "e" exponent; blank gives 0.
inline double ParseNumber(const std::string& field) {
  std::string t;
  for (char c : field) {
    if (c == 'D' || c == 'd') c = 'E';
    if (c != ' ') t += c;
  }
  if (t.empty()) return 0.0;
  return std::strtod(t.c_str(), nullptr);
}

inline std::string Columns(const std::string& line, size_t start, size_t width) {
  if (start >= line.size()) return std::string();
  return line.substr(start, width);
}

inline bool IsBlank(const std::string& s) {
  for (char c : s) {
    if (!std::isspace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

inline void StripLineEnd(std::string& line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
}

// Parses navigation file text. false with a message in error when the text
// has no "END OF HEADER" line, is not a navigation file, or a record is cut
// short.
inline bool ParseNavText(const std::string& text, NavFile& out, std::string& error) {
  out = NavFile();
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    StripLineEnd(line);
    lines.push_back(line);
    pos = end + 1;
  }
  size_t i = 0;
  bool header_done = false;
  for (; i < lines.size(); ++i) {
    out.HeaderLines.push_back(lines[i]);
    if (lines[i].find("END OF HEADER") != std::string::npos) {
      header_done = true;
      ++i;
      break;
    }
  }
  if (!header_done || out.HeaderLines.empty()) {
    error = "no END OF HEADER line";
    return false;
  }
  const std::string& first = out.HeaderLines[0];
  std::string version = Columns(first, 0, 9);
  while (!version.empty() && version.front() == ' ') version.erase(version.begin());
  while (!version.empty() && version.back() == ' ') version.pop_back();
  out.VersionText = version;
  out.FileType = first.size() > 20 ? first[20] : 0;
  if (std::toupper(static_cast<unsigned char>(out.FileType)) != 'N') {
    error = "not a GPS navigation file";
    return false;
  }

  while (i < lines.size()) {
    if (IsBlank(lines[i])) {
      ++i;
      continue;
    }
    if (i + 8 > lines.size()) {
      // The last orbit line may be missing fields but must exist.
      error = "record cut short at line " + std::to_string(i + 1);
      return false;
    }
    const std::string& l1 = lines[i];
    NavRecord r;
    r.Prn = std::atoi(Columns(l1, 0, 2).c_str());
    const int yy = std::atoi(Columns(l1, 2, 3).c_str());
    r.Year = yy < 80 ? 2000 + yy : (yy < 100 ? 1900 + yy : yy);
    r.Month = std::atoi(Columns(l1, 5, 3).c_str());
    r.Day = std::atoi(Columns(l1, 8, 3).c_str());
    r.Hour = std::atoi(Columns(l1, 11, 3).c_str());
    r.Minute = std::atoi(Columns(l1, 14, 3).c_str());
    r.Second = ParseNumber(Columns(l1, 17, 5));
    for (int k = 0; k < 3; ++k) r.Clock[k] = ParseNumber(Columns(l1, 22 + 19 * k, 19));
    for (int l = 0; l < 7; ++l) {
      const std::string& line = lines[i + 1 + l];
      for (int k = 0; k < 4; ++k) {
        const std::string field = Columns(line, 3 + 19 * k, 19);
        r.Orbit[l][k] = ParseNumber(field);
        if (l == 6 && !IsBlank(field)) r.LastLineFields = k + 1;
      }
    }
    out.Records.push_back(r);
    i += 8;
  }
  return true;
}

inline bool ReadFileText(const std::string& path, std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  text.clear();
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return true;
}

inline bool ReadNavFile(const std::string& path, NavFile& out, std::string& error) {
  std::string text;
  if (!ReadFileText(path, text)) {
    error = "cannot open " + path;
    return false;
  }
  return ParseNavText(text, out, error);
}

// Full GPS week and seconds of week of a navigation record's epoch, the
// week taken as the one nearest to near_week (the record's own week).
inline void EpochGpsTime(const NavRecord& r, int near_week, int& week, double& seconds_of_week) {
  int w = 0;
  DateToGps(r.Hour, r.Minute, r.Second, r.Month, r.Day, r.Year, w, seconds_of_week);
  while (w + 512 < near_week) w += 1024;
  while (w - 512 > near_week) w -= 1024;
  week = w;
}

// The EPP record of a navigation record. toc is counted from the start of
// the record's week, so an epoch in the neighbouring week keeps its date.
inline EphemerisRecord ToEphemerisRecord(const NavRecord& r) {
  EphemerisRecord e{};
  e.Prn = r.Prn;
  e.Week = static_cast<int32_t>(std::lround(r.Orbit[4][2]));
  e.Extra = 0;
  e.Tgd = r.Orbit[5][2];
  e.Iodc = static_cast<int32_t>(std::lround(r.Orbit[5][3]));
  int epoch_week = 0;
  double sow = 0;
  EpochGpsTime(r, e.Week, epoch_week, sow);
  e.Toc = static_cast<int32_t>(std::lround((epoch_week - e.Week) * 604800.0 + sow));
  e.Af0 = r.Clock[0];
  e.Af1 = r.Clock[1];
  e.Af2 = r.Clock[2];
  e.Iode = static_cast<int32_t>(std::lround(r.Orbit[0][0]));
  e.Crs = r.Orbit[0][1];
  e.DeltaN = r.Orbit[0][2];
  e.M0 = r.Orbit[0][3];
  e.Cuc = r.Orbit[1][0];
  e.Ecc = r.Orbit[1][1];
  e.Cus = r.Orbit[1][2];
  e.SqrtA = r.Orbit[1][3];
  e.Toe = static_cast<int32_t>(std::lround(r.Orbit[2][0]));
  e.Cic = r.Orbit[2][1];
  e.Omega0 = r.Orbit[2][2];
  e.Cis = r.Orbit[2][3];
  e.I0 = r.Orbit[3][0];
  e.Crc = r.Orbit[3][1];
  e.Omega = r.Orbit[3][2];
  e.OmegaDot = r.Orbit[3][3];
  e.Idot = r.Orbit[4][0];
  return e;
}

// Shortest text that reads back as the same double.
inline std::string RealText(double v) {
  char text[64];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

// One "GpsEph" block; reals in their shortest exact form, so they read back
// as the same doubles.
inline std::string EppBlockText(const EphemerisRecord& e) {
  auto i = [](int32_t v) { return " " + std::to_string(v); };
  auto r = [](double v) { return " " + RealText(v); };
  return "GpsEph {\n  PRN:" + i(e.Prn) + "\n  El1:" + i(e.Week) + i(e.Extra) + r(e.Tgd) +
         i(e.Iodc) + i(e.Toc) + "\n  El2:" + r(e.Af2) + r(e.Af1) + r(e.Af0) + "\n  El3:" +
         i(e.Iode) + r(e.Crs) + r(e.DeltaN) + r(e.M0) + "\n  El4:" + r(e.Cuc) + r(e.Ecc) +
         r(e.Cus) + r(e.SqrtA) + "\n  El5:" + i(e.Toe) + r(e.Cic) + r(e.Omega0) + r(e.Cis) +
         "\n  El6:" + r(e.I0) + r(e.Crc) + r(e.Omega) + r(e.OmegaDot) + r(e.Idot) + "\n}\n";
}

// The EPP file text of a navigation file: the "$EPHREC" header line, then
// one block per record in file order.
inline std::string EppFileText(const NavFile& nav) {
  std::string text = "$EPHREC 1 0\n";
  for (const NavRecord& r : nav.Records) text += EppBlockText(ToEphemerisRecord(r));
  return text;
}

// Reads a navigation file and writes it as an EPP file. false with a message
// in error on failure.
inline bool ConvertNavToEpp(const std::string& nav_path, const std::string& epp_path,
                            std::string& error) {
  NavFile nav;
  if (!ReadNavFile(nav_path, nav, error)) return false;
  std::FILE* f = std::fopen(epp_path.c_str(), "w");
  if (f == nullptr) {
    error = "cannot create " + epp_path;
    return false;
  }
  const std::string text = EppFileText(nav);
  const bool written = std::fputs(text.c_str(), f) >= 0;
  if (std::fclose(f) != 0 || !written) {
    error = "cannot write " + epp_path;
    return false;
  }
  return true;
}

}  // namespace rinexnav
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_RINEX_NAV_H_
