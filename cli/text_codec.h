// Conversion of table text to and from UTF-8 for one code page. Single-byte code pages
// go through 256-entry tables built once; others through iconv for every value.
#pragma once

#include <array>
#include <string>

namespace fendral::cli {

class TextCodec {
 public:
  explicit TextCodec(const std::string& codePage);

  const std::string& CodePage() const { return codePage_; }
  // Table bytes to UTF-8; bytes without a character become U+FFFD.
  std::string ToUtf8(const std::string& bytes) const;
  // Appends `bytes` as a JSON string literal of their UTF-8 text.
  void AppendJson(std::string& out, const char* bytes, size_t length) const;
  // UTF-8 to table bytes; false when a character has no counterpart.
  bool FromUtf8(const std::string& text, std::string& out) const;

 private:
  std::string codePage_;
  bool singleByte_ = false;
  std::array<std::string, 256> decode_;
  std::array<std::string, 256> json_;  // each byte's text, escaped for a JSON string
  std::array<bool, 256> jsonSelf_{};    // whether that text is the byte itself
};

}  // namespace fendral::cli
