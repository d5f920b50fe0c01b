#include "kx6_cpage.h"

#include <array>
#include <cctype>

namespace tolvern {

namespace {

struct MarkEntry {
  uint8_t mark;
  const char* codePage;
};

// Where two marks name one code page, the first is the one new tables get.
constexpr std::array<MarkEntry, 18> kMarks = {{
    {0x01, "CP437"},
    {0x02, "CP850"},
    {0x03, "CP1252"},
    {0x57, "CP1252"},
    {0x65, "CP866"},
    {0x26, "CP866"},
    {0x64, "CP852"},
    {0x66, "CP865"},
    {0x67, "CP861"},
    {0x6A, "CP737"},
    {0x6B, "CP857"},
    {0x7D, "CP1255"},
    {0x7E, "CP1256"},
    {0xC8, "CP1250"},
    {0xC9, "CP1251"},
    {0xCA, "CP1254"},
    {0xCB, "CP1253"},
    {0xCC, "CP1257"},
}};

// "cp1252", "WINDOWS-1252", "IBM850" and "CP-850" all as "CP<number>"; other names upper-cased.
std::string NormalName(const std::string& name) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* prefix : {"WINDOWS-", "WINDOWS", "IBM-", "IBM", "CP-", "CP"}) {
    const std::string p(prefix);
    if (upper.compare(0, p.size(), p) == 0) {
      const std::string digits = upper.substr(p.size());
      if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos)
        return "CP" + digits;
    }
  }
  return upper;
}

}  // namespace

std::string CodePageOfMark(uint8_t mark) {
  for (const MarkEntry& e : kMarks)
    if (e.mark == mark) return e.codePage;
  return std::string();
}

std::optional<uint8_t> MarkOfCodePage(const std::string& name) {
  const std::string wanted = NormalName(name);
  for (const MarkEntry& e : kMarks)
    if (wanted == e.codePage) return e.mark;
  return std::nullopt;
}

}  // namespace tolvern
