#include "cli_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "cli_common.h"
#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_memo.h"
#include "kx6_tool.h"

namespace fendral::cli {

using tolvern::DbfFieldInfo;

namespace {

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

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

[[noreturn]] void Refuse(const std::string& field, const std::string& shown,
                         const std::string& why) {
  throw std::runtime_error("Field '" + field + "' cannot hold \"" + shown + "\": " + why);
}

// Runs an engine store; a refusal (false or the engine's error) becomes `field`'s message.
template <typename Put>
void EngineStore(const std::string& field, const std::string& shown, Put&& put) {
  std::string reason;
  bool ok = false;
  try {
    ok = put();
  } catch (const std::exception& e) {
    reason = OneLine(e.what());
  }
  if (!ok) Refuse(field, shown, reason.empty() ? "the field cannot take it" : reason);
}

// Decimal notation: [+-]digits[.digits][e[+-]digits], with digits on one side of the point.
bool IsDecimalText(const std::string& s) {
  size_t i = 0;
  auto digits = [&] {
    const size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i - from;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

enum class DateText { kDate, kNotADate, kNoSuchDate };

// The storage form yyyymmdd of "YYYY-MM-DD" or "YYYYMMDD" when that date exists.
DateText ParseDate(const std::string& text, std::string& digits) {
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    digits = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
  } else if (text.size() == 8) {
    digits = text;
  } else {
    return DateText::kNotADate;
  }
  if (!AllDigits(digits)) return DateText::kNotADate;
  const int year = std::stoi(digits.substr(0, 4));
  const int month = std::stoi(digits.substr(4, 2));
  const int day = std::stoi(digits.substr(6, 2));
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31) return DateText::kNoSuchDate;
  const auto& dates = tolvern::GlobalDateConverter();
  const int32_t number = dates.EncodeDay(year, month, day);
  int y = 0, m = 0, d = 0;
  if (number > 0) dates.DecodeDay(number, y, m, d);
  if (number <= 0 || y != year || m != month || d != day) return DateText::kNoSuchDate;
  return DateText::kDate;
}

constexpr const char* kDateForms = "not a date (YYYY-MM-DD or YYYYMMDD)";
constexpr const char* kNoSuchDate = "there is no such date";
constexpr const char* kLogicalForms = "a logical is T, F, Y, N or ?";

// 'T', 'F' or '?' for the one-letter logicals (any case, also between dots: ".T."); 0 for
// other text.
char LogicalOf(std::string text) {
  if (text.size() == 3 && text.front() == '.' && text.back() == '.') text = text.substr(1, 1);
  if (text.size() != 1) return 0;
  switch (std::toupper(static_cast<unsigned char>(text[0]))) {
    case 'T':
    case 'Y':
      return 'T';
    case 'F':
    case 'N':
      return 'F';
    case '?':
      return '?';
    default:
      return 0;
  }
}

void StoreLogical(tolvern::KXO_dBaseFld& table, const DbfFieldInfo& field, char logical) {
  if (logical == '?') {
    table.PutField(field.number, "?");
  } else {
    table.PutLogical(field.number, logical == 'T');
  }
}

std::string TooLong(const DbfFieldInfo& field) {
  return "longer than the field's " + std::to_string(field.length) + " characters";
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Values as typed

MemoUpdate::MemoUpdate(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table), codec_(codec) {}

void MemoUpdate::Set(int field, std::string bytes) {
  for (auto& [number, text] : pending_) {
    if (number == field) {
      text = std::move(bytes);
      return;
    }
  }
  pending_.emplace_back(field, std::move(bytes));
}

void MemoUpdate::Clear() {
  pending_.clear();
  replaced_.clear();
}

void MemoUpdate::WriteNew() {
  replaced_.clear();
  for (const auto& [number, bytes] : pending_) {
    const DbfFieldInfo& field = table_.Fields().at(static_cast<size_t>(number - 1));
    const std::string name = codec_.ToUtf8(field.name);
    if (!table_.MemoFor(number))
      throw std::runtime_error("Field '" + name + "': the table has no memo file");
    int32_t old = 0;
    try {
      const double block = table_.GetNumber(number);
      if (block > 0 && block <= std::numeric_limits<int32_t>::max())
        old = static_cast<int32_t>(block);
    } catch (const std::exception&) {
      old = 0;  // an unreadable reference is replaced, never freed
    }
    // No block to reuse: the record on disk keeps its memo until the record is written.
    if (table_.IsBinaryField(field)) {
      table_.PutNumber(number, 0.0);
    } else {
      table_.PutField(number, std::string());
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!table_.WriteMemo(number, std::span<const uint8_t>(data, bytes.size())))
      throw std::runtime_error("Field '" + name + "': the memo could not be written");
    if (old > 0) replaced_.emplace_back(number, old);
  }
  pending_.clear();
}

void MemoUpdate::FreeReplaced() {
  for (const auto& [number, block] : replaced_) {
    try {
      if (tolvern::KXobjMemo* memo = table_.MemoFor(number)) memo->FreeMemo(block);
    } catch (const std::exception&) {
      // Blocks that stay allocated lose nothing.
    }
  }
  replaced_.clear();
}

void PutEnteredValue(tolvern::KXO_dBaseFld& table, const DbfFieldInfo& field,
                     const std::string& bytes, const std::string& shown, MemoUpdate& memos,
                     const TextCodec& codec) {
  const std::string name = codec.ToUtf8(field.name);
  auto refuse = [&](const std::string& why) { Refuse(name, shown, why); };
  const bool visual = table.Version() == tolvern::kVersionVisual;
  const bool binary = table.IsBinaryField(field);
  const std::string entry = tolvern::Trim(bytes);

  if (IsMemoField(field, visual)) {
    if (IsBlobField(field, visual)) refuse("the field holds binary data (import it as base64)");
    memos.Set(field.number, bytes);
    return;
  }
  if (field.type == 'N' || field.type == 'F' ||
      (binary && (field.type == 'I' || field.type == 'B' || field.type == 'Y'))) {
    if (entry.empty()) {
      if (binary) {
        EngineStore(name, shown, [&] { return table.PutNumber(field.number, 0.0); });
      } else {
        table.PutField(field.number, std::string());
      }
      return;
    }
    if (!IsDecimalText(entry)) refuse("not a number");
    EngineStore(name, shown, [&] { return table.PutNumberText(field.number, entry); });
    return;
  }
  if (binary) {
    EngineStore(name, shown, [&] { return table.PutFieldText(field.number, bytes); });
    return;
  }
  switch (field.type) {
    case 'D': {
      std::string digits;
      if (!entry.empty()) {
        const DateText parsed = ParseDate(entry, digits);
        if (parsed == DateText::kNotADate) refuse(kDateForms);
        if (parsed == DateText::kNoSuchDate) refuse(kNoSuchDate);
      }
      table.PutField(field.number, digits);
      return;
    }
    case 'L': {
      if (entry.empty()) {
        table.PutField(field.number, std::string());
        return;
      }
      const char logical = LogicalOf(entry);
      if (!logical) refuse(kLogicalForms);
      StoreLogical(table, field, logical);
      return;
    }
    case 'C':
      if (bytes.size() > static_cast<size_t>(field.length)) refuse(TooLong(field));
      table.PutField(field.number, bytes);
      return;
    default:
      if (bytes.size() > static_cast<size_t>(field.length)) refuse(TooLong(field));
      EngineStore(name, shown, [&] { return table.PutFieldText(field.number, bytes); });
      return;
  }
}

// ---------------------------------------------------------------------------------------
// Dump

RecordWriter::RecordWriter(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table), codec_(codec) {
  // Each field's name as it opens its member: `"NAME": `, after `, ` for all but the first.
  for (const auto& f : table_.Fields()) {
    keys_.push_back((keys_.empty() ? "" : ", ") + JsonString(codec_.ToUtf8(f.name)) + ": ");
  }
}

void RecordWriter::Warn(const DbfFieldInfo& field, const std::string& what) {
  std::fprintf(stderr, "fendral-cli: warning: record %d field %s: %s\n", table_.CurrentRecord(),
               codec_.ToUtf8(field.name).c_str(), what.c_str());
}

bool RecordWriter::Write(std::string& out, bool deletedMember) {
  bool ok = true;
  static constexpr std::string_view kOpen = "{\"recno\": ";
  static constexpr std::string_view kLive = ", \"deleted\": false, \"fields\": {";
  static constexpr std::string_view kDeleted = ", \"deleted\": true, \"fields\": {";
  static constexpr std::string_view kFields = ", \"fields\": {";
  char number[16];
  const auto end = std::to_chars(number, number + sizeof number, table_.CurrentRecord()).ptr;
  out.append(kOpen);
  out.append(number, static_cast<size_t>(end - number));
  out.append(!deletedMember ? kFields : table_.IsDeleted() ? kDeleted : kLive);
  const auto& fields = table_.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    out.append(keys_[i]);
    AppendValue(out, fields[i], ok);
  }
  out += "}}";
  return ok;
}

void RecordWriter::AppendMemo(std::string& out, const DbfFieldInfo& field, bool binary, bool& ok) {
  try {
    std::vector<uint8_t> data;
    if (!table_.ReadMemo(field.number, data)) {
      Warn(field, "the table has no memo file");
      ok = false;
      out += "null";
      return;
    }
    const std::string bytes(data.begin(), data.end());
    out += binary ? JsonString(Base64Encode(bytes)) : JsonString(codec_.ToUtf8(bytes));
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\r' || c == '\n') c = ' ';
    Warn(field, message);
    ok = false;
    out += "null";
  }
}

void RecordWriter::AppendValue(std::string& out, const DbfFieldInfo& field, bool& ok) {
  using Kind = tolvern::TkxValueKind;
  table_.ReadFieldValue(field.number, value_);
  const std::string& text = value_.text;
  switch (value_.kind) {
    case Kind::kNull:
      out += "null";
      return;
    case Kind::kText:
      codec_.AppendJson(out, text.data(), text.size());
      return;
    case Kind::kRaw:
      out += JsonString(codec_.ToUtf8(text));
      return;
    case Kind::kNumber:
      out += text;
      return;
    case Kind::kDate: {
      if (text.size() < 8) {
        out += JsonString(text);
        return;
      }
      const char date[12] = {'"',     text[0], text[1], text[2], text[3], '-',
                             text[4], text[5], '-',     text[6], text[7], '"'};
      out.append(date, sizeof date);
      return;
    }
    case Kind::kLogical:
      out += value_.logical ? "true" : "false";
      return;
    case Kind::kTimestamp: {
      int y = 0, m = 0, d = 0;
      tolvern::GlobalDateConverter().DecodeDay(value_.day, y, m, d);
      const int ms = value_.ms;
      char buf[40];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d, ms / 3600000,
                    ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
      out += JsonString(buf);
      return;
    }
    case Kind::kMemo:
      AppendMemo(out, field, value_.binaryMemo, ok);
      return;
    case Kind::kInvalid:
      Warn(field, text.empty() ? std::string(value_.reason)
                               : std::string(value_.reason) + ": " + codec_.ToUtf8(text));
      ok = false;
      out += "null";
      return;
  }
}

// ---------------------------------------------------------------------------------------
// Import

RecordReader::RecordReader(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table),
      codec_(codec),
      visual_(table.Version() == tolvern::kVersionVisual),
      repeatedNames_(false),
      memos_(table, codec) {
  const auto& fields = table.Fields();
  for (size_t i = 0; i < fields.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (tolvern::CompareTextNoCase(fields[i].name, fields[j].name) == 0) repeatedNames_ = true;
}

std::vector<const DbfFieldInfo*> FieldsNamed(const tolvern::KXO_dBaseFld& table,
                                             const TextCodec& codec,
                                             const std::vector<std::string>& names) {
  std::vector<std::string> bytes(names.size());
  std::vector<bool> known(names.size());
  for (size_t i = 0; i < names.size(); ++i) known[i] = codec.FromUtf8(names[i], bytes[i]);
  std::vector<const DbfFieldInfo*> out(names.size(), nullptr);
  for (size_t i = 0; i < names.size(); ++i) {
    if (!known[i]) continue;
    // Which of its repetitions this name is, and how many there are.
    size_t before = 0, count = 0;
    for (size_t j = 0; j < names.size(); ++j) {
      if (!known[j] || tolvern::CompareTextNoCase(bytes[j], bytes[i]) != 0) continue;
      ++count;
      if (j < i) ++before;
    }
    std::vector<const DbfFieldInfo*> same;
    for (const auto& f : table.Fields())
      if (tolvern::CompareTextNoCase(f.name, bytes[i]) == 0) same.push_back(&f);
    if (same.empty()) continue;
    const size_t at = count < same.size() ? same.size() - count + before : before;
    out[i] = same[std::min(at, same.size() - 1)];
  }
  return out;
}

void RecordReader::Fill(const JsonValue& line) {
  if (line.kind != JsonValue::Kind::Object) throw std::runtime_error("a JSON object expected");
  table_.BlankRecord();
  // A field the line does not name stays blank, numbers included.
  for (const auto& f : table_.Fields()) {
    if ((f.type == 'N' || f.type == 'F') && !table_.IsBinaryField(f)) table_.StoreFieldText(f, "");
  }
  memos_.Clear();
  const JsonValue* fields = line.Member("fields");
  if (!fields) return;
  if (fields->kind != JsonValue::Kind::Object)
    throw std::runtime_error("\"fields\" must be an object");
  std::vector<const DbfFieldInfo*> named;
  if (repeatedNames_) {
    std::vector<std::string> names;
    for (const auto& member : fields->members) names.push_back(member.first);
    named = FieldsNamed(table_, codec_, names);
  }
  for (size_t i = 0; i < fields->members.size(); ++i) {
    const auto& [name, value] = fields->members[i];
    const DbfFieldInfo* field = nullptr;
    if (repeatedNames_) {
      field = named[i];
    } else {
      std::string tableName;
      if (!codec_.FromUtf8(name, tableName)) throw std::runtime_error("unknown field " + name);
      for (const auto& f : table_.Fields())
        if (tolvern::CompareTextNoCase(f.name, tableName) == 0) field = &f;
    }
    if (!field) throw std::runtime_error("unknown field " + name);
    Put(*field, value);
  }
}

void RecordReader::Put(const DbfFieldInfo& field, const JsonValue& value) {
  using Kind = JsonValue::Kind;
  const std::string name = codec_.ToUtf8(field.name);
  const std::string shown = value.kind == Kind::Bool     ? (value.boolean ? "true" : "false")
                            : value.kind == Kind::Array  ? "[...]"
                            : value.kind == Kind::Object ? "{...}"
                                                         : value.text;
  auto fail = [&](const std::string& why) { Refuse(name, shown, why); };
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
    memos_.Set(field.number, std::move(bytes));
    return;
  }
  const bool binary = table_.IsBinaryField(field);
  if (binary && field.type == 'T') {
    int y, mo, d, h, mi, s, ms;
    if (value.kind != Kind::String ||
        std::sscanf(value.text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi, &s,
                    &ms) != 7 ||
        value.text.size() != 23)
      fail("a timestamp YYYY-MM-DDTHH:MM:SS.mmm expected");
    const int32_t day = tolvern::GlobalDateConverter().EncodeDay(y, mo, d);
    const int64_t time = ((h * 60LL + mi) * 60 + s) * 1000 + ms;
    if (day <= 0 || h > 23 || mi > 59 || s > 59 || time >= kMsPerDay) fail("not a valid timestamp");
    if (!table_.PutTimestamp(field.number, day, static_cast<int32_t>(time)))
      fail("not a valid timestamp");
    return;
  }
  if (field.type == 'N' || field.type == 'F' ||
      (binary && (field.type == 'I' || field.type == 'B' || field.type == 'Y'))) {
    if (value.kind != Kind::Number) fail("a number expected");
    EngineStore(name, shown, [&] { return table_.PutNumberText(field.number, value.text); });
    return;
  }
  switch (field.type) {
    case 'D': {
      const std::string t = value.kind == Kind::String ? value.text : "";
      std::string digits;
      if (t.size() != 10) fail("a date YYYY-MM-DD expected");
      const DateText parsed = ParseDate(t, digits);
      if (parsed == DateText::kNotADate) fail("a date YYYY-MM-DD expected");
      if (parsed == DateText::kNoSuchDate) fail(kNoSuchDate);
      table_.PutField(field.number, digits);
      return;
    }
    case 'L':
      if (value.kind == Kind::Bool) {
        table_.PutLogical(field.number, value.boolean);
      } else if (const char logical = value.kind == Kind::String ? LogicalOf(value.text) : 0) {
        StoreLogical(table_, field, logical);
      } else {
        fail("true, false, null or one of T, F, Y, N, ? expected");
      }
      return;
    default: {
      const std::string bytes = text();
      if (static_cast<int>(bytes.size()) > field.length) fail(TooLong(field));
      // Text of other types is stored as it came, left to right.
      if (field.type == 'C')
        table_.PutField(field.number, bytes);
      else
        table_.PutRawField(field.number, bytes);
      return;
    }
  }
}

void RecordReader::WriteMemos() { memos_.WriteNew(); }

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
