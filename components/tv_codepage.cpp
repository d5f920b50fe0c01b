#include "tv_codepage.h"

#include <map>
#include <mutex>
#include <stdexcept>

#include "kx6_cpage.h"
#include "platform/pf_text.h"

namespace fendral {

TTVCodePage::TTVCodePage(const std::string& name) : name_(name) {
  if (!tolvern::platform::IsKnownCodePage(name))
    throw std::invalid_argument("unknown code page " + name);
  for (int b = 0; b < 256; ++b) {
    const std::string utf8 = tolvern::platform::ToUtf8(std::string(1, static_cast<char>(b)), name);
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    const QChar c = text.size() == 1 ? text.at(0) : QChar(QChar::ReplacementCharacter);
    decode_[static_cast<size_t>(b)] = c;
    // The first byte that gives a character is the one that stands for it.
    if (c != QChar(QChar::ReplacementCharacter) && !encode_.contains(c.unicode()))
      encode_.insert(c.unicode(), static_cast<uint8_t>(b));
  }
}

std::shared_ptr<const TTVCodePage> TTVCodePage::Get(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const TTVCodePage>> pages;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = pages.find(name);
  if (it != pages.end()) return it->second;
  std::shared_ptr<const TTVCodePage> page(new TTVCodePage(name));
  pages.emplace(name, page);
  return page;
}

QString TTVCodePage::Decode(const char* bytes, size_t length) const {
  QString out(static_cast<qsizetype>(length), Qt::Uninitialized);
  QChar* to = out.data();
  for (size_t i = 0; i < length; ++i) to[i] = decode_[static_cast<unsigned char>(bytes[i])];
  return out;
}

bool TTVCodePage::Encode(const QString& text, std::string& out, QChar* missing) const {
  out.clear();
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar c : text) {
    auto it = encode_.constFind(c.unicode());
    if (it == encode_.constEnd()) {
      if (missing) *missing = c;
      return false;
    }
    out += static_cast<char>(it.value());
  }
  return true;
}

std::string CodePageForLanguageMark(uint8_t mark, bool* oem) {
  std::string page = tolvern::CodePageOfMark(mark);
  // The Windows pages are the ANSI ones; every other page a mark names is a DOS page.
  if (oem && !page.empty()) *oem = page.rfind("CP125", 0) != 0;
  return page;
}

std::string AnsiCounterpartOf(const std::string& oemPage) {
  static const std::map<std::string, std::string> kCounterparts = {
      {"CP437", "CP1252"}, {"CP850", "CP1252"}, {"CP865", "CP1252"}, {"CP861", "CP1252"},
      {"CP852", "CP1250"}, {"CP866", "CP1251"}, {"CP737", "CP1253"}, {"CP857", "CP1254"}};
  // Names as iconv takes them ("cp866", "IBM866") compare by the mark they would get.
  const std::optional<uint8_t> mark = tolvern::MarkOfCodePage(oemPage);
  const std::string name = mark ? tolvern::CodePageOfMark(*mark) : oemPage;
  const auto it = kCounterparts.find(name);
  return it == kCounterparts.end() ? std::string() : it->second;
}

}  // namespace fendral
