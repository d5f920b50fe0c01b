#include "cli_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "cli_common.h"
#include "kx6_Date.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"

namespace fendral::cli {

using tolvern::DbfFieldInfo;

namespace {

constexpr uint32_t kBlankWord = 0x20202020;
constexpr int64_t kMsPerDay = 86400000;

// A memo-type field: its value lives in the memo file.
bool IsMemoField(const DbfFieldInfo& f, bool visual) {
  if (visual) return f.type == 'M' || f.type == 'G' || f.type == 'W';
  return f.type == 'M' || f.type == 'G' || f.type == 'B';
}

// A memo whose bytes are not text: written as base64.
bool IsBlobField(const DbfFieldInfo& f, bool visual) {
  if (visual) return f.type == 'G' || f.type == 'W';
  return f.type == 'G' || f.type == 'B';
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// True when `s` is a number in JSON's own syntax.
bool IsJsonNumber(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  if (i < n && s[i] == '-') ++i;
  if (i >= n) return false;
  if (s[i] == '0') {
    ++i;
  } else if (s[i] >= '1' && s[i] <= '9') {
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
  } else {
    return false;
  }
  if (i < n && s[i] == '.') {
    ++i;
    const size_t start = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == start) return false;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t start = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == start) return false;
  }
  return i == n;
}

bool ParseDouble(std::string s, double& value) {
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  if (s.empty()) return false;
  auto res = std::from_chars(s.data(), s.data() + s.size(), value);
  return res.ec == std::errc() && res.ptr == s.data() + s.size() && std::isfinite(value);
}

std::string LeftTrim(std::string s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

std::string FieldRaw(tolvern::KXO_dBaseFld& table, const DbfFieldInfo& f) {
  return std::string(reinterpret_cast<const char*>(table.Buffer()) + f.offset,
                     static_cast<size_t>(f.length));
}

// "-1234567" scaled by 10^4 as "-123.4567".
std::string ScaledText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude =
      negative ? static_cast<uint64_t>(-(scaled + 1)) + 1 : static_cast<uint64_t>(scaled);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 10000),
                static_cast<unsigned long long>(magnitude % 10000));
  return buf;
}

// Parses a decimal number text exactly into value x 10^4, rounding half away from zero.
bool ParseScaled(const std::string& text, int64_t& scaled) {
  double check;
  if (!ParseDouble(text, check)) return false;
  if (text.find_first_of("eE") != std::string::npos || std::fabs(check) > 9e14) {
    scaled = static_cast<int64_t>(std::llround(check * 10000.0));
    return true;
  }
  const bool negative = !text.empty() && text[0] == '-';
  const std::string body = negative ? text.substr(1) : text;
  const size_t dot = body.find('.');
  const std::string whole = body.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : body.substr(dot + 1);
  int64_t value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  int64_t fraction = 0;
  for (size_t i = 0; i < 4; ++i) fraction = fraction * 10 + (i < frac.size() ? frac[i] - '0' : 0);
  value = value * 10000 + fraction;
  if (frac.size() > 4 && frac[4] >= '5') ++value;
  scaled = negative ? -value : value;
  return true;
}

// A decimal number text formatted with exactly `decimals` decimals: exact when the text
// has no more decimals than that, otherwise rounded.
std::string FormatDecimals(const std::string& text, int decimals, double value) {
  const bool plain = text.find_first_of("eE") == std::string::npos;
  const size_t dot = text.find('.');
  const size_t have = dot == std::string::npos ? 0 : text.size() - dot - 1;
  if (plain && static_cast<int>(have) <= decimals) {
    std::string out = text;
    if (decimals > 0) {
      if (dot == std::string::npos) out += '.';
      out.append(static_cast<size_t>(decimals) - have, '0');
    }
    return out;
  }
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Dump

RecordWriter::RecordWriter(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table), codec_(codec), visual_(table.Version() == tolvern::kVersionVisual) {
  for (const auto& f : table_.Fields()) keys_.push_back(JsonString(codec_.ToUtf8(f.name)));
}

void RecordWriter::Warn(const DbfFieldInfo& field, const std::string& what) {
  std::fprintf(stderr, "fendral-cli: warning: record %d field %s: %s\n", table_.CurrentRecord(),
               codec_.ToUtf8(field.name).c_str(), what.c_str());
}

bool RecordWriter::Write(std::string& out) {
  bool ok = true;
  out += "{\"recno\": ";
  out += std::to_string(table_.CurrentRecord());
  out += table_.IsDeleted() ? ", \"deleted\": true, \"fields\": {" : ", \"deleted\": false, \"fields\": {";
  const auto& fields = table_.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ", ";
    out += keys_[i];
    out += ": ";
    AppendValue(out, fields[i], ok);
  }
  out += "}}";
  return ok;
}

