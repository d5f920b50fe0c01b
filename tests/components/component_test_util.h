// Helpers of the component tests: running fendral-cli and reading its JSON lines.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <string>
#include <vector>

#include "test_support.h"

namespace fendral::test {

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs fendral-cli with `args` (already quoted); answers its exit status.
inline int RunCli(const std::string& args, std::string* out = nullptr) {
  return RunCommand(Quote(FENDRAL_CLI) + " " + args + " 2>/dev/null", out);
}

// Every line of `text` as a JSON object.
inline std::vector<QJsonObject> JsonLines(const std::string& text) {
  std::vector<QJsonObject> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      lines.push_back(
          QJsonDocument::fromJson(QByteArray::fromStdString(text.substr(start, end - start)))
              .object());
    }
    start = end + 1;
  }
  return lines;
}

}  // namespace fendral::test
