#include "sql_export.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "kx6_Date.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_tool.h"
#include "table_open.h"

namespace fendral::cli {

using tolvern::DbfFieldInfo;

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

SqlKind KindOf(const tolvern::KXO_dBaseFld& table, const DbfFieldInfo& f) {
  if (table.Version() == tolvern::kVersionVisual) {
    switch (f.type) {
      case 'M':
        return SqlKind::kMemoText;
      case 'G':
      case 'W':
        return SqlKind::kBlob;
      case 'I':
        return f.length == 4 ? SqlKind::kInteger : SqlKind::kBlob;
      case 'B':
        return f.length == 8 ? SqlKind::kReal : SqlKind::kBlob;
      case 'Y':
        return f.length == 8 ? SqlKind::kCurrency : SqlKind::kBlob;
      case 'T':
        return f.length == 8 ? SqlKind::kTimestamp : SqlKind::kBlob;
      default:
        break;
    }
  } else {
    if (f.type == 'M') return SqlKind::kMemoText;
    if (f.type == 'G' || f.type == 'B') return SqlKind::kBlob;
  }
  switch (f.type) {
    case 'C':
      return SqlKind::kText;
    case 'N':
      return f.decimals == 0 && f.length <= 18 ? SqlKind::kInteger : SqlKind::kExactNumber;
    case 'F':
      return SqlKind::kReal;
    case 'D':
      return SqlKind::kDate;
    case 'L':
      return SqlKind::kLogical;
    default:
      return SqlKind::kBlob;  // read as the bytes stored
  }
}

// Unique column names: `taken` holds those in use, in lower case.
std::string UniqueName(std::string name, std::set<std::string>& taken) {
  std::string candidate = name;
  for (int n = 1; taken.count(candidate); ++n) candidate = name + "_" + std::to_string(n);
  taken.insert(candidate);
  return candidate;
}

// Reads a tag's key as a field or a "+" list of fields, each optionally in UPPER().
class KeyParser {
 public:
  KeyParser(const std::string& key, const std::vector<std::string>& fieldNames)
      : key_(AsciiUpper(key)), fieldNames_(fieldNames) {}

  // The fields (indexes into fieldNames) with their upper() flag; false for another key.
  bool Parse(std::vector<std::pair<size_t, bool>>& parts) {
    if (!Sum(false, parts)) return false;
    Skip();
    return pos_ == key_.size();
  }

