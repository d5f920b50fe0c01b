// CSV both ways (RFC 4180): `export --format csv` writes a header row and one row per
// record; `import --format csv` maps columns by header name, checks the whole file and
// only then appends its records.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_common.h"
#include "cli_values.h"
#include "exchange.h"
#include "exchange_output.h"
#include "exchange_values.h"
#include "json.h"
#include "kx6_dbsy.h"
#include "kx6_progress.h"
#include "kx6_tool.h"
#include "platform/pf_text.h"
#include "table_open.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;
constexpr size_t kFlushAt = 64 * 1024;
constexpr const char* kDeletedColumn = "_deleted";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsUtf8Name(const std::string& name) {
  const std::string upper = Upper(name);
  return upper == "UTF-8" || upper == "UTF8";
}

// For CSV, --encoding names the character set of the file; the table's own code page
// comes from its language mark or --table-encoding. The table is opened with arguments
// in which --encoding means the table's code page, as every other command takes it.
Arguments TableArguments(const Arguments& args) {
  Arguments table = args;
  table.options.erase("--encoding");
  if (auto page = args.Option("--table-encoding")) table.options.emplace("--encoding", *page);
  return table;
}

// The file's character set by its name: UTF-8 (in any spelling) or a code page.
std::string FileEncoding(const std::string& name) {
  if (!IsUtf8Name(name) && !tolvern::platform::IsKnownCodePage(name))
    throw UsageError{"unknown encoding " + name};
  return IsUtf8Name(name) ? "UTF-8" : name;
}

char Delimiter(const Arguments& args) {
  const std::string text = args.Option("--delimiter").value_or(",");
  if (text == "\\t" || text == "tab") return '\t';
  if (text.size() != 1 || text[0] == '"' || text[0] == '\r' || text[0] == '\n' ||
      static_cast<unsigned char>(text[0]) >= 0x80)
    throw UsageError{"--delimiter takes one ASCII character other than a quote or a line end"};
  return text[0];
}

