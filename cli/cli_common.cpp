#include "cli_common.h"

#include <cstdio>

#include "kx6_DBF.h"
#include "kx6_cpage.h"
#include "kx6_tool.h"
#include "platform/pf_text.h"

namespace fendral::cli {

std::optional<std::string> Arguments::Option(const std::string& name) const {
  auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Arguments::Options(const std::string& name) const {
  std::vector<std::string> values;
  auto range = options.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

bool Arguments::Flag(const std::string& name) const {
  for (const auto& f : flags)
    if (f == name) return true;
  return false;
}

Arguments ParseArguments(const std::vector<std::string>& args,
                         const std::vector<std::string>& valued,
                         const std::vector<std::string>& flags) {
  Arguments out;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a;
      std::optional<std::string> value;
      if (auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      }
      bool takesValue = false;
      for (const auto& v : valued)
        if (v == name) takesValue = true;
      bool isFlag = false;
      for (const auto& f : flags)
        if (f == name) isFlag = true;
      if (!takesValue && !isFlag) throw UsageError{"unknown option " + name};
      if (takesValue) {
        if (!value) {
          if (i + 1 >= args.size()) throw UsageError{"option " + name + " needs a value"};
          value = args[++i];
        }
        out.options.emplace(name, *value);
      } else {
        if (value) throw UsageError{"option " + name + " takes no value"};
        out.flags.push_back(name);
      }
    } else {
      out.positional.push_back(a);
    }
  }
  return out;
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonNumber(double value) {
  const std::string text = tolvern::NumberToText(value);
  return text.empty() ? "null" : text;
}

std::string CodePageForMark(uint8_t mark) {
  const std::string codePage = tolvern::CodePageOfMark(mark);
  return codePage.empty() ? "CP437" : codePage;
}

int LockProtocolOption(const Arguments& args) {
  const std::string value = args.Option("--lock-protocol").value_or("auto");
  if (value == "auto") return tolvern::kLockProtocolAuto;
  if (value == "default") return static_cast<int>(tolvern::TkxLokProtocol::Default);
  if (value == "dbase4") return static_cast<int>(tolvern::TkxLokProtocol::DB4Lock);
  if (value == "clipper") return static_cast<int>(tolvern::TkxLokProtocol::ClipLock);
  if (value == "foxpro") return static_cast<int>(tolvern::TkxLokProtocol::FoxLock);
  throw UsageError{"--lock-protocol must be auto, default, dbase4, clipper or foxpro"};
}

std::string TableEncoding(const Arguments& args, uint8_t mark) {
  if (auto enc = args.Option("--encoding")) {
    if (!tolvern::platform::IsKnownCodePage(*enc))
      throw UsageError{"unknown encoding " + *enc};
    return *enc;
  }
  return CodePageForMark(mark);
}

}  // namespace fendral::cli