 private:
  void Skip() {
    while (pos_ < key_.size() && key_[pos_] == ' ') ++pos_;
  }
  bool Accept(char c) {
    Skip();
    if (pos_ < key_.size() && key_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  std::string Name() {
    Skip();
    const size_t from = pos_;
    while (pos_ < key_.size() &&
           (std::isalnum(static_cast<unsigned char>(key_[pos_])) || key_[pos_] == '_' ||
            static_cast<unsigned char>(key_[pos_]) >= 0x80))
      ++pos_;
    return key_.substr(from, pos_ - from);
  }
  bool Sum(bool upper, std::vector<std::pair<size_t, bool>>& parts) {
    do {
      if (!Term(upper, parts)) return false;
    } while (Accept('+'));
    return true;
  }
  bool Term(bool upper, std::vector<std::pair<size_t, bool>>& parts) {
    const std::string name = Name();
    if (name.empty()) return false;
    if (name == "UPPER" && Accept('(')) return Sum(true, parts) && Accept(')');
    for (size_t i = 0; i < fieldNames_.size(); ++i) {
      if (fieldNames_[i] == name) {
        parts.emplace_back(i, upper);
        return true;
      }
    }
    return false;
  }

  std::string key_;
  const std::vector<std::string>& fieldNames_;
  size_t pos_ = 0;
};

void PlanIndexes(tolvern::KXO_dBHandler& table, const TextCodec& codec, SqlTablePlan& plan) {
  std::vector<std::string> fieldNames;
  for (const auto& f : table.Fields())
    fieldNames.push_back(AsciiUpper(tolvern::Trim(codec.ToUtf8(f.name))));
  std::set<std::string> taken;
  for (int slot = 1; slot <= tolvern::KXO_dBHandler::kMaxIndexFiles; ++slot) {
    const tolvern::KXobjIndexFile* file = table.IndexFile(slot);
    if (!file) continue;
    for (int t = 0; t < file->TagCount(); ++t) {
      const tolvern::KXobjIndexTag* tag = file->TagAt(t);
      const std::string tagName = codec.ToUtf8(tolvern::Trim(tag->TagName()));
      const std::string key = codec.ToUtf8(tolvern::Trim(tag->KeyExprText()));
      const std::string condition = codec.ToUtf8(tolvern::Trim(tag->ForExprText()));
      if (!condition.empty()) {
        plan.skippedTags.push_back(tagName + ": it has a FOR condition (" + condition + ")");
        continue;
      }
      std::vector<std::pair<size_t, bool>> parts;
      bool usable = KeyParser(key, fieldNames).Parse(parts);
      for (const auto& [field, upper] : parts) {
        const SqlKind kind = plan.columns[field].kind;
        if (kind == SqlKind::kBlob || kind == SqlKind::kMemoText) usable = false;
        if ((upper || parts.size() > 1) && kind != SqlKind::kText) usable = false;
      }
      if (!usable) {
        plan.skippedTags.push_back(tagName + ": its key " + key +
                                   " is not a field or a + list of character fields");
        continue;
      }
      SqlIndex index;
      index.name = UniqueName(plan.name + "_" + AsciiLower(tagName), taken);
      index.descending = !tag->Ascending();
      for (const auto& [field, upper] : parts)
        index.columns.emplace_back(plan.columns[field].name, upper);
      plan.indexes.push_back(std::move(index));
    }
  }
}

}  // namespace

std::vector<std::string> SqlTableNames(const Arguments& args) {
  if (args.positional.empty()) throw UsageError{"name at least one TABLE to export"};
  std::vector<std::string> names;
  if (auto table = args.Option("--table")) {
    if (args.positional.size() != 1)
      throw UsageError{"--table names the table of a single TABLE argument"};
    if (table->empty()) throw UsageError{"--table needs a name"};
    names.push_back(*table);
    return names;
  }
  for (const auto& path : args.positional) {
    const std::string name = AsciiLower(std::filesystem::path(path).stem().string());
    for (const auto& other : names)
      if (other == name) throw UsageError{"two tables would be named " + name};
    names.push_back(name.empty() ? "table" : name);
  }
  return names;
}

SqlSource OpenSqlSource(const std::string& path, const Arguments& args, const std::string& name) {
  SqlSource source;
  OpenOptions options;
  options.productionIndex = true;
  source.owned = OpenTable(path, args, options);
  source.table = source.owned.get();
  tolvern::KXO_dBHandler& table = *source.table;
  const bool withDeleted = args.Flag("--with-deleted");
  table.SetShowDeleted(withDeleted);
  if (!table.CurrentOrder()) table.SetReadAhead(kReadAheadBytes);
  source.codec = std::make_unique<TextCodec>(TableEncoding(args, table.CodePageMark()));
  source.plan = PlanSqlTable(table, *source.codec, withDeleted, name);
  return source;
}

SqlTablePlan PlanSqlTable(tolvern::KXO_dBHandler& table, const TextCodec& codec, bool withDeleted,
                          const std::string& name) {
  SqlTablePlan plan;
  plan.withDeleted = withDeleted;
  plan.name = name;
  std::set<std::string> taken = {kRecnoColumn};
  if (plan.withDeleted) taken.insert(kDeletedColumn);
  for (const auto& f : table.Fields()) {
    std::string column = AsciiLower(tolvern::Trim(codec.ToUtf8(f.name)));
    if (column.empty()) column = "field" + std::to_string(f.number);
    SqlColumn c;
    c.name = UniqueName(column, taken);
    c.field = f.number;
    c.kind = KindOf(table, f);
    c.type = f.type;
    c.length = f.length;
    c.decimals = f.decimals;
    plan.columns.push_back(std::move(c));
  }
  PlanIndexes(table, codec, plan);
  return plan;
}

std::string QuoteIdentifier(const std::string& name,
                            const std::function<bool(const std::string&)>& isKeyword) {
  bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) plain = false;
  if (plain && !isKeyword(name)) return name;
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// ---------------------------------------------------------------------------------------

SqlRecordReader::SqlRecordReader(tolvern::KXO_dBHandler& table, const TextCodec& codec,
                                 const SqlTablePlan& plan)
    : table_(table), codec_(codec), plan_(plan) {}

void SqlRecordReader::Warn(const SqlColumn& column, const std::string& what) {
  std::fprintf(stderr, "fendral-cli: warning: %s record %d field %s: %s\n", plan_.name.c_str(),
               table_.CurrentRecord(), column.name.c_str(), what.c_str());
}

void SqlRecordReader::ReadMemo(const SqlColumn& column, SqlValue& value, bool& ok) {
  try {
    if (!table_.ReadMemo(column.field, memo_)) {
      Warn(column, "the table has no memo file");
      ok = false;
      return;
    }
    const std::string bytes(memo_.begin(), memo_.end());
    if (field_.binaryMemo) {
      value.kind = SqlValue::Kind::kBlob;
      value.text = bytes;
    } else {
      value.kind = SqlValue::Kind::kText;
      value.text = codec_.ToUtf8(bytes);
    }
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\r' || c == '\n') c = ' ';
    Warn(column, message);
    ok = false;
  }
}

bool SqlRecordReader::Read(std::vector<SqlValue>& values) {
  using Kind = tolvern::TkxValueKind;
  values.resize(plan_.columns.size());
  bool ok = true;
  for (size_t i = 0; i < plan_.columns.size(); ++i) {
    const SqlColumn& column = plan_.columns[i];
    SqlValue& value = values[i];
    value.kind = SqlValue::Kind::kNull;
    value.text.clear();
    table_.ReadFieldValue(column.field, field_);
    switch (field_.kind) {
      case Kind::kNull:
        break;
      case Kind::kText:
        value.kind = SqlValue::Kind::kText;
        value.text = codec_.ToUtf8(field_.text);
        break;
      case Kind::kRaw:
        value.kind = SqlValue::Kind::kBlob;
        value.text = field_.text;
        break;
      case Kind::kNumber:
        value.kind = SqlValue::Kind::kNumber;
        value.text = field_.text;
        break;
      case Kind::kDate:
        value.kind = SqlValue::Kind::kText;
        value.text.assign(field_.text, 0, 4);
        value.text += '-';
        value.text.append(field_.text, 4, 2);
        value.text += '-';
        value.text.append(field_.text, 6, 2);
        break;
      case Kind::kLogical:
        value.kind = SqlValue::Kind::kLogical;
        value.logical = field_.logical;
        break;
      case Kind::kTimestamp: {
        int y = 0, m = 0, d = 0;
        tolvern::GlobalDateConverter().DecodeDay(field_.day, y, m, d);
        const int ms = field_.ms;
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d, ms / 3600000,
                      ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        value.kind = SqlValue::Kind::kText;
        value.text = buf;
        break;
      }
      case Kind::kMemo:
        ReadMemo(column, value, ok);
        break;
      case Kind::kInvalid:
        Warn(column, field_.text.empty()
                         ? std::string(field_.reason)
                         : std::string(field_.reason) + ": " + codec_.ToUtf8(field_.text));
        ok = false;
        break;
    }
  }
  return ok;
}

void ForEachRecord(tolvern::KXO_dBHandler& table, const std::function<void()>& each) {
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) each();
}

bool IsCalendarDate(const std::string& digits) {
  if (digits.size() != 8) return false;
  for (char c : digits)
    if (c < '0' || c > '9') return false;
  auto number = [&](size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) value = value * 10 + (digits[i] - '0');
    return value;
  };
  const int y = number(0, 4);
  const int m = number(4, 2);
  const int d = number(6, 2);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool FitsNumeric(const std::string& text, int precision, int scale) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::string digits;
  long point = -1;
  for (; i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'); ++i) {
    if (text[i] == '.') {
      if (point >= 0) return false;
      point = static_cast<long>(digits.size());
    } else {
      digits += text[i];
    }
  }
  if (digits.empty()) return false;
  if (point < 0) point = static_cast<long>(digits.size());
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    const std::string exponent = text.substr(i + 1);
    const size_t sign = !exponent.empty() && (exponent[0] == '-' || exponent[0] == '+');
    if (exponent.size() <= sign || exponent.size() > 6 ||
        exponent.find_first_not_of("0123456789", sign) != std::string::npos)
      return false;
    const long shift = std::stol(exponent);
    point += shift;
    i = text.size();
  }
  if (i != text.size()) return false;
  // Integer digits without leading zeros, fraction digits without trailing zeros.
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return true;  // zero
  const size_t last = digits.find_last_not_of('0');
  const long intDigits = point - static_cast<long>(first);
  const long fracDigits = static_cast<long>(last) + 1 - point;
  return intDigits <= precision - scale && fracDigits <= scale;
}

}  // namespace fendral::cli