std::string RecordWriter::MemoValue(const DbfFieldInfo& field, bool binary, bool& ok) {
  try {
    std::vector<uint8_t> data;
    if (!table_.ReadMemo(field.number, data)) {
      Warn(field, "the table has no memo file");
      ok = false;
      return "null";
    }
    const std::string bytes(data.begin(), data.end());
    return binary ? JsonString(Base64Encode(bytes)) : JsonString(codec_.ToUtf8(bytes));
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\r' || c == '\n') c = ' ';
    Warn(field, message);
    ok = false;
    return "null";
  }
}

void RecordWriter::AppendValue(std::string& out, const DbfFieldInfo& field, bool& ok) {
  const char* at = reinterpret_cast<const char*>(table_.Buffer()) + field.offset;
  const size_t width = static_cast<size_t>(field.length);
  // The common types straight from the buffer, without copies.
  if (field.type == 'C') {
    size_t end = width;
    while (end > 0 && at[end - 1] == ' ') --end;
    codec_.AppendJson(out, at, end);
    return;
  }
  if (!visual_ || (field.type != 'B' && field.type != 'I')) {
    if (field.type == 'N' || field.type == 'F') {
      size_t begin = 0;
      size_t end = width;
      while (begin < end && at[begin] == ' ') ++begin;
      while (end > begin && at[end - 1] == ' ') --end;
      if (begin < end && IsJsonNumber(std::string_view(at + begin, end - begin))) {
        out.append(at + begin, end - begin);
        return;
      }
    } else if (field.type == 'D' && width == 8) {
      bool digits = true;
      for (size_t i = 0; i < 8; ++i) digits = digits && at[i] >= '0' && at[i] <= '9';
      if (digits && std::memcmp(at, "00000000", 8) != 0) {
        out += '"';
        out.append(at, 4);
        out += '-';
        out.append(at + 4, 2);
        out += '-';
        out.append(at + 6, 2);
        out += '"';
        return;
      }
    } else if (field.type == 'L' && width >= 1) {
      const char c = at[0];
      if (c == 'T' || c == 't' || c == 'Y' || c == 'y') {
        if (tolvern::LogicalTrueChars.find(c) != std::string::npos) {
          out += "true";
          return;
        }
      } else if (c == 'F' || c == 'f' || c == 'N' || c == 'n') {
        if (tolvern::LogicalFalseChars.find(c) != std::string::npos) {
          out += "false";
          return;
        }
      }
    }
  }
  out += Value(field, ok);
}

