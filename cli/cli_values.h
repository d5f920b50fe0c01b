// Field values of a table as JSON, and JSON values back into fields: the one mapping
// that `dump` writes and `import` reads. The values are read and stored through the
// engine's field access; this file only turns them into JSON and back.
#pragma once

#include <string>
#include <vector>

#include "json.h"
#include "kx6_fld.h"
#include "text_codec.h"

namespace fendral::cli {

// Writes the current record of `table` as a dump line.
class RecordWriter {
 public:
  RecordWriter(tolvern::KXO_dBaseFld& table, const TextCodec& codec);
  // Appends {"recno": N, "deleted": b, "fields": {...}} to `out`. A value that cannot
  // be read (a damaged memo, a number or date that is not one) is written as null with
  // a warning on standard error; the answer is then false.
  bool Write(std::string& out);

 private:
  void AppendValue(std::string& out, const tolvern::DbfFieldInfo& field, bool& ok);
  void AppendMemo(std::string& out, const tolvern::DbfFieldInfo& field, bool binary, bool& ok);
  void Warn(const tolvern::DbfFieldInfo& field, const std::string& what);

  tolvern::KXO_dBaseFld& table_;
  const TextCodec& codec_;
  std::vector<std::string> keys_;  // JSON-quoted field names
  tolvern::TkxFieldValue value_;   // reused for every field
};

// Stores dump values into the record buffer of `table`.
class RecordReader {
 public:
  RecordReader(tolvern::KXO_dBaseFld& table, const TextCodec& codec);
  // Blanks the buffer and fills it from the "fields" object of `line`; memo values are
  // kept aside until WriteMemos. Throws std::runtime_error with a reason for a value a
  // field cannot take (engine errors pass through as they are).
  void Fill(const JsonValue& line);
  // Writes the pending memos of the current record and stores their block numbers.
  void WriteMemos();

 private:
  void Put(const tolvern::DbfFieldInfo& field, const JsonValue& value);

  tolvern::KXO_dBaseFld& table_;
  const TextCodec& codec_;
  bool visual_;
  std::vector<std::pair<int, std::string>> pendingMemos_;
};

// Base64 without line breaks.
std::string Base64Encode(const std::string& bytes);
// Decodes base64 (padding optional, no blanks); false on a character outside the set.
bool Base64Decode(const std::string& text, std::string& out);

}  // namespace fendral::cli
