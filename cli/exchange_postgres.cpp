// export TABLE... --format postgresql [--to CONNINFO]: a script for psql on standard output
// (CREATE TABLE, COPY ... FROM stdin, CREATE INDEX), or the same loaded directly through
// libpq with COPY, in one transaction either way.
#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "exchange.h"
#include "sql_export.h"

namespace fendral::cli {

namespace {

constexpr size_t kFlushAt = 256 * 1024;

// Words PostgreSQL does not take as a bare column or table name.
bool IsPostgresKeyword(const std::string& name) {
  // clang-format off
  static const std::vector<std::string_view> kWords = {
      "all", "analyse", "analyze", "and", "any", "array", "as", "asc", "asymmetric",
      "authorization", "between", "bigint", "binary", "bit", "boolean", "both", "case", "cast",
      "char", "character", "check", "coalesce", "collate", "collation", "column",
      "concurrently", "constraint", "create", "cross", "current_catalog", "current_date",
      "current_role", "current_schema", "current_time", "current_timestamp", "current_user",
      "dec", "decimal", "default", "deferrable", "desc", "distinct", "do", "else", "end",
      "except", "exists", "extract", "false", "fetch", "float", "for", "foreign", "freeze",
      "from", "full", "grant", "group", "having", "ilike", "in", "initially", "inner", "int",
      "integer", "intersect", "interval", "into", "is", "isnull", "join", "lateral", "leading",
      "left", "like", "limit", "localtime", "localtimestamp", "natural", "nchar", "not",
      "notnull", "null", "numeric", "offset", "on", "only", "or", "order", "outer", "overlaps",
      "placing", "primary", "real", "references", "returning", "right", "row", "select",
      "session_user", "similar", "smallint", "some", "symmetric", "system_user", "table",
      "tablesample", "then", "time", "timestamp", "to", "trailing", "true", "union", "unique",
      "user", "using", "values", "varchar", "variadic", "verbose", "when", "where", "window",
      "with"};
  // clang-format on
  return std::find(kWords.begin(), kWords.end(), name) != kWords.end();
}

std::string Id(const std::string& name) { return QuoteIdentifier(name, IsPostgresKeyword); }

// numeric(len,dec) when PostgreSQL takes those figures; otherwise an unconstrained numeric.
bool NumericFigures(const SqlColumn& c) {
  return c.length >= 1 && c.length <= 1000 && c.decimals >= 0 && c.decimals <= c.length;
}

std::string PgType(const SqlColumn& c) {
  switch (c.kind) {
    case SqlKind::kText:
      return c.length >= 1 ? "varchar(" + std::to_string(c.length) + ")" : "text";
    case SqlKind::kInteger:
    case SqlKind::kExactNumber:
    case SqlKind::kReal:
      if (c.type == 'I') return "integer";
      if (c.type == 'B') return "double precision";
      return NumericFigures(c)
                 ? "numeric(" + std::to_string(c.length) + "," + std::to_string(c.decimals) + ")"
                 : "numeric";
    case SqlKind::kCurrency:
      return "numeric(19,4)";
    case SqlKind::kDate:
      return "date";
    case SqlKind::kTimestamp:
      return "timestamp";
    case SqlKind::kLogical:
      return "boolean";
    case SqlKind::kMemoText:
      return "text";
    case SqlKind::kBlob:
      return "bytea";
  }
  return "text";
}

bool IsNumeric(const SqlColumn& c) {
  return (c.kind == SqlKind::kInteger || c.kind == SqlKind::kExactNumber ||
          c.kind == SqlKind::kReal) &&
         c.type != 'I' && c.type != 'B';
}

// The statements before and after a table's rows.
struct TableSql {
  std::vector<std::string> before;  // DROP, CREATE TABLE
  std::string copy;                 // COPY ... FROM stdin
  std::vector<std::string> after;   // CREATE INDEX
};

TableSql SqlFor(const SqlTablePlan& plan, bool drop) {
  TableSql sql;
  const std::string table = Id(plan.name);
  if (drop) sql.before.push_back("DROP TABLE IF EXISTS " + table);
  std::string create = "CREATE TABLE " + table + " (\n  " + kRecnoColumn + " integer NOT NULL";
  std::string columns = kRecnoColumn;
  if (plan.withDeleted) {
    create += std::string(",\n  ") + kDeletedColumn + " boolean NOT NULL";
    columns += std::string(", ") + kDeletedColumn;
  }
  for (const SqlColumn& c : plan.columns) {
    create += ",\n  " + Id(c.name) + " " + PgType(c);
    columns += ", " + Id(c.name);
  }
  sql.before.push_back(create + "\n)");
  sql.copy = "COPY " + table + " (" + columns + ") FROM stdin";
  for (const SqlIndex& index : plan.indexes) {
    std::string text = "CREATE INDEX " + Id(index.name) + " ON " + table + " (";
    for (size_t i = 0; i < index.columns.size(); ++i) {
      if (i) text += ", ";
      text += index.columns[i].second ? "upper(" + Id(index.columns[i].first) + ")"
                                      : Id(index.columns[i].first);
      if (index.descending) text += " DESC";
    }
    sql.after.push_back(text + ")");
  }
  return sql;
}

void AppendCopyText(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

void AppendCopyBytes(std::string& out, const std::string& bytes) {
  static const char* kHex = "0123456789abcdef";
  out += "\\\\x";
  for (unsigned char b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

// --- COPY's binary form: big-endian integers, days and microseconds from 2000-01-01.

void PutBE(std::string& out, uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

// Days from 1970-01-01 of a calendar date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr int64_t kDaysTo2000 = 10957;  // 1970-01-01 to 2000-01-01

int DecimalAt(const std::string& text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// Days from 2000-01-01 of "YYYY-MM-DD..." (checked before).
int64_t PgDay(const std::string& iso) {
  return DaysFromCivil(DecimalAt(iso, 0, 4), static_cast<unsigned>(DecimalAt(iso, 5, 2)),
                       static_cast<unsigned>(DecimalAt(iso, 8, 2))) -
         kDaysTo2000;
}

// numeric's binary form of a decimal number in plain or exponent notation (checked before):
// base-10000 digits with a weight, a sign and the count of decimal digits shown.
void PutNumeric(std::string& out, const std::string& text) {
  static std::string digits;  // kept between calls: no allocation per value
  digits.clear();
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long point = -1;
  for (; i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'); ++i) {
    if (text[i] == '.')
      point = static_cast<long>(digits.size());
    else
      digits += text[i];
  }
  if (point < 0) point = static_cast<long>(digits.size());
  long scale = static_cast<long>(digits.size()) - point;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const bool down = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long shift = 0;
    for (; i < text.size(); ++i) shift = shift * 10 + (text[i] - '0');
    if (down) shift = -shift;
    point += shift;
    scale = std::max(0L, scale - shift);
  }
  // Pad to whole groups of four digits on both sides of the point.
  if (point < 0) {
    digits.insert(0, static_cast<size_t>(-point), '0');
    point = 0;
  }
  if (point > static_cast<long>(digits.size())) digits.append(point - digits.size(), '0');
  const long lead = (4 - point % 4) % 4;
  digits.insert(0, static_cast<size_t>(lead), '0');
  point += lead;
  digits.append((4 - digits.size() % 4) % 4, '0');
  const size_t groups = digits.size() / 4;
  auto group = [&](size_t g) { return static_cast<uint16_t>(DecimalAt(digits, g * 4, 4)); };
  long weight = point / 4 - 1;
  size_t first = 0;
  while (first < groups && group(first) == 0) {
    ++first;
    --weight;
  }
  size_t end = groups;
  while (end > first && group(end - 1) == 0) --end;
  if (first == end) {
    weight = 0;
    negative = false;
  }
  PutBE(out, end - first, 2);
  PutBE(out, static_cast<uint16_t>(static_cast<int16_t>(weight)), 2);
  PutBE(out, negative ? 0x4000 : 0, 2);
  PutBE(out, static_cast<uint64_t>(scale), 2);
  for (size_t g = first; g < end; ++g) PutBE(out, group(g), 2);
}

// Appends the current record as a COPY line (text, or binary for a direct load); false
// when a value had to be left out.
class CopyLineWriter {
 public:
  CopyLineWriter(tolvern::KXO_dBHandler& table, const TextCodec& codec, const SqlTablePlan& plan,
                 bool binary)
      : table_(table), plan_(plan), reader_(table, codec, plan), binary_(binary) {}

  bool Append(std::string& out) {
    bool ok = reader_.Read(values_);
    if (binary_) {
      PutBE(out, values_.size() + (plan_.withDeleted ? 2 : 1), 2);
      PutBE(out, 4, 4);
      PutBE(out, static_cast<uint32_t>(table_.CurrentRecord()), 4);
      if (plan_.withDeleted) {
        PutBE(out, 1, 4);
        out += table_.IsDeleted() ? '\1' : '\0';
      }
    } else {
      out += std::to_string(table_.CurrentRecord());
      if (plan_.withDeleted) out += table_.IsDeleted() ? "\tt" : "\tf";
    }
    for (size_t i = 0; i < values_.size(); ++i) {
      if (!binary_) out += '\t';
      ok &= AppendValue(out, plan_.columns[i], values_[i]);
    }
    if (!binary_) out += '\n';
    return ok;
  }

 private:
  void Null(std::string& out) {
    if (binary_)
      PutBE(out, 0xFFFFFFFF, 4);
    else
      out += "\\N";
  }

  bool Refuse(std::string& out, const SqlColumn& column, const std::string& why) {
    reader_.Warn(column, why + "; written as null");
    Null(out);
    return false;
  }

  // A binary value: its length, then `put` writes its bytes.
  template <typename Put>
  void Binary(std::string& out, Put&& put) {
    const size_t at = out.size();
    out.append(4, '\0');
    put();
    const uint32_t length = static_cast<uint32_t>(out.size() - at - 4);
    for (int b = 0; b < 4; ++b) out[at + b] = static_cast<char>(length >> (24 - 8 * b));
  }

  bool AppendValue(std::string& out, const SqlColumn& column, SqlValue& value) {
    using Kind = SqlValue::Kind;
    std::string& text = value.text;
    switch (value.kind) {
      case Kind::kNull:
        Null(out);
        return true;
      case Kind::kLogical:
        if (binary_)
          Binary(out, [&] { out += value.logical ? '\1' : '\0'; });
        else
          out += value.logical ? 't' : 'f';
        return true;
      case Kind::kBlob:
        if (binary_)
          Binary(out, [&] { out += text; });
        else
          AppendCopyBytes(out, text);
        return true;
      case Kind::kNumber:
        if (IsNumeric(column) && NumericFigures(column) &&
            !FitsNumeric(text, column.length, column.decimals))
          return Refuse(out, column, text + " does not fit " + PgType(column));
        if (!binary_) {
          out += text;
        } else if (column.type == 'I') {
          Binary(out, [&] { PutBE(out, static_cast<uint32_t>(std::stol(text)), 4); });
        } else if (column.type == 'B') {
          double number = 0;
          std::from_chars(text.data(), text.data() + text.size(), number);
          uint64_t bits = 0;
          std::memcpy(&bits, &number, sizeof bits);
          Binary(out, [&] { PutBE(out, bits, 8); });
        } else {
          if (!FitsNumeric(text, 2000, 1000)) return Refuse(out, column, text + " is too long");
          Binary(out, [&] { PutNumeric(out, text); });
        }
        return true;
      case Kind::kText: {
        if (column.kind == SqlKind::kDate) {
          const std::string digits{text[0], text[1], text[2], text[3],
                                   text[5], text[6], text[8], text[9]};
          if (!IsCalendarDate(digits)) return Refuse(out, column, text + " is not a date");
          if (binary_) {
            Binary(out, [&] { PutBE(out, static_cast<uint32_t>(PgDay(text)), 4); });
            return true;
          }
        } else if (column.kind == SqlKind::kTimestamp && binary_) {
          if (text.size() != 23) return Refuse(out, column, text + " is not a timestamp");
          int h = 0, mi = 0, sec = 0, ms = 0;
          std::sscanf(text.c_str() + 11, "%2d:%2d:%2d.%3d", &h, &mi, &sec, &ms);
          const int64_t micros =
              PgDay(text) * 86400000000LL + (((h * 60LL + mi) * 60 + sec) * 1000 + ms) * 1000;
          Binary(out, [&] { PutBE(out, static_cast<uint64_t>(micros), 8); });
          return true;
        }
        // Text ends at trailing zero bytes (padding); a zero byte inside has no place in text.
        while (!text.empty() && text.back() == '\0') text.pop_back();
        if (text.find('\0') != std::string::npos)
          return Refuse(out, column, "the text holds a zero byte");
        if (binary_)
          Binary(out, [&] { out += text; });
        else
          AppendCopyText(out, text);
        return true;
      }
    }
    return true;
  }

  tolvern::KXO_dBHandler& table_;
  const SqlTablePlan& plan_;
  SqlRecordReader reader_;
  bool binary_;
  std::vector<SqlValue> values_;
};

void ReportSkipped(const SqlTablePlan& plan) {
  for (const std::string& skipped : plan.skippedTags)
    std::fprintf(stderr, "fendral-cli: %s: skipped tag %s\n", plan.name.c_str(), skipped.c_str());
}

const char* kSessionSettings[] = {"SET client_min_messages = warning",
                                  "SET standard_conforming_strings = on"};

// The rows of a table through `flush` in pieces of about kFlushAt bytes; false when some
// value was left out.
template <typename Flush>
bool CopyRows(SqlSource& source, bool binary, Flush&& flush) {
  CopyLineWriter writer(*source.table, *source.codec, source.plan, binary);
  std::string out;
  out.reserve(kFlushAt + 4096);
  if (binary) {
    out.append("PGCOPY\n\377\r\n\0", 11);
    PutBE(out, 0, 4);  // flags
    PutBE(out, 0, 4);  // header extension
  }
  bool ok = true;
  ForEachRecord(*source.table, [&] {
    ok &= writer.Append(out);
    if (out.size() >= kFlushAt) {
      flush(out);
      out.clear();
    }
  });
  if (binary) PutBE(out, 0xFFFF, 2);
  if (!out.empty()) flush(out);
  return ok;
}

int WriteScript(const Arguments& args, const std::vector<std::string>& names) {
  bool ok = true;
  auto write = [](const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); };
  write("SET client_encoding = 'UTF8';\n");
  for (const char* setting : kSessionSettings) write(std::string(setting) + ";\n");
  write("BEGIN;\n");
  for (size_t i = 0; i < names.size(); ++i) {
    SqlSource source = OpenSqlSource(args.positional[i], args, names[i]);
    const TableSql sql = SqlFor(source.plan, args.Flag("--drop"));
    for (const auto& statement : sql.before) write(statement + ";\n");
    if (!args.Flag("--schema-only")) {
      write(sql.copy + ";\n");
      ok &= CopyRows(source, false, write);
      write("\\.\n");
    }
    for (const auto& statement : sql.after) write(statement + ";\n");
    ReportSkipped(source.plan);
  }
  write("COMMIT;\n");
  std::fflush(stdout);
  return ok ? 0 : 2;
}

// A connection; closing it before COMMIT discards the transaction.
class Connection {
 public:
  // A connection that fails is closed here: the destructor does not run when the
  // constructor throws.
  explicit Connection(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    try {
      if (!conn_ || PQstatus(conn_) != CONNECTION_OK)
        Fail("cannot connect to the PostgreSQL server");
      if (PQsetClientEncoding(conn_, "UTF8") != 0) Fail("cannot use UTF-8");
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~Connection() { PQfinish(conn_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Exec(const std::string& sql, ExecStatusType expected = PGRES_COMMAND_OK) {
    Check(PQexec(conn_, sql.c_str()), expected);
  }
  void Put(const std::string& data) {
    if (PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) != 1) Fail("");
  }
  void EndCopy() {
    if (PQputCopyEnd(conn_, nullptr) != 1) Fail("");
    while (PGresult* result = PQgetResult(conn_)) Check(result, PGRES_COMMAND_OK);
  }

 private:
  void Check(PGresult* result, ExecStatusType expected) {
    const bool good = result && PQresultStatus(result) == expected;
    const std::string message = result ? PQresultErrorMessage(result) : "";
    PQclear(result);
    if (!good) Fail("", message);
  }
  [[noreturn]] void Fail(const std::string& context, std::string message = "") {
    if (message.empty() && conn_) message = PQerrorMessage(conn_);
    if (message.empty()) message = "out of memory";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
      message.pop_back();
    throw std::runtime_error("PostgreSQL: " + (context.empty() ? "" : context + ": ") + message);
  }

  PGconn* conn_;
};

int LoadDirectly(const Arguments& args, const std::vector<std::string>& names,
                 const std::string& conninfo) {
  Connection conn(conninfo);
  for (const char* setting : kSessionSettings) conn.Exec(setting);
  conn.Exec("BEGIN");
  bool ok = true;
  for (size_t i = 0; i < names.size(); ++i) {
    SqlSource source = OpenSqlSource(args.positional[i], args, names[i]);
    const TableSql sql = SqlFor(source.plan, args.Flag("--drop"));
    for (const auto& statement : sql.before) conn.Exec(statement);
    if (!args.Flag("--schema-only")) {
      conn.Exec(sql.copy + " WITH (FORMAT binary)", PGRES_COPY_IN);
      ok &= CopyRows(source, true, [&](const std::string& data) { conn.Put(data); });
      conn.EndCopy();
    }
    for (const auto& statement : sql.after) conn.Exec(statement);
    ReportSkipped(source.plan);
  }
  conn.Exec("COMMIT");
  return ok ? 0 : 2;
}

}  // namespace

int ExportPostgres(const Arguments& args) {
  const std::vector<std::string> names = SqlTableNames(args);
  if (args.positional.size() > 1 && (!args.Options("--index").empty() || args.Option("--tag")))
    throw UsageError{"--index and --tag belong to one table: export one table at a time"};
  const auto to = args.Option("--to");
  if (!to) return WriteScript(args, names);
  const bool url = to->rfind("postgresql://", 0) == 0 || to->rfind("postgres://", 0) == 0;
  if (!url && to->find('=') == std::string::npos)
    throw UsageError{"--to takes a postgresql:// URL or a key=value connection string"};
  return LoadDirectly(args, names, *to);
}

}  // namespace fendral::cli