// Appends `value` as one CSV cell: quoted when it holds the delimiter, a quote, CR or LF
// (or starts or ends with a blank, which some readers would trim), quotes doubled.
void AppendCell(std::string& out, const std::string& value, char delimiter) {
  bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ');
  for (char c : value) {
    if (c == delimiter || c == '"' || c == '\r' || c == '\n') {
      quote = true;
      break;
    }
  }
  if (!quote) {
    out += value;
    return;
  }
  out += '"';
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Reads CSV records from a file: quoted cells may hold delimiters, quotes (doubled) and
// line ends; rows end at CRLF, LF or a lone CR.
class CsvReader {
 public:
  CsvReader(const std::string& path, char delimiter) : delimiter_(delimiter) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw std::runtime_error("Cannot find file " + path);
    buffer_.resize(1 << 16);
    Rewind();
  }
  ~CsvReader() {
    if (file_) std::fclose(file_);
  }
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // The file's size in bytes, and how far the rows read so far reach into it.
  int64_t Size() {
    const long at = std::ftell(file_);
    std::fseek(file_, 0, SEEK_END);
    const long size = std::ftell(file_);
    std::fseek(file_, at, SEEK_SET);
    return size;
  }
  int64_t Offset() const { return offset_ + static_cast<int64_t>(pos_); }

  // Back to the file's start, past a byte-order mark.
  void Rewind() {
    std::rewind(file_);
    size_ = pos_ = 0;
    offset_ = 0;
    line_ = 1;
    if (Peek() == 0xEF) {
      Take();
      if (Peek() == 0xBB) {
        Take();
        if (Peek() == 0xBF) {
          Take();
          return;
        }
      }
      std::rewind(file_);
      size_ = pos_ = 0;
      offset_ = 0;
    }
  }

  // The next row's cells; false at the end of the file. Blank lines are passed over.
  // `startLine` is the line the row starts on. Throws std::runtime_error for a row that
  // breaks the quoting rules.
  bool Next(std::vector<std::string>& cells, long& startLine) {
    while (true) {
      if (Peek() < 0) return false;
      startLine = line_;
      size_t count = 0;
      bool blank = ReadRow(cells, count);
      if (blank) continue;
      cells.resize(count);
      return true;
    }
  }

 private:
  int Peek() {
    if (pos_ == size_) {
      offset_ += static_cast<int64_t>(size_);
      size_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
      pos_ = 0;
      if (size_ == 0) return -1;
    }
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  int Take() {
    const int c = Peek();
    if (c >= 0) ++pos_;
    return c;
  }
  // Consumes a line end whose first byte `c` was taken.
  void EndLine(int c) {
    if (c == '\r' && Peek() == '\n') Take();
    ++line_;
  }

  // Reads one row; answers true for a blank line.
  bool ReadRow(std::vector<std::string>& cells, size_t& count) {
    count = 0;
    bool anything = false;
    while (true) {
      if (cells.size() <= count) cells.emplace_back();
      std::string& cell = cells[count++];
      cell.clear();
      const long cellLine = line_;
      int c = Take();
      if (c == '"') {
        anything = true;
        while (true) {
          c = Take();
          if (c < 0)
            throw std::runtime_error("line " + std::to_string(cellLine) + ", column " +
                                     std::to_string(count) + ": a quoted value is not closed");
          if (c == '"') {
            if (Peek() == '"') {
              Take();
              cell += '"';
              continue;
            }
            break;
          }
          if (c == '\n' || (c == '\r' && Peek() != '\n')) ++line_;
          cell += static_cast<char>(c);
        }
        c = Take();
        if (c != delimiter_ && c != '\r' && c != '\n' && c >= 0)
          throw std::runtime_error("line " + std::to_string(line_) + ", column " +
                                   std::to_string(count) +
                                   ": text after the closing quote of a value");
      } else {
        while (c >= 0 && c != delimiter_ && c != '\r' && c != '\n') {
          if (c == '"')
            throw std::runtime_error("line " + std::to_string(line_) + ", column " +
                                     std::to_string(count) +
                                     ": a quote inside a value that does not start with one");
          cell += static_cast<char>(c);
          c = Take();
        }
        if (!cell.empty()) anything = true;
      }
      if (c == delimiter_) {
        anything = true;
        continue;
      }
      if (c == '\r' || c == '\n') EndLine(c);
      return !anything;
    }
  }

  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  size_t size_ = 0;
  size_t pos_ = 0;
  int64_t offset_ = 0;  // of the buffer's first byte in the file
  long line_ = 1;
  char delimiter_;
};

bool IsNumberText(const std::string& s) {
  size_t i = 0, digits = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) ++exponent;
    if (exponent == 0) return false;
  }
  return i == s.size();
}

// How a column's text goes into its field.
enum class ColumnKind { kText, kNumber, kLogical, kTrimmed, kDeleted };

struct Column {
  std::string name;  // as in the header (UTF-8)
  ColumnKind kind = ColumnKind::kText;
  const tolvern::DbfFieldInfo* field = nullptr;
};

// Turns CSV rows into the value objects the record reader stores.
class CsvRows {
 public:
  CsvRows(tolvern::KXO_dBHandler& table, const TextCodec& codec, std::string fileEncoding)
      : table_(table), codec_(codec), fileEncoding_(std::move(fileEncoding)) {}

