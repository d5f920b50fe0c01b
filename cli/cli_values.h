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
  // Appends {"recno": N, "deleted": b, "fields": {...}} to `out` (without the "deleted"
  // member when `deletedMember` is false). A value that cannot
  // be read (a damaged memo, a number or date that is not one) is written as null with
  // a warning on standard error; the answer is then false.
  bool Write(std::string& out, bool deletedMember = true);

 private:
  void AppendValue(std::string& out, const tolvern::DbfFieldInfo& field, bool& ok);
  void AppendMemo(std::string& out, const tolvern::DbfFieldInfo& field, bool binary, bool& ok);
  void Warn(const tolvern::DbfFieldInfo& field, const std::string& what);

  tolvern::KXO_dBaseFld& table_;
  const TextCodec& codec_;
  std::vector<std::string> keys_;  // JSON-quoted field names
  tolvern::TkxFieldValue value_;   // reused for every field
};

// The memos of one record write, as the window's dataset writes them: each new text goes
// into new blocks before the record is written (the record on disk keeps its memos until
// then), and the blocks it replaces go back to the memo file after the record is written.
class MemoUpdate {
 public:
  MemoUpdate(tolvern::KXO_dBaseFld& table, const TextCodec& codec);
  void Set(int field, std::string bytes);
  void Clear();
  // Writes the pending memos into new blocks and stores their block numbers in the record
  // buffer (an empty text leaves the field without memo). Throws std::runtime_error naming
  // the field when the memo file does not take one.
  void WriteNew();
  // Frees the blocks of the memos that the record written since WriteNew no longer names.
  void FreeReplaced();

 private:
  tolvern::KXO_dBaseFld& table_;
  const TextCodec& codec_;
  std::vector<std::pair<int, std::string>> pending_;
  std::vector<std::pair<int, int32_t>> replaced_;  // field, old block
};

// Stores `bytes` (a value as typed, in the table's code page; `shown` is how the user wrote
// it) into `field` of the record buffer, as the window stores what the user types: text up
// to the field's width, a number that fits the field, a date that exists (YYYY-MM-DD or
// YYYYMMDD), a logical T, F, Y, N or ?, a memo's text (kept in `memos`); an empty value
// blanks the field. Anything else throws std::runtime_error naming the field and the value,
// before the field changes.
void PutEnteredValue(tolvern::KXO_dBaseFld& table, const tolvern::DbfFieldInfo& field,
                     const std::string& bytes, const std::string& shown, MemoUpdate& memos,
                     const TextCodec& codec);

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
  bool repeatedNames_;  // two fields of the table share a name
  MemoUpdate memos_;
};

// The fields that `names` (UTF-8, in order) go into: each to the field of that name, in
// any case; nullptr where no field has it. A table may hold several fields of one name:
// the names that repeat it go into them in order, into the last ones when the names are
// fewer (JSON readers keep the last of repeated members).
std::vector<const tolvern::DbfFieldInfo*> FieldsNamed(const tolvern::KXO_dBaseFld& table,
                                                      const TextCodec& codec,
                                                      const std::vector<std::string>& names);

// Base64 without line breaks.
std::string Base64Encode(const std::string& bytes);
// Decodes base64 (padding optional, no blanks); false on a character outside the set.
bool Base64Decode(const std::string& text, std::string& out);

}  // namespace fendral::cli
