#include "text_codec.h"

#include <cctype>

#include "cli_common.h"
#include "platform/pf_text.h"

namespace fendral::cli {

namespace {

bool LooksSingleByte(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* prefix : {"CP", "WINDOWS-", "ISO-8859", "ISO8859", "KOI8", "LATIN", "IBM"}) {
    if (name.rfind(prefix, 0) == 0) {
      // Multi-byte Windows and IBM code pages.
      for (const char* multi : {"CP932", "CP936", "CP949", "CP950", "CP1200", "CP1201",
                                "CP65001", "CP1361", "CP943"}) {
        if (name == multi) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace

TextCodec::TextCodec(const std::string& codePage) : codePage_(codePage) {
  singleByte_ = LooksSingleByte(codePage);
  if (!singleByte_) return;
  for (int b = 0; b < 256; ++b) {
    decode_[static_cast<size_t>(b)] =
        tolvern::platform::ToUtf8(std::string(1, static_cast<char>(b)), codePage_);
    const std::string quoted = JsonString(decode_[static_cast<size_t>(b)]);
    json_[static_cast<size_t>(b)] = quoted.substr(1, quoted.size() - 2);
    jsonSelf_[static_cast<size_t>(b)] = json_[static_cast<size_t>(b)].size() == 1 &&
                                        json_[static_cast<size_t>(b)][0] == static_cast<char>(b);
  }
}

void TextCodec::AppendJson(std::string& out, const char* bytes, size_t length) const {
  if (!singleByte_) {
    out += JsonString(ToUtf8(std::string(bytes, length)));
    return;
  }
  out += '"';
  // Runs of bytes that stand for themselves go over in one append.
  size_t run = 0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (jsonSelf_[c]) continue;
    out.append(bytes + run, i - run);
    out += json_[c];
    run = i + 1;
  }
  out.append(bytes + run, length - run);
  out += '"';
}

std::string TextCodec::ToUtf8(const std::string& bytes) const {
  if (!singleByte_) return tolvern::platform::ToUtf8(bytes, codePage_);
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80 && decode_[c].size() == 1 && decode_[c][0] == static_cast<char>(c)) {
      out += static_cast<char>(c);
    } else {
      out += decode_[c];
    }
  }
  return out;
}

bool TextCodec::FromUtf8(const std::string& text, std::string& out) const {
  return tolvern::platform::FromUtf8(text, codePage_, out);
}

}  // namespace fendral::cli