  // Maps the header's names to fields; refuses unknown and repeated names.
  void SetHeader(std::vector<std::string> names) {
    if (fileEncoding_ != "UTF-8")
      for (auto& n : names) n = tolvern::platform::ToUtf8(n, fileEncoding_);
    std::vector<std::string> unknown;
    const std::vector<const tolvern::DbfFieldInfo*> named = FieldsNamed(table_, codec_, names);
    columns_.clear();
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string& name = names[i];
      for (const Column& before : columns_)
        if (Upper(before.name) == Upper(name) &&
            (before.field == named[i] || before.kind == ColumnKind::kDeleted))
          throw std::runtime_error("line 1: the column " + name + " is named twice");
      Column column{name, ColumnKind::kText, named[i]};
      if (!named[i] && name == kDeletedColumn) {
        column.kind = ColumnKind::kDeleted;
      } else if (!named[i]) {
        unknown.push_back(name);
      } else {
        column.kind = KindOf(*named[i]);
      }
      columns_.push_back(std::move(column));
    }
    if (!unknown.empty()) {
      std::string list;
      for (const auto& n : unknown) list += (list.empty() ? "" : ", ") + n;
      throw std::runtime_error("line 1: the table has no field for the column" +
                               std::string(unknown.size() > 1 ? "s " : " ") + list);
    }
  }

  size_t ColumnCount() const { return columns_.size(); }

  // Builds the value object of one row and whether it marks the record deleted. Throws
  // std::runtime_error naming the line and column for a value that is not one.
  JsonValue Row(std::vector<std::string>& cells, long line, bool& deleted) {
    if (cells.size() != columns_.size())
      throw std::runtime_error("line " + std::to_string(line) + ": " +
                               std::to_string(cells.size()) + " values, the header names " +
                               std::to_string(columns_.size()) + " columns");
    JsonValue row;
    row.kind = JsonValue::Kind::Object;
    row.members.emplace_back("fields", JsonValue{});
    JsonValue& fields = row.members.back().second;
    fields.kind = JsonValue::Kind::Object;
    deleted = false;
    for (size_t i = 0; i < cells.size(); ++i) {
      std::string& cell = cells[i];
      if (fileEncoding_ != "UTF-8") cell = tolvern::platform::ToUtf8(cell, fileEncoding_);
      const Column& column = columns_[i];
      JsonValue value;
      std::string text = column.kind == ColumnKind::kText ? cell : tolvern::Trim(cell);
      if (column.kind == ColumnKind::kDeleted) {
        const std::string flag = Upper(text);
        if (flag == "TRUE" || flag == "T" || flag == "1" || flag == "Y" || flag == "*") {
          deleted = true;
        } else if (!(flag.empty() || flag == "FALSE" || flag == "F" || flag == "0" ||
                     flag == "N")) {
          throw std::runtime_error(Where(line, i) + "\"" + cell + "\" is not true or false");
        }
        continue;
      }
      if (text.empty()) continue;  // the field stays blank
      switch (column.kind) {
        case ColumnKind::kNumber:
          if (!IsNumberText(text))
            throw std::runtime_error(Where(line, i) + "Field '" + column.name + "' cannot hold \"" +
                                     cell + "\": not a number");
          value.kind = JsonValue::Kind::Number;
          break;
        case ColumnKind::kLogical:
          if (Upper(text) == "TRUE" || Upper(text) == "FALSE") {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = Upper(text) == "TRUE";
          } else {
            value.kind = JsonValue::Kind::String;
          }
          break;
        default:
          value.kind = JsonValue::Kind::String;
          break;
      }
      value.text = std::move(text);
      fields.members.emplace_back(column.name, std::move(value));
    }
    return row;
  }

  std::string Where(long line, size_t column) const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column + 1) + " (" +
           columns_[column].name + "): ";
  }

  // The column whose value `reader` refuses in `row` (after Fill threw), or -1.
  int RefusedColumn(RecordReader& reader, const JsonValue& row) const {
    const JsonValue& fields = row.members.front().second;
    for (const auto& [name, value] : fields.members) {
      JsonValue one;
      one.kind = JsonValue::Kind::Object;
      JsonValue inner;
      inner.kind = JsonValue::Kind::Object;
      inner.members.emplace_back(name, value);
      one.members.emplace_back("fields", std::move(inner));
      try {
        reader.Fill(one);
      } catch (const std::exception&) {
        for (size_t i = 0; i < columns_.size(); ++i)
          if (columns_[i].name == name) return static_cast<int>(i);
      }
    }
    return -1;
  }

 private:
  ColumnKind KindOf(const tolvern::DbfFieldInfo& f) const {
    const bool binary = table_.IsBinaryField(f);
    const bool visual = table_.Version() == tolvern::kVersionVisual;
    const bool memo = f.type == 'M' || f.type == 'G' || (visual ? f.type == 'W' : f.type == 'B');
    if (memo) return ColumnKind::kText;
    if (f.type == 'N' || f.type == 'F' ||
        (binary && (f.type == 'I' || f.type == 'B' || f.type == 'Y')))
      return ColumnKind::kNumber;
    if (f.type == 'L') return ColumnKind::kLogical;
    if (f.type == 'D' || (binary && f.type == 'T')) return ColumnKind::kTrimmed;
    return ColumnKind::kText;
  }

  tolvern::KXO_dBHandler& table_;
  const TextCodec& codec_;
  std::string fileEncoding_;
  std::vector<Column> columns_;
};

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

