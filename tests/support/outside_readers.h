// Readers nobody on this project wrote, run by the tests on what rawconv
// writes: the standard Compact RINEX tools (crx2rnx, rnx2crx; built by
// scripts/test.sh, their folder passed as RAWCONV_RNXCMP_DIR) and RTKLIB's
// convbin and rnx2rtkp (from the distribution). Also the small text helpers
// that compare what they give back with our files (header-only).
#ifndef RAWCONV_TESTS_SUPPORT_OUTSIDE_READERS_H_
#define RAWCONV_TESTS_SUPPORT_OUTSIDE_READERS_H_

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/real_data.h"
#include "support/file_bytes.h"

namespace rawconv {
namespace outside {

// Runs a shell command with what it prints thrown away (its own
// redirections still apply); true when it exits with 0.
inline bool RunQuiet(const std::string& command) {
  return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

inline std::string ReadText(const std::string& path) { return testio::ReadBytes(path); }

inline bool WriteText(const std::string& path, const std::string& text) {
  return testio::WriteBytes(path, text);
}

// True when the outside readers must be there (scripts/test.sh sets
// RAWCONV_REQUIRE_OUTSIDE_READERS): a missing one is then a failure, not a
// skip.
inline bool Required() { return std::getenv("RAWCONV_REQUIRE_OUTSIDE_READERS") != nullptr; }

// The path of a standard Compact RINEX tool; "" when the build was not told
// where they are or the program is not there.
inline std::string RnxcmpTool(const char* name) {
  const std::string dir = RAWCONV_RNXCMP_DIR;
  if (dir.empty()) return "";
  const std::string path = dir + "/" + name;
  return std::filesystem::exists(path) ? path : "";
}

// Why the outside readers cannot run here ("" when they all can).
inline std::string Missing() {
  std::string why;
  if (RnxcmpTool("crx2rnx").empty() || RnxcmpTool("rnx2crx").empty()) {
    why = std::string("the standard Compact RINEX tools are not built (RAWCONV_RNXCMP_DIR='") +
          RAWCONV_RNXCMP_DIR + "'; scripts/test.sh builds them and configures the build with it)";
  }
  if (!realdata::HasProgram("convbin") || !realdata::HasProgram("rnx2rtkp")) {
    why += std::string(why.empty() ? "" : "; ") + "RTKLIB's convbin and rnx2rtkp are not installed";
  }
  return why;
}

// Runs the standard decoder on Compact RINEX text; false when it fails.
inline bool Crx2Rnx(const std::string& crx_path, const std::string& out_path) {
  return RunQuiet("'" + RnxcmpTool("crx2rnx") + "' - < '" + crx_path + "' > '" + out_path + "'");
}
inline bool Rnx2Crx(const std::string& rnx_path, const std::string& out_path) {
  return RunQuiet("'" + RnxcmpTool("rnx2crx") + "' - < '" + rnx_path + "' > '" + out_path + "'");
}

// Decodes Compact RINEX text with the standard decoder, through files in
// folder dir; false with its messages in *error when it fails.
inline bool Crx2RnxText(const std::string& dir, const std::string& crx, std::string* rinex,
                        std::string* error) {
  const std::string in = dir + "/outside.crx", out = dir + "/outside.rnx", err = dir + "/outside.err";
  if (!WriteText(in, crx)) return false;
  const int code = std::system(
      ("'" + RnxcmpTool("crx2rnx") + "' - < '" + in + "' > '" + out + "' 2> '" + err + "'").c_str());
  *rinex = ReadText(out);
  *error = ReadText(err);
  return code == 0;
}

// The text as the Compact RINEX decoder gives RINEX observation text back:
// trailing blanks of lines dropped and, after the header, the zero before
// the point of a number below one left out (" 0.123" -> "  .123",
// "-0.123" -> " -.123"). The decoder keeps epoch lines as text and writes
// numbers in this shape, so our plain file and a restored one compare equal
// once both are brought to it.
inline std::string RestoredShape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::istringstream in(text);
  std::string line;
  bool body = false;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (body) {
      for (size_t i = 0; i + 1 < line.size(); ++i) {
        if (line[i] != '0' || line[i + 1] != '.') continue;
        if (i + 2 >= line.size() || line[i + 2] < '0' || line[i + 2] > '9') continue;
        const char before = i > 0 ? line[i - 1] : ' ';
        if (before == ' ') {
          line[i] = ' ';
        } else if (before == '-') {
          line[i - 1] = ' ';
          line[i] = '-';
        }
      }
    }
    out += line;
    out += '\n';
    if (line.size() >= 73 && line.compare(60, 13, "END OF HEADER") == 0) body = true;
  }
  return out;
}

// "" when a and b are equal, else where they first differ.
inline std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a == b) return "";
  std::istringstream x(a), y(b);
  std::string l, m;
  for (int n = 1;; ++n) {
    const bool more_a = static_cast<bool>(std::getline(x, l));
    const bool more_b = static_cast<bool>(std::getline(y, m));
    if (!more_a && !more_b) return "they differ in their line ends";
    if (!more_a || !more_b || l != m) {
      return "line " + std::to_string(n) + ": ours '" + (more_a ? l : "<end>") + "', theirs '" +
             (more_b ? m : "<end>") + "'";
    }
  }
}

