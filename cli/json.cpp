#include "json.h"

#include <cstdint>

namespace fendral::cli {

const JsonValue* JsonValue::Member(const std::string& name) const {
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  JsonValue Document() {
    JsonValue v = Value(0);
    Blanks();
    if (pos_ != s_.size()) Fail("unexpected text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw JsonError("malformed JSON at column " + std::to_string(pos_ + 1) + ": " + what);
  }
  void Blanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }
  bool Take(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool Word(const char* w) {
    const std::string word(w);
    if (s_.compare(pos_, word.size(), word) == 0) {
      pos_ += word.size();
      return true;
    }
    return false;
  }

  JsonValue Value(int depth) {
    if (depth > 64) Fail("nesting too deep");
    Blanks();
    if (pos_ >= s_.size()) Fail("value expected");
    JsonValue v;
    const char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      v.kind = JsonValue::Kind::Object;
      if (Take('}')) return v;
      do {
        Blanks();
        if (pos_ >= s_.size() || s_[pos_] != '"') Fail("member name expected");
        std::string key = String();
        Expect(':');
        v.members.emplace_back(std::move(key), Value(depth + 1));
      } while (Take(','));
      Expect('}');
    } else if (c == '[') {
      ++pos_;
      v.kind = JsonValue::Kind::Array;
      if (Take(']')) return v;
      do {
        v.items.push_back(Value(depth + 1));
      } while (Take(','));
      Expect(']');
    } else if (c == '"') {
      v.kind = JsonValue::Kind::String;
      v.text = String();
    } else if (Word("true")) {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = true;
    } else if (Word("false")) {
      v.kind = JsonValue::Kind::Bool;
    } else if (Word("null")) {
      v.kind = JsonValue::Kind::Null;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = JsonValue::Kind::Number;
      v.text = Number();
    } else {
      Fail("value expected");
    }
    return v;
  }

  std::string Number() {
    const size_t start = pos_;
    auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      if (pos_ == from) Fail("digit expected");
    };
    if (s_[pos_] == '-') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '0') {
      ++pos_;
    } else {
      digits();
    }
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      digits();
    }
    return s_.substr(start, pos_ - start);
  }

  unsigned Hex4() {
    if (pos_ + 4 > s_.size()) Fail("short \\u escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
      v <<= 4;
      if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
      else Fail("bad \\u escape");
    }
    return v;
  }

  static void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string String() {
    ++pos_;  // opening quote
    std::string out;
    while (true) {
      if (pos_ >= s_.size()) Fail("unterminated string");
      const char c = s_[pos_++];
      if (c == '"') break;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) Fail("unterminated escape");
      const char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00) {
            if (!(Word("\\u"))) Fail("lone surrogate");
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            Fail("lone surrogate");
          }
          PutUtf8(out, cp);
          break;
        }
        default:
          Fail("bad escape");
      }
    }
    return out;
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

JsonValue ParseJson(const std::string& text) { return Parser(text).Document(); }

}  // namespace fendral::cli