namespace {

// Writes the records of `table` as CSV rows to `out` (`path` names the file in errors; empty
// for standard output).
ExchangeResult WriteCsv(tolvern::KXO_dBHandler& table, const TextCodec& codec,
                        const ExchangeOptions& options, std::FILE* target, const std::string& path,
                        tolvern::TkxProgress* progress) {
  const char delimiter = options.delimiter;
  const std::string fileEncoding = FileEncoding(options.encoding);
  const bool withDeleted = options.withDeleted;
  const char* lineEnd = options.lf ? "\n" : "\r\n";
  ExchangeResult result;
  tolvern::TkxProgressScope scope(progress, tolvern::kStatusExport, table.RecordCount());

  std::string out, row, value, encoded;
  out.reserve(kFlushAt + 4096);
  // A row leaves in the file's encoding; a character it has not is an error.
  // `record` 0 is the header row.
  const bool utf8 = fileEncoding == "UTF-8";
  auto emit = [&](int32_t record) {
    if (utf8) {
      out += row;
    } else {
      if (!tolvern::platform::FromUtf8(row, fileEncoding, encoded))
        throw std::runtime_error(
            (record ? "record " + std::to_string(record) : std::string("the header")) +
            " has characters that " + fileEncoding + " cannot hold");
      out += encoded;
    }
    if (out.size() >= kFlushAt) {
      WriteAll(target, out, path);
      out.clear();
    }
  };
  const auto& fields = table.Fields();
  if (options.header) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) row += delimiter;
      AppendCell(row, codec.ToUtf8(fields[i].name), delimiter);
    }
    if (withDeleted) {
      if (!fields.empty()) row += delimiter;
      row += kDeletedColumn;
    }
    row += lineEnd;
    emit(0);
  }
  ValueText values(table, codec);
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
    row.clear();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) row += delimiter;
      values.Read(fields[i], value);
      AppendCell(row, value, delimiter);
    }
    if (withDeleted) {
      if (!fields.empty()) row += delimiter;
      row += table.IsDeleted() ? "true" : "false";
    }
    row += lineEnd;
    emit(table.CurrentRecord());
    scope.Step(++result.records);
  }
  WriteAll(target, out, path);
  result.clean = values.Clean();
  return result;
}

