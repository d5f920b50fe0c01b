#include "kx6_tool.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "platform/pf_path.h"
#include "platform/pf_text.h"

namespace tolvern {

std::string ForceExtension(const std::string& name, const std::string& ext) {
  if (!platform::ExtensionOf(name).empty()) return name;
  return name + ext;
}

std::string NameWithoutExtension(const std::string& path) {
  const std::string file = platform::FileNameOf(path);
  const std::string ext = platform::ExtensionOf(file);
  return file.substr(0, file.size() - ext.size());
}

std::string PadRight(std::string text, char fill, size_t length) {
  if (text.size() < length) text.append(length - text.size(), fill);
  return text;
}

std::string TrimRight(std::string text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  text.resize(end);
  return text;
}

std::string Trim(std::string text) {
  text = TrimRight(std::move(text));
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

std::string UpperCase(std::string text) { return platform::AnsiUpper(std::move(text)); }

int CompareText(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareTextNoCase(const std::string& a, const std::string& b) {
  return CompareText(UpperCase(a), UpperCase(b));
}

std::string ExpandPath(const std::string& name) { return platform::AbsolutePath(name); }

std::string NumberToText(double value) {
  if (!std::isfinite(value)) return std::string();
  if (value == 0) return "0";
  char buffer[64];
  const bool whole = std::fabs(value) < 1e15 && value == std::trunc(value);
  const auto result =
      whole ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0)
            : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

double StrToDoubleC(const char* text, char** end) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (cLocale != static_cast<locale_t>(0)) return strtod_l(text, end, cLocale);
  // Without a C locale object: from_chars is locale-free too (no blanks, no "+").
  const std::string_view view(text);
  double value = 0;
  const auto result = std::from_chars(view.data(), view.data() + view.size(), value);
  if (end) *end = const_cast<char*>(result.ec == std::errc() ? result.ptr : text);
  return result.ec == std::errc() ? value : 0.0;
}

bool ParseDecimalNumber(std::string_view text, double& value) {
  auto isDigit = [&text](size_t at) { return text[at] >= '0' && text[at] <= '9'; };
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t body = i;
  size_t digits = 0;
  while (i < n && isDigit(i)) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && isDigit(i)) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < n && isDigit(i)) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  double parsed = 0;
  const char* first = text.data() + body;
  const char* last = text.data() + n;
  const auto [end, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
  if (end != last) return false;
  if (ec == std::errc::result_out_of_range) {
    parsed = StrToDoubleC(std::string(first, last).c_str(), nullptr);  // inf or 0
  } else if (ec != std::errc()) {
    return false;
  }
  value = text[0] == '-' ? -parsed : parsed;
  return true;
}

}  // namespace tolvern
