// A small strict JSON reader for the tests of the quality reports: the whole
// grammar (objects, arrays, strings with escapes, numbers, true, false,
// null), one value per document, nothing after it but white space. Reading
// a report with it also checks that the report is well-formed JSON.
#ifndef RAWCONV_TESTS_QC_QC_JSON_H_
#define RAWCONV_TESTS_QC_QC_JSON_H_

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace rawconv {
namespace qctest {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } Type = kNull;
  bool Bool = false;
  double Number = 0.0;
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

class JsonReader {
 public:
  // false with the offset of the fault in *error when text is not one JSON
  // value.
  static bool Parse(const std::string& text, Json* out, std::string* error) {
    JsonReader r(text);
    if (!r.Value(out) || (r.Blank(), r.at_ != text.size())) {
      if (error) *error = "bad JSON at offset " + std::to_string(r.at_);
      return false;
    }
    return true;
  }

 private:
  explicit JsonReader(const std::string& text) : s_(text) {}

  void Blank() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
  }
  bool Literal(const char* word) {
    const std::string w = word;
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  bool Value(Json* v) {
    Blank();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') return Object(v);
    if (c == '[') return Array(v);
    if (c == '"') {
      v->Type = Json::kString;
      return String(&v->Text);
    }
    if (Literal("true")) {
      v->Type = Json::kBool;
      v->Bool = true;
      return true;
    }
    if (Literal("false")) {
      v->Type = Json::kBool;
      return true;
    }
    if (Literal("null")) return true;
    return Number(v);
  }
  bool Number(Json* v) {
    const size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ >= s_.size() || !isdigit(s_[at_])) return false;
    if (s_[at_] == '0') {
      ++at_;
    } else {
      while (at_ < s_.size() && isdigit(s_[at_])) ++at_;
    }
    if (at_ < s_.size() && s_[at_] == '.') {
      ++at_;
      if (at_ >= s_.size() || !isdigit(s_[at_])) return false;
      while (at_ < s_.size() && isdigit(s_[at_])) ++at_;
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (at_ >= s_.size() || !isdigit(s_[at_])) return false;
      while (at_ < s_.size() && isdigit(s_[at_])) ++at_;
    }
    v->Type = Json::kNumber;
    v->Number = std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
    return true;
  }
  bool String(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < s_.size() && s_[at_] != '"') {
      const unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c < 0x20) return false;
      if (c != '\\') {
        *out += s_[at_++];
        continue;
      }
      if (++at_ >= s_.size()) return false;
      const char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': *out += e; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          if (at_ + 4 > s_.size()) return false;
          const long code = std::strtol(s_.substr(at_, 4).c_str(), nullptr, 16);
          at_ += 4;
          if (code < 0x80) *out += static_cast<char>(code);
          else *out += '?';  // the reports escape control characters only
          break;
        }
        default: return false;
      }
    }
    if (at_ >= s_.size()) return false;
    ++at_;
    return true;
  }
  bool Array(Json* v) {
    v->Type = Json::kArray;
    ++at_;
    Blank();
    if (at_ < s_.size() && s_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      Json item;
      if (!Value(&item)) return false;
      v->Items.push_back(std::move(item));
      Blank();
      if (at_ >= s_.size()) return false;
      if (s_[at_++] == ']') return true;
      if (s_[at_ - 1] != ',') return false;
    }
  }
  bool Object(Json* v) {
    v->Type = Json::kObject;
    ++at_;
    Blank();
    if (at_ < s_.size() && s_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      Blank();
      std::string name;
      if (at_ >= s_.size() || s_[at_] != '"' || !String(&name)) return false;
      Blank();
      if (at_ >= s_.size() || s_[at_++] != ':') return false;
      Json value;
      if (!Value(&value)) return false;
      v->Members.emplace_back(std::move(name), std::move(value));
      Blank();
      if (at_ >= s_.size()) return false;
      if (s_[at_++] == '}') return true;
      if (s_[at_ - 1] != ',') return false;
    }
  }
  static bool isdigit(char c) { return c >= '0' && c <= '9'; }

  const std::string& s_;
  size_t at_ = 0;
};

}  // namespace qctest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_QC_QC_JSON_H_