// What an observation file holds: observation epochs (event records not
// counted), satellite records and values. A value of 0 counts as none, as
// the readers take it (RTKLIB keeps 0 for "not observed").
struct ObsCounts {
  long Epochs = 0;
  long Records = 0;
  long Values = 0;
  long Paired = 0;  // values, a phase, Doppler or strength only beside its signal's pseudorange
};

inline std::ostream& operator<<(std::ostream& os, const ObsCounts& c) {
  return os << c.Epochs << " epochs, " << c.Records << " satellite records, " << c.Values << " values ("
            << c.Paired << " beside their signal's pseudorange)";
}

// The pseudorange of the signal an observation type belongs to: RINEX 2
// L1, D1, S1 -> C1 and L2, D2, S2 -> P2; RINEX 3 L1C, D1C, S1C -> C1C and
// so on; "" for a pseudorange itself.
inline std::string SignalCode(const std::string& type) {
  if (type.empty() || type[0] == 'C' || type[0] == 'P') return "";
  if (type.size() == 3) return "C" + type.substr(1);
  if (type == "L1" || type == "D1" || type == "S1") return "C1";
  if (type == "L2" || type == "D2" || type == "S2") return "P2";
  return "";
}

// Counts a RINEX 2, 3 or 4 observation text; records of satellites for
// which skip(name) is true are left out. False when the text is not laid
// out as its header says.
inline bool CountObservations(const std::string& text, ObsCounts* counts,
                              const std::function<bool(const std::string&)>& skip = nullptr) {
  *counts = ObsCounts();
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  auto col = [](const std::string& s, size_t at, size_t n) {
    std::string r = at < s.size() ? s.substr(at, n) : "";
    r.resize(n, ' ');
    return r;
  };
  if (lines.empty()) return false;
  const int major = std::atoi(col(lines[0], 0, 9).c_str());
  if (major < 2 || major > 4) return false;
  // Observation types by system (' ' for RINEX 2).
  std::map<char, std::vector<std::string>> types;
  size_t i = 0;
  char system = ' ';
  for (; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    const std::string label = col(l, 60, 20);
    if (major == 2 && label.compare(0, 19, "# / TYPES OF OBSERV") == 0) {
      for (size_t at = 6; at + 6 <= 60; at += 6) {
        const std::string t = col(l, at + 4, 2);
        if (t != "  ") types[' '].push_back(t);
      }
    }
    if (major > 2 && label.compare(0, 19, "SYS / # / OBS TYPES") == 0) {
      if (l[0] != ' ') system = l[0];
      for (size_t at = 6; at + 4 <= 60; at += 4) {
        const std::string t = col(l, at + 1, 3);
        if (t != "   ") types[system].push_back(t);
      }
    }
    if (label.compare(0, 13, "END OF HEADER") == 0) break;
  }
  if (i == lines.size()) return false;
  ++i;
  // Values of one record: the text of its fields, joined.
  auto count_values = [&](const std::string& fields, const std::vector<std::string>& names) {
    std::map<std::string, bool> present;
    for (size_t k = 0; k < names.size(); ++k)
      present[names[k]] = std::strtod(col(fields, 16 * k, 14).c_str(), nullptr) != 0.0;
    for (const std::string& name : names) {
      if (!present[name]) continue;
      ++counts->Values;
      const std::string code = SignalCode(name);
      if (code.empty() || present[code]) ++counts->Paired;
    }
  };
  while (i < lines.size()) {
    const std::string& e = lines[i++];
    if (e.empty()) continue;
    const size_t flag_at = major == 2 ? 28 : 31;
    const char flag = col(e, flag_at, 1)[0];
    const int n = std::atoi(col(e, flag_at + 1, 3).c_str());
    if (major > 2 && e[0] != '>') return false;
    if (flag >= '2' && flag <= '5') {
      i += static_cast<size_t>(n);
      continue;
    }
    ++counts->Epochs;
    if (major == 2) {
      const std::vector<std::string>& names = types[' '];
      std::vector<std::string> sats;
      std::string list_line = e;
      for (int k = 0; k < n; ++k) {
        if (k > 0 && k % 12 == 0) {
          if (i >= lines.size()) return false;
          list_line = lines[i++];
        }
        sats.push_back(col(list_line, 32 + 3 * static_cast<size_t>(k % 12), 3));
      }
      const size_t per_sat = (names.size() + 4) / 5;
      for (const std::string& s : sats) {
        std::string fields;
        for (size_t k = 0; k < per_sat; ++k) {
          if (i >= lines.size()) return false;
          fields += col(lines[i++], 0, 80);
        }
        if (skip && skip(s)) continue;
        ++counts->Records;
        count_values(fields, names);
      }
    } else {
      for (int k = 0; k < n; ++k) {
        if (i >= lines.size()) return false;
        const std::string& r = lines[i++];
        const std::string name = col(r, 0, 3);
        if (types.count(name[0]) == 0) return false;
        if (skip && skip(name)) continue;
        ++counts->Records;
        count_values(r.size() > 3 ? r.substr(3) : "", types[name[0]]);
      }
    }
  }
  return true;
}

// Single-point positions by epoch ("week seconds" -> x, y, z) from a
// position file of rnx2rtkp.
inline std::map<std::string, std::array<double, 3>> ReadPositions(const std::string& path) {
  std::map<std::string, std::array<double, 3>> out;
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return out;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    if (line[0] == '%') continue;
    char week[32], tow[32];
    double x, y, z;
    if (std::sscanf(line, "%31s %31s %lf %lf %lf", week, tow, &x, &y, &z) == 5)
      out[std::string(week) + " " + tow] = {x, y, z};
  }
  std::fclose(f);
  return out;
}

// rnx2rtkp's GPS single-point solution of an observation and navigation
// file (no ionosphere model, Saastamoinen troposphere, 15 degree mask),
// written to out; false when it fails. The settings go to conf.
inline bool SolveGpsPositions(const std::string& obs, const std::string& nav, const std::string& conf,
                              const std::string& out) {
  if (!WriteText(conf, "pos1-ionoopt=off\npos1-tropopt=saas\npos1-elmask=15\n")) return false;
  return RunQuiet("rnx2rtkp -k '" + conf + "' -p 0 -e -sys G -o '" + out + "' '" + obs + "' '" + nav + "'");
}

}  // namespace outside
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_OUTSIDE_READERS_H_