// Checks every row of `options.file` against `table`, then appends them.
ExchangeResult ReadCsvInto(tolvern::KXO_dBHandler& table, const TextCodec& codec,
                           const ExchangeOptions& options, tolvern::TkxProgress* progress,
                           int64_t* appended) {
  CsvReader reader(options.file, options.delimiter);
  RecordReader records(table, codec);
  CsvRows rows(table, codec, FileEncoding(options.encoding));
  ExchangeResult result;
  const int64_t size = std::max<int64_t>(reader.Size(), 1);
  tolvern::TkxProgressScope scope(progress, tolvern::kStatusImport, 2 * size);

  std::vector<std::string> cells;
  long line = 0;
  // Two passes over the file: the first stores every row into the record buffer only, so
  // that a refused value stops the import before anything is appended; the second appends.
  for (int pass = 0; pass < 2; ++pass) {
    reader.Rewind();
    if (!reader.Next(cells, line)) return result;  // an empty file holds no records
    rows.SetHeader(cells);
    while (reader.Next(cells, line)) {
      bool deleted = false;
      const JsonValue row = rows.Row(cells, line, deleted);
      try {
        records.Fill(row);
      } catch (const std::exception& e) {
        const int column = rows.RefusedColumn(records, row);
        throw std::runtime_error((column >= 0 ? rows.Where(line, static_cast<size_t>(column))
                                              : "line " + std::to_string(line) + ": ") +
                                 e.what());
      }
      if (pass == 1) {
        records.WriteMemos();
        table.AppendRecord();
        if (deleted) table.DeleteRecord();
        ++result.records;
        if (appended) *appended = result.records;
      }
      scope.Step(pass * size + reader.Offset());
    }
  }
  table.FlushFile();
  return result;
}

}  // namespace

int ExportCsv(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{
        "usage: fendral-cli export TABLE --format csv [--delimiter C] [--no-header] "
        "[--lf] [--with-deleted] [--encoding CP]"};
  ExchangeOptions options;
  options.delimiter = Delimiter(args);
  options.encoding = FileEncoding(args.Option("--encoding").value_or("UTF-8"));
  options.header = !args.Flag("--no-header");
  options.lf = args.Flag("--lf");
  options.withDeleted = args.Flag("--with-deleted");
  const Arguments tableArgs = TableArguments(args);
  auto opened = OpenTable(args.positional[0], tableArgs, OpenOptions{});
  tolvern::KXO_dBHandler& table = *opened;
  if (!options.withDeleted) table.SetShowDeleted(false);
  const TextCodec codec(TableEncoding(tableArgs, table.CodePageMark()));
  if (!table.CurrentOrder()) table.SetReadAhead(kReadAheadBytes);
  const ExchangeResult result = WriteCsv(table, codec, options, stdout, "", nullptr);
  std::fflush(stdout);
  return result.clean ? 0 : 2;
}

int ImportCsv(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{
        "usage: fendral-cli import TABLE FILE.csv --format csv [--delimiter C] "
        "[--encoding CP]"};
  ExchangeOptions options;
  options.delimiter = Delimiter(args);
  options.encoding = FileEncoding(args.Option("--encoding").value_or("UTF-8"));
  options.file = args.positional[1];
  if (!std::filesystem::exists(options.file))
    throw std::runtime_error("Cannot find file " + options.file);
  const Arguments tableArgs = TableArguments(args);
  OpenOptions open;
  open.readWrite = true;
  open.productionIndex = true;
  auto opened = OpenTable(args.positional[0], tableArgs, open);
  tolvern::KXO_dBHandler& table = *opened;
  const TextCodec codec(TableEncoding(tableArgs, table.CodePageMark()));
  try {
    ReadCsvInto(table, codec, options, nullptr, nullptr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", OneLine(e.what()).c_str());
    return 1;
  }
  return 0;
}

ExchangeResult ExportCsvFile(const ExchangeOptions& options, tolvern::TkxProgress* progress) {
  ExchangeTable table(options, false);
  PendingFile file(options.file);
  ExchangeResult result =
      WriteCsv(*table, table.Codec(), options, file.Stream(), options.file, progress);
  file.Commit();
  return result;
}

ExchangeResult ImportCsvFile(const ExchangeOptions& options, tolvern::TkxProgress* progress,
                             int64_t* appended) {
  if (!std::filesystem::exists(options.file))
    throw std::runtime_error("Cannot find file " + options.file);
  ExchangeTable table(options, true);
  try {
    return ReadCsvInto(*table, table.Codec(), options, progress, appended);
  } catch (const tolvern::ETolvernCancelled&) {
    throw;
  } catch (const tolvern::ETolvernError&) {
    throw;
  } catch (const std::exception& e) {
    throw std::runtime_error(OneLine(e.what()));
  }
}

}  // namespace fendral::cli