std::string RecordWriter::Value(const DbfFieldInfo& field, bool& ok) {
  const std::string raw = FieldRaw(table_, field);
  tolvern::ByteReader bytes(raw.data(), raw.size());
  if (IsMemoField(field, visual_)) {
    bool hasBlock;
    if (visual_) {
      hasBlock = raw.size() >= 4 && bytes.U32LE(0) != 0 && bytes.U32LE(0) != kBlankWord;
    } else {
      const std::string digits = tolvern::Trim(raw);
      hasBlock = !digits.empty() && digits.find_first_not_of('0') != std::string::npos &&
                 digits.find_first_not_of(std::string(1, '\0')) != std::string::npos;
    }
    if (!hasBlock) return "null";
    return MemoValue(field, IsBlobField(field, visual_), ok);
  }
  if (visual_) {
    switch (field.type) {
      case 'I':
        if (raw.size() != 4) break;
        return std::to_string(bytes.I32LE(0));
      case 'B':
        if (raw.size() != 8) break;
        return JsonNumber(bytes.F64LE(0));
      case 'Y':
        if (raw.size() != 8) break;
        return ScaledText(bytes.I64LE(0));
      case 'T': {
        if (raw.size() != 8) break;
        uint32_t day = bytes.U32LE(0);
        uint32_t ms = bytes.U32LE(4);
        if ((day == 0 || day == kBlankWord) && (ms == 0 || ms == kBlankWord)) return "null";
        if (day == kBlankWord) day = 0;
        if (ms == kBlankWord) ms = 0;
        int y = 0, m = 0, d = 0;
        tolvern::GlobalDateConverter().DecodeDay(static_cast<int32_t>(day), y, m, d);
        if (y == 0 || ms >= kMsPerDay) {
          Warn(field, "not a timestamp");
          ok = false;
          return "null";
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02u:%02u:%02u.%03u", y, m, d,
                      ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        return JsonString(buf);
      }
      default:
        break;
    }
  }
  switch (field.type) {
    case 'C':
      return JsonString(codec_.ToUtf8(tolvern::TrimRight(raw)));
    case 'N':
    case 'F': {
      const std::string text = LeftTrim(tolvern::TrimRight(raw));
      // Blank, NUL-filled, or a lone "." or "-" as some writers leave empty numbers.
      if (text.find_first_of("0123456789") == std::string::npos &&
          text.find_first_not_of(std::string(" .-\0", 4)) == std::string::npos)
        return "null";
      if (IsJsonNumber(text)) return text;
      double value;
      if (ParseDouble(text, value)) return JsonNumber(value);
      Warn(field, "not a number: " + codec_.ToUtf8(text));
      ok = false;
      return "null";
    }
    case 'D': {
      const std::string text = tolvern::TrimRight(raw);
      if (text.empty() || text == "00000000" ||
          text.find_first_not_of(std::string(" \0", 2)) == std::string::npos)
        return "null";
      if (text.size() == 8 && AllDigits(text)) {
        return JsonString(text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2));
      }
      Warn(field, "not a date: " + codec_.ToUtf8(text));
      ok = false;
      return "null";
    }
    case 'L': {
      const char c = raw.empty() ? ' ' : raw[0];
      if (c != '\0' && tolvern::LogicalTrueChars.find(c) != std::string::npos) return "true";
      if (c != '\0' && tolvern::LogicalFalseChars.find(c) != std::string::npos) return "false";
      return "null";
    }
    default:
      return JsonString(codec_.ToUtf8(raw));
  }
}

// ---------------------------------------------------------------------------------------
// Import

RecordReader::RecordReader(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table), codec_(codec), visual_(table.Version() == tolvern::kVersionVisual) {}

void RecordReader::Fill(const JsonValue& line) {
  if (line.kind != JsonValue::Kind::Object) throw std::runtime_error("a JSON object expected");
  table_.BlankRecord();
  // A field the line does not name stays blank, numbers included.
  for (const auto& f : table_.Fields()) {
    if ((f.type == 'N' || f.type == 'F') && !table_.IsBinaryField(f)) table_.StoreFieldText(f, "");
  }
  pendingMemos_.clear();
  const JsonValue* fields = line.Member("fields");
  if (!fields) return;
  if (fields->kind != JsonValue::Kind::Object)
    throw std::runtime_error("\"fields\" must be an object");
  for (const auto& [name, value] : fields->members) {
    std::string tableName;
    if (!codec_.FromUtf8(name, tableName)) throw std::runtime_error("unknown field " + name);
    const DbfFieldInfo* field = nullptr;
    for (const auto& f : table_.Fields())
      if (tolvern::CompareTextNoCase(f.name, tableName) == 0) field = &f;
    if (!field) throw std::runtime_error("unknown field " + name);
    Put(*field, value);
  }
}

