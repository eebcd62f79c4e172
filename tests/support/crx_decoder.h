// A Compact RINEX reader for the tests, written from the format's published
// description on its own (it shares nothing with lib/sink): it restores the
// RINEX observation text, with trailing blanks of lines dropped. It is no
// more lenient than the standard decoder: a new satellite's flags in
// version 3.0 are exactly what is written (a short string is an error),
// a blank value in version 1.0 blanks its flags, an arc or an epoch line
// that should start anew but does not is an error, and events are read
// only from epoch lines written whole.
#ifndef RAWCONV_TESTS_SUPPORT_CRX_DECODER_H_
#define RAWCONV_TESTS_SUPPORT_CRX_DECODER_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace rawconv_test {

inline std::string RightTrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// The text with trailing blanks removed from every line.
inline std::string TrimLines(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out += RightTrim(line) + "\n";
  return out;
}

class CrxDecoder {
 public:
  // Restores `crx`; false with Error() when the text is not valid.
  bool Decode(const std::string& crx, std::string* rinex) {
    std::istringstream in(crx);
    std::vector<std::string> lines;
    std::string l;
    while (std::getline(in, l)) lines.push_back(l);
    size_t i = 0;
    if (lines.size() < 2) return Bad("too short");
    if (lines[0].compare(60, 20, "CRINEX VERS   / TYPE") != 0) return Bad("no version line");
    if (lines[1].compare(60, 18, "CRINEX PROG / DATE") != 0) return Bad("no program line");
    const std::string ver = RightTrim(lines[0].substr(0, 20));
    if (ver != "1.0" && ver != "3.0") return Bad("unknown version " + ver);
    v3_ = ver == "3.0";
    i = 2;
    std::string out;
    for (;; ++i) {
      if (i >= lines.size()) return Bad("header without end");
      Types(lines[i]);
      out += RightTrim(lines[i]) + "\n";
      if (lines[i].size() >= 73 && lines[i].compare(60, 13, "END OF HEADER") == 0) break;
    }
    ++i;
    std::string epoch;
    std::vector<std::string> previous_sats;
    bool must_start_anew = true;
    while (i < lines.size()) {
      const std::string& e = lines[i++];
      const bool anew = (!v3_ && !e.empty() && e[0] == '&') || (v3_ && !e.empty() && e[0] == '>');
      if (anew) {
        epoch = v3_ ? e : " " + e.substr(1);
        // Every satellite of an epoch line that starts anew is new.
        previous_sats.clear();
      } else if (must_start_anew) {
        return Bad("an epoch line that should start anew is a difference: " + e);
      } else {
        epoch = Patch(epoch, e);
      }
      must_start_anew = false;
      epoch = RightTrim(epoch);
      const size_t flag_at = v3_ ? 31 : 28;
      const char flag = Char(epoch, flag_at);
      const int count = std::atoi(Cols(epoch, flag_at + 1, 3).c_str());
      if (flag < '0' || flag > '6') return Bad("an epoch line without a flag: " + epoch);
      if (flag >= '2') {
        // Events, and the cycle-slip records of flag 6, are read only from
        // a line written whole: that many lines follow unchanged, and the
        // next epoch line starts anew.
        if (!anew) return Bad("an event in a difference line: " + e);
        out += epoch + "\n";
        for (int k = 0; k < count; ++k) {
          if (i >= lines.size()) return Bad("event records missing");
          Types(lines[i]);
          out += RightTrim(lines[i++]) + "\n";
        }
        must_start_anew = true;
        continue;
      }
      if (i >= lines.size()) return Bad("clock line missing");
      bool has_clock = false;
      int64_t clock = 0;
      if (!Field(lines[i++], &clock_arc_, &clock, &has_clock)) return Bad("bad clock line");
      const size_t list_at = v3_ ? 41 : 32;
      std::vector<std::string> sats;
      for (int k = 0; k < count; ++k) sats.push_back(Cols(epoch, list_at + 3 * k, 3));
      // Satellites not in the previous epoch start afresh.
      std::map<std::string, Sat> kept;
      for (const auto& s : sats) {
        bool was = false;
        for (const auto& p : previous_sats) was = was || p == s;
        if (was) kept[s] = sats_[s];
      }
      sats_.swap(kept);
      previous_sats = sats;
      // Epoch line(s).
      if (v3_) {
        std::string head = Cols(epoch, 0, 41);
        if (has_clock) head += Fixed(clock, 15, 12);
        out += RightTrim(head) + "\n";
      } else {
        std::vector<std::string> heads(1, Cols(epoch, 0, 32));
        for (int k = 0; k < count; ++k) {
          if (k > 0 && k % 12 == 0) heads.push_back(std::string(32, ' '));
          heads.back() += sats[k];
        }
        // The clock offset belongs to the first line, columns 69-80.
        if (has_clock) heads[0] = Cols(heads[0], 0, 68) + Fixed(clock, 12, 9);
        for (const auto& h : heads) out += RightTrim(h) + "\n";
      }
      for (int k = 0; k < count; ++k) {
        if (i >= lines.size()) return Bad("data records missing");
        std::string rec;
        if (!Record(sats[k], lines[i++], &rec)) {
          return Bad("bad data record for " + sats[k] + (error_.empty() ? "" : ": " + error_));
        }
        out += rec;
      }
    }
    *rinex = out;
    return true;
  }

  const std::string& Error() const { return error_; }

