// A small JSON reader for the tests of the quality reports: objects, arrays,
// strings (the escapes the reports write), numbers, true, false and null;
// one value per document and nothing after it.
#ifndef RAWCONV_TESTS_QC_QC_JSON_H_
#define RAWCONV_TESTS_QC_QC_JSON_H_

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace rawconv {
namespace qctest {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } Type = kNull;
  double Number = 0.0;  // kNumber; 1 or 0 for kBool
  std::string Text;
  std::vector<Json> Items;                            // array
  std::vector<std::pair<std::string, Json>> Members;  // object, in order

  // The member of that name; a null value when there is none.
  const Json& operator[](const std::string& name) const {
    static const Json kMissing;
    for (const auto& m : Members) {
      if (m.first == name) return m.second;
    }
    return kMissing;
  }
  bool IsNull() const { return Type == kNull; }
};

// false with the offset of the fault in *error when text is not one value.
inline bool ParseJson(const std::string& text, Json* out, std::string* error) {
  size_t at = 0;
  auto blank = [&] {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) ++at;
  };
  auto take = [&](char c) {
    blank();
    if (at < text.size() && text[at] == c) return ++at, true;
    return false;
  };
  auto string = [&](std::string* s) {
    if (!take('"')) return false;
    for (; at < text.size() && text[at] != '"'; ++at) {
      if (static_cast<unsigned char>(text[at]) < 0x20) return false;
      if (text[at] != '\\') {
        *s += text[at];
      } else if (++at < text.size() && text[at] == 'u' && at + 4 < text.size()) {
        *s += static_cast<char>(std::strtol(text.substr(at + 1, 4).c_str(), nullptr, 16));
        at += 4;
      } else if (at < text.size()) {
        const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        const size_t k = plain.find(text[at]);
        if (k == std::string::npos) return false;
        *s += meant[k];
      }
    }
    return at++ < text.size();
  };
  auto literal = [&](const std::string& w) {
    if (text.compare(at, w.size(), w) != 0) return false;
    return at += w.size(), true;
  };
  std::function<bool(Json*)> value = [&](Json* v) {
    blank();
    if (at >= text.size()) return false;
    if (text[at] == '"') return v->Type = Json::kString, string(&v->Text);
    if (take('[')) {
      v->Type = Json::kArray;
      if (take(']')) return true;
      do {
        v->Items.emplace_back();
        if (!value(&v->Items.back())) return false;
      } while (take(','));
      return take(']');
    }
    if (take('{')) {
      v->Type = Json::kObject;
      if (take('}')) return true;
      do {
        v->Members.emplace_back();
        blank();
        if (!string(&v->Members.back().first) || !take(':') || !value(&v->Members.back().second)) return false;
      } while (take(','));
      return take('}');
    }
    if (literal("true")) return v->Type = Json::kBool, v->Number = 1, true;
    if (literal("false")) return v->Type = Json::kBool, true;
    if (literal("null")) return true;
    const char* start = text.c_str() + at;
    char* end = nullptr;
    v->Number = std::strtod(start, &end);
    if (end == start || !(*start == '-' || (*start >= '0' && *start <= '9'))) return false;
    v->Type = Json::kNumber;
    return at += static_cast<size_t>(end - start), true;
  };
  const bool ok = value(out) && (blank(), at == text.size());
  if (!ok && error) *error = "bad JSON at offset " + std::to_string(at);
  return ok;
}

}  // namespace qctest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_QC_QC_JSON_H_
