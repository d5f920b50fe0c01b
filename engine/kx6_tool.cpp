#include "kx6_tool.h"

#include <algorithm>

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

}  // namespace tolvern
