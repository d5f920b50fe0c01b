// export TABLE... --format sqlite --to FILE: one SQLite table per table, written in one
// transaction through a prepared statement, with an index for every tag whose key is a
// field or a list of fields.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "exchange.h"
#include "exchange_output.h"
#include "sql_export.h"

namespace fendral::cli {

namespace {

constexpr int kRowsPerInsert = 100;
constexpr int kMaxParameters = 32000;  // SQLite takes up to 32766 since 3.32

bool IsSqliteKeyword(const std::string& name) {
  return sqlite3_keyword_check(name.data(), static_cast<int>(name.size())) != 0;
}

std::string Id(const std::string& name) { return QuoteIdentifier(name, IsSqliteKeyword); }

const char* SqliteType(SqlKind kind) {
  switch (kind) {
    case SqlKind::kInteger:
    case SqlKind::kLogical:
      return "INTEGER";
    case SqlKind::kReal:
      return "REAL";
    case SqlKind::kBlob:
      return "BLOB";
    default:
      return "TEXT";
  }
}

// The open database; closing it without Commit leaves the file as it was.
class Database {
 public:
  explicit Database(const std::string& path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      // A failed open still gives a handle to close; the destructor does not run.
      try {
        Fail("cannot open " + path);
      } catch (...) {
        sqlite3_close_v2(db_);
        throw;
      }
    }
  }
  ~Database() { sqlite3_close_v2(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail("");
  }
  [[noreturn]] void Fail(const std::string& context) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    throw std::runtime_error("SQLite: " + (context.empty() ? message : context + ": " + message));
  }
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(Database& db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) db.Fail("");
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* Handle() const { return stmt_; }
  void Run() {
    if (sqlite3_step(stmt_) != SQLITE_DONE) db_.Fail("");
    sqlite3_reset(stmt_);
  }

