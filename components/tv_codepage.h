// Table text to QString and back for one single-byte code page, through 256-entry tables
// built once per code page; and the code page a table's language mark names.
#pragma once

#include <QHash>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace fendral {

class TTVCodePage {
 public:
  // The shared converter for an iconv code page name ("CP866"); throws std::invalid_argument
  // for a name iconv does not know.
  static std::shared_ptr<const TTVCodePage> Get(const std::string& name);

  const std::string& Name() const { return name_; }
  // Bytes to text; a byte without a character becomes U+FFFD.
  QString Decode(const char* bytes, size_t length) const;
  QString Decode(const std::string& bytes) const { return Decode(bytes.data(), bytes.size()); }
  // Text to bytes. False, with `missing` set to the first character the code page lacks,
  // when one has no byte.
  bool Encode(const QString& text, std::string& out, QChar* missing = nullptr) const;

 private:
  explicit TTVCodePage(const std::string& name);

  std::string name_;
  std::array<QChar, 256> decode_{};
  QHash<char16_t, uint8_t> encode_;
};

// The code page a table's language mark (DBF header byte 29) names, or empty for 0 and
// marks this program does not know. `oem` tells whether it is a DOS (OEM) code page.
std::string CodePageForLanguageMark(uint8_t mark, bool* oem = nullptr);

// The Windows (ANSI) code page that holds the letters of DOS (OEM) code page `oemPage`
// ("CP866" -> "CP1251", "CP437" and "CP850" -> "CP1252"); empty when none is known.
std::string AnsiCounterpartOf(const std::string& oemPage);

}  // namespace fendral