void RecordReader::Put(const DbfFieldInfo& field, const JsonValue& value) {
  using Kind = JsonValue::Kind;
  const std::string name = codec_.ToUtf8(field.name);
  auto fail = [&](const std::string& why) { throw std::runtime_error("field " + name + ": " + why); };
  auto text = [&]() {
    if (value.kind != Kind::String) fail("a string expected");
    std::string bytes;
    if (!codec_.FromUtf8(value.text, bytes))
      fail("text has characters that code page " + codec_.CodePage() + " cannot hold");
    return bytes;
  };
  if (value.kind == Kind::Null) return;  // blank

  if (IsMemoField(field, visual_)) {
    std::string bytes;
    if (IsBlobField(field, visual_)) {
      if (value.kind != Kind::String || !Base64Decode(value.text, bytes)) fail("base64 expected");
    } else {
      bytes = text();
    }
    pendingMemos_.emplace_back(field.number, std::move(bytes));
    return;
  }
  uint8_t* at = table_.Buffer() + field.offset;
  tolvern::ByteWriter out(at, static_cast<size_t>(field.length));
  if (visual_ && (field.type == 'I' || field.type == 'B' || field.type == 'Y' || field.type == 'T')) {
    if (field.type == 'T') {
      int y, mo, d, h, mi, s, ms;
      if (value.kind != Kind::String ||
          std::sscanf(value.text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi,
                      &s, &ms) != 7 || value.text.size() != 23)
        fail("a timestamp YYYY-MM-DDTHH:MM:SS.mmm expected");
      const int32_t day = tolvern::GlobalDateConverter().EncodeDay(y, mo, d);
      if (day <= 0 || h > 23 || mi > 59 || s > 59) fail("not a valid timestamp");
      out.U32LE(0, static_cast<uint32_t>(day));
      out.U32LE(4, static_cast<uint32_t>(((h * 60 + mi) * 60 + s) * 1000 + ms));
      return;
    }
    if (value.kind != Kind::Number) fail("a number expected");
    double number;
    if (!ParseDouble(value.text, number)) fail("not a number");
    if (field.type == 'I') {
      if (number != std::trunc(number) || number < INT32_MIN || number > INT32_MAX)
        fail("not a 32-bit integer");
      out.I32LE(0, static_cast<int32_t>(number));
    } else if (field.type == 'B') {
      out.F64LE(0, number);
    } else {
      int64_t scaled;
      if (!ParseScaled(value.text, scaled)) fail("not a number");
      out.I64LE(0, scaled);
    }
    return;
  }
  switch (field.type) {
    case 'N':
    case 'F': {
      if (value.kind != Kind::Number) fail("a number expected");
      double number;
      if (!ParseDouble(value.text, number)) fail("not a number");
      std::string formatted = FormatDecimals(value.text, field.decimals, number);
      // A number that other programs stored with fewer decimals than the field declares
      // goes back as it came when padding it would not fit.
      if (static_cast<int>(formatted.size()) > field.length &&
          static_cast<int>(value.text.size()) <= field.length)
        formatted = value.text;
      if (static_cast<int>(formatted.size()) > field.length) {
        table_.PutNumber(field.number, number);  // raises the engine's "too large" error
        fail("number too large for the field");
      }
      table_.StoreFieldText(field, formatted);
      return;
    }
    case 'D': {
      const std::string t = value.kind == Kind::String ? value.text : "";
      if (t.size() != 10 || t[4] != '-' || t[7] != '-' ||
          !AllDigits(t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2)))
        fail("a date YYYY-MM-DD expected");
      table_.StoreFieldText(field, t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2));
      return;
    }
    case 'L':
      if (value.kind != Kind::Bool) fail("true, false or null expected");
      table_.StoreFieldText(field, value.boolean ? "T" : "F");
      return;
    default: {
      const std::string bytes = text();
      if (static_cast<int>(bytes.size()) > field.length)
        fail("text longer than the field (" + std::to_string(field.length) + ")");
      if (field.type == 'C') {
        table_.StoreFieldText(field, bytes);
      } else {
        // Raw text of other types is stored as it came, left to right.
        out.Fill(0, ' ', static_cast<size_t>(field.length));
        out.Bytes(0, bytes.data(), bytes.size());
      }
      return;
    }
  }
}

void RecordReader::WriteMemos() {
  for (const auto& [number, bytes] : pendingMemos_) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!table_.WriteMemo(number, std::span<const uint8_t>(data, bytes.size()))) {
      throw std::runtime_error("field " + codec_.ToUtf8(table_.FieldName(number)) +
                               ": the memo could not be written");
    }
  }
  pendingMemos_.clear();
}

// ---------------------------------------------------------------------------------------

std::string Base64Encode(const std::string& bytes) {
  static const char* kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  uint32_t acc = 0;
  int bits = 0;
  size_t end = text.size();
  while (end > 0 && text[end - 1] == '=') --end;
  for (size_t i = 0; i < end; ++i) {
    const char c = text[i];
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return true;
}

}  // namespace fendral::cli
