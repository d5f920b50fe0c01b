// What the SQL exports share: the columns a table becomes, the indexes its tags become,
// and each record's values in a typed form both databases take.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli_common.h"
#include "kx6_dbsy.h"
#include "text_codec.h"

namespace fendral::cli {

// What a column holds, chosen from the field's type, width and decimals.
enum class SqlKind {
  kText,         // C: UTF-8 text
  kInteger,      // N without decimals, width <= 18; I
  kExactNumber,  // N with decimals or wider: the number's exact digits
  kReal,         // F; B of 0x30 tables
  kCurrency,     // Y of 0x30 tables: exact, four decimals
  kDate,         // D: YYYY-MM-DD
  kTimestamp,    // T of 0x30 tables: YYYY-MM-DDTHH:MM:SS.mmm
  kLogical,      // L
  kMemoText,     // M
  kBlob,         // binary memos (G, P, dBase IV B, 0x30 W) and types read as raw bytes
};

struct SqlColumn {
  std::string name;  // lower case, unique in the table, never _recno or _deleted
  int field = 0;     // the field's number
  SqlKind kind = SqlKind::kText;
  char type = 'C';  // the field's type letter
  int length = 0;
  int decimals = 0;
};

// An index made from a tag: the columns in key order, each in upper() when the key says.
struct SqlIndex {
  std::string name;
  std::vector<std::pair<std::string, bool>> columns;  // column, upper()
  bool descending = false;
};

// One exported table: its name, columns and indexes, and the tags that became none.
struct SqlTablePlan {
  std::string name;
  std::vector<SqlColumn> columns;
  bool withDeleted = false;
  std::vector<SqlIndex> indexes;
  std::vector<std::string> skippedTags;  // "NAME: reason"
};

inline constexpr const char* kRecnoColumn = "_recno";
inline constexpr const char* kDeletedColumn = "_deleted";

// A table opened for export with the options of the command (production index, --index,
// --tag, --filter); deleted records hidden unless --with-deleted.
struct SqlSource {
  std::unique_ptr<tolvern::KXO_dBHandler> owned;
  tolvern::KXO_dBHandler* table = nullptr;
  std::unique_ptr<TextCodec> codec;
  SqlTablePlan plan;
};
SqlSource OpenSqlSource(const std::string& path, const Arguments& args, const std::string& name);
// The plan of the SQL table `name` for `table`, open with its indexes.
SqlTablePlan PlanSqlTable(tolvern::KXO_dBHandler& table, const TextCodec& codec, bool withDeleted,
                          const std::string& name);

// The SQL table names of the TABLE arguments: --table NAME for a single table, otherwise
// each file's name without extension in lower case. Two tables of one name are refused.
std::vector<std::string> SqlTableNames(const Arguments& args);

// `name` as an SQL identifier: as it is when it is a plain lower-case name that is not a
// keyword, otherwise in double quotes.
std::string QuoteIdentifier(const std::string& name,
                            const std::function<bool(const std::string&)>& isKeyword);

// One value of the current record.
struct SqlValue {
  enum class Kind { kNull, kNumber, kText, kLogical, kBlob };
  Kind kind = Kind::kNull;
  std::string text;  // number digits, UTF-8 text (dates and timestamps in ISO form), bytes
  bool logical = false;
};

// Reads the current record's values in the plan's column order. A value that cannot be
// read becomes null with a warning on standard error, as `dump` does.
class SqlRecordReader {
 public:
  SqlRecordReader(tolvern::KXO_dBHandler& table, const TextCodec& codec, const SqlTablePlan& plan);
  // False when some value could not be read.
  bool Read(std::vector<SqlValue>& values);
  // The same warning for a value a database cannot take.
  void Warn(const SqlColumn& column, const std::string& what);

 private:
  void ReadMemo(const SqlColumn& column, SqlValue& value, bool& ok);
  tolvern::KXO_dBHandler& table_;
  const TextCodec& codec_;
  const SqlTablePlan& plan_;
  tolvern::TkxFieldValue field_;
  std::vector<uint8_t> memo_;
};

// Walks the records of `table` in its order and filter, calling `each` for every one.
void ForEachRecord(tolvern::KXO_dBHandler& table, const std::function<void()>& each);

// Whether yyyymmdd names a day of the calendar (year 1 to 9999).
bool IsCalendarDate(const std::string& digits);
// Whether a number's text fits numeric(precision, scale) without rounding.
bool FitsNumeric(const std::string& text, int precision, int scale);

}  // namespace fendral::cli