 private:
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

void Bind(sqlite3_stmt* stmt, int slot, SqlKind kind, const SqlValue& value) {
  using Kind = SqlValue::Kind;
  const std::string& text = value.text;
  switch (value.kind) {
    case Kind::kNull:
      sqlite3_bind_null(stmt, slot);
      return;
    case Kind::kLogical:
      sqlite3_bind_int(stmt, slot, value.logical ? 1 : 0);
      return;
    case Kind::kBlob:
      sqlite3_bind_blob64(stmt, slot, text.data(), text.size(), SQLITE_STATIC);
      return;
    case Kind::kNumber:
      if (kind == SqlKind::kInteger) {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size()) {
          sqlite3_bind_int64(stmt, slot, n);
          return;
        }
      } else if (kind == SqlKind::kReal) {
        double d = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
        if (ec == std::errc() && end == text.data() + text.size()) {
          sqlite3_bind_double(stmt, slot, d);
          return;
        }
      }
      // Exact digits; a column of numbers converts what it can by its type.
      [[fallthrough]];
    case Kind::kText:
      sqlite3_bind_text64(stmt, slot, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
      return;
  }
}

// Answers false when some value could not be read (written as null with a warning).
// `records` counts the rows written; `progress` is told of each.
bool ExportTable(Database& db, tolvern::KXO_dBHandler& source, const TextCodec& codec,
                 const SqlTablePlan& plan, bool drop, bool schemaOnly, int64_t& records,
                 tolvern::TkxProgress* progress) {
  const std::string table = Id(plan.name);
  if (drop) db.Exec("DROP TABLE IF EXISTS " + table);
  std::string create = "CREATE TABLE " + table + " (" + kRecnoColumn + " INTEGER NOT NULL";
  const int perRow = static_cast<int>(plan.columns.size()) + (plan.withDeleted ? 2 : 1);
  if (plan.withDeleted) create += std::string(", ") + kDeletedColumn + " INTEGER NOT NULL";
  for (const SqlColumn& c : plan.columns) create += ", " + Id(c.name) + " " + SqliteType(c.kind);
  db.Exec(create + ")");

  bool damaged = false;
  if (!schemaOnly) {
    tolvern::TkxProgressScope scope(progress, tolvern::kStatusExport, source.RecordCount());
    // Rows go in groups through one statement of many VALUES lists: far fewer statement
    // runs than rows.
    const int batch = std::max(1, std::min(kRowsPerInsert, kMaxParameters / perRow));
    auto insertSql = [&](int rows) {
      std::string row = "(?";
      for (int i = 1; i < perRow; ++i) row += ",?";
      row += ")";
      std::string sql = "INSERT INTO " + table + " VALUES " + row;
      for (int r = 1; r < rows; ++r) sql += "," + row;
      return sql;
    };
    struct Row {
      int64_t recno = 0;
      bool deleted = false;
      std::vector<SqlValue> values;
    };
    std::vector<Row> rows(static_cast<size_t>(batch));
    auto run = [&](Statement& statement, int count) {
      sqlite3_stmt* stmt = statement.Handle();
      int slot = 1;
      for (int r = 0; r < count; ++r) {
        const Row& row = rows[static_cast<size_t>(r)];
        sqlite3_bind_int64(stmt, slot++, row.recno);
        if (plan.withDeleted) sqlite3_bind_int(stmt, slot++, row.deleted ? 1 : 0);
        for (size_t i = 0; i < row.values.size(); ++i)
          Bind(stmt, slot++, plan.columns[i].kind, row.values[i]);
      }
      statement.Run();
    };
    Statement full(db, insertSql(batch));
    SqlRecordReader reader(source, codec, plan);
    int pending = 0;
    ForEachRecord(source, [&] {
      Row& row = rows[static_cast<size_t>(pending)];
      damaged |= !reader.Read(row.values);
      row.recno = source.CurrentRecord();
      row.deleted = source.IsDeleted();
      if (++pending == batch) {
        run(full, pending);
        pending = 0;
      }
      scope.Step(++records);
    });
    if (pending > 0) {
      Statement tail(db, insertSql(pending));
      run(tail, pending);
    }
  }
  for (const SqlIndex& index : plan.indexes) {
    std::string sql = "CREATE INDEX " + Id(index.name) + " ON " + table + " (";
    for (size_t i = 0; i < index.columns.size(); ++i) {
      if (i) sql += ", ";
      sql += index.columns[i].second ? "upper(" + Id(index.columns[i].first) + ")"
                                     : Id(index.columns[i].first);
      if (index.descending) sql += " DESC";
    }
    db.Exec(sql + ")");
  }
  return !damaged;
}

}  // namespace

int ExportSqlite(const Arguments& args) {
  const auto to = args.Option("--to");
  if (!to || to->empty()) throw UsageError{"--format sqlite needs --to FILE"};
  const std::vector<std::string> names = SqlTableNames(args);
  if (args.positional.size() > 1 && (!args.Options("--index").empty() || args.Option("--tag")))
    throw UsageError{"--index and --tag belong to one table: export one table at a time"};

  std::error_code ec;
  const bool existed = std::filesystem::exists(*to, ec);
  bool damaged = false;
  try {
    Database db(*to);
    // A file of our own making needs no journal: when the export fails it is removed, and
    // until the export ends nobody else has it.
    if (!existed) db.Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF");
    db.Exec("BEGIN");
    for (size_t i = 0; i < names.size(); ++i) {
      SqlSource source = OpenSqlSource(args.positional[i], args, names[i]);
      int64_t records = 0;
      damaged |= !ExportTable(db, *source.table, *source.codec, source.plan, args.Flag("--drop"),
                              args.Flag("--schema-only"), records, nullptr);
      for (const std::string& skipped : source.plan.skippedTags)
        std::fprintf(stderr, "fendral-cli: %s: skipped tag %s\n", source.plan.name.c_str(),
                     skipped.c_str());
    }
    db.Exec("COMMIT");
  } catch (...) {
    if (!existed) std::filesystem::remove(*to, ec);
    throw;
  }
  return damaged ? 2 : 0;
}

ExchangeResult ExportSqliteFile(const ExchangeOptions& options, tolvern::TkxProgress* progress) {
  ExchangeTable table(options, false);
  std::string name = std::filesystem::path(options.tablePath).stem().string();
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (name.empty()) name = "table";
  const SqlTablePlan plan = PlanSqlTable(*table, table.Codec(), options.withDeleted, name);
  PendingFile file(options.file);
  ExchangeResult result;
  {
    Database db(file.TempPath());
    // Nobody else knows the temporary file: no journal needed.
    db.Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF");
    db.Exec("BEGIN");
    result.clean =
        ExportTable(db, *table, table.Codec(), plan, false, false, result.records, progress);
    db.Exec("COMMIT");
  }
  result.skipped = plan.skippedTags;
  file.Commit();
  return result;
}

}  // namespace fendral::cli