 private:
  struct Arc {
    int order = 0;   // the arc's order, 0 before its first value
    int level = 0;   // differences known so far
    int64_t d[8] = {};
  };
  struct Sat {
    std::vector<Arc> arcs;
    std::string flags;
  };

  bool Bad(const std::string& why) {
    error_ = why;
    return false;
  }
  static char Char(const std::string& s, size_t i) { return i < s.size() ? s[i] : ' '; }
  static std::string Cols(const std::string& s, size_t start, size_t n) {
    std::string r;
    for (size_t k = 0; k < n; ++k) r += Char(s, start + k);
    return r;
  }
  static std::string Patch(const std::string& old, const std::string& diff) {
    std::string r = old;
    if (r.size() < diff.size()) r.resize(diff.size(), ' ');
    for (size_t k = 0; k < diff.size(); ++k) {
      if (diff[k] == '&') r[k] = ' ';
      else if (diff[k] != ' ') r[k] = diff[k];
    }
    return r;
  }
  static std::string Fixed(int64_t v, int width, int decimals) {
    uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    uint64_t scale = 1;
    for (int k = 0; k < decimals; ++k) scale *= 10;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%llu.%0*llu", v < 0 ? "-" : "",
                  static_cast<unsigned long long>(u / scale), decimals,
                  static_cast<unsigned long long>(u % scale));
    std::string s = buf;
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
    return s;
  }
  void Types(const std::string& line) {
    if (line.size() < 61) return;
    const std::string label = RightTrim(line.substr(60));
    if (!v3_ && label == "# / TYPES OF OBSERV" && line.substr(0, 6) != "      ") {
      types_[' '] = std::atoi(line.substr(0, 6).c_str());
    } else if (v3_ && label == "SYS / # / OBS TYPES" && line[0] != ' ') {
      types_[line[0]] = std::atoi(line.substr(3, 3).c_str());
    }
  }
  // One field: "" (nothing), "<order>&<value>" or a difference.
  static bool Value(const std::string& f, Arc* arc, int64_t* value, bool* present) {
    *present = !f.empty();
    if (f.empty()) {
      arc->order = 0;
      return true;
    }
    const size_t amp = f.find('&');
    if (amp != std::string::npos) {
      arc->order = std::atoi(f.substr(0, amp).c_str());
      if (arc->order < 1 || arc->order > 5) return false;  // the format's highest order
      arc->level = 0;
      arc->d[0] = std::strtoll(f.c_str() + amp + 1, nullptr, 10);
      *value = arc->d[0];
      return true;
    }
    if (arc->order == 0) return false;
    if (arc->level < arc->order) ++arc->level;
    int64_t x = std::strtoll(f.c_str(), nullptr, 10);
    // x is the difference of order `level`; rebuild the lower ones.
    for (int k = arc->level - 1; k >= 0; --k) x += arc->d[k];
    // Recompute the stored differences from the new value.
    int64_t nd[8];
    nd[0] = x;
    for (int k = 1; k <= arc->level; ++k) nd[k] = nd[k - 1] - arc->d[k - 1];
    for (int k = 0; k <= arc->level; ++k) arc->d[k] = nd[k];
    *value = x;
    return true;
  }
  static bool Field(const std::string& line, Arc* arc, int64_t* value, bool* present) {
    return Value(RightTrim(line), arc, value, present);
  }
  bool Record(const std::string& sat, const std::string& line, std::string* out) {
    const int n = types_[v3_ ? sat[0] : ' '];
    if (n <= 0) return false;
    Sat& s = sats_[sat];
    const size_t width = 2 * static_cast<size_t>(n);
    if (s.arcs.size() != static_cast<size_t>(n)) {
      // A new satellite: version 1.0 flags start blank; version 3.0 ones
      // start empty and are exactly the characters written.
      s.arcs.assign(static_cast<size_t>(n), Arc());
      s.flags.assign(v3_ ? 0 : width, ' ');
    }
    std::vector<std::string> fields;
    size_t pos = 0;
    for (int k = 0; k < n; ++k) {
      const size_t sp = line.find(' ', pos);
      if (pos >= line.size()) {
        fields.push_back("");
      } else if (sp == std::string::npos) {
        fields.push_back(line.substr(pos));
        pos = line.size();
      } else {
        fields.push_back(line.substr(pos, sp - pos));
        pos = sp + 1;
      }
    }
    const std::string flags = pos < line.size() ? line.substr(pos) : "";
    if (flags.size() > width) return false;
    s.flags = Patch(s.flags, flags);
    if (s.flags.size() != width) return Bad("the flags of new satellite " + sat + " end early");
    std::string text = v3_ ? sat : "";
    for (int k = 0; k < n; ++k) {
      int64_t v = 0;
      bool present = false;
      if (!Value(fields[k], &s.arcs[k], &v, &present)) return false;
      // Version 1.0 carries no flags for a blank value: they become blank.
      if (!present && !v3_) s.flags.replace(2 * static_cast<size_t>(k), 2, "  ");
      text += present ? Fixed(v, 14, 3) : std::string(14, ' ');
      text += s.flags.substr(2 * k, 2);
      if (!v3_ && (k % 5 == 4 || k == n - 1)) {
        *out += RightTrim(text) + "\n";
        text.clear();
      }
    }
    if (v3_) *out += RightTrim(text) + "\n";
    return true;
  }

  bool v3_ = false;
  std::map<char, int> types_;
  std::map<std::string, Sat> sats_;
  Arc clock_arc_;
  std::string error_;
};

}  // namespace rawconv_test

#endif  // RAWCONV_TESTS_SUPPORT_CRX_DECODER_H_
