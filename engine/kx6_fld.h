// Typed access to the fields of a table's record buffer: lookup by name or number, raw
// text, dates, logicals, numbers (text digits, or the binary types of 0x30 tables), the
// display and user-entry text forms, blanking, deleting and recalling, and the link from
// memo fields to the memo file.
//
// Everything works on the record buffer; writing it to disk is PutRecord or AppendRecord,
// except DeleteRecord and RecallRecord, which write at once. Field text is handed over
// byte for byte (no code-page translation). Numbers are written and parsed with "." as
// decimal separator, whatever the locale.
//
// Field numbers are 1-based. A number outside 1..FieldCount() gives the neutral result
// (empty text, 0, false) without a report. Failures go through the engine's error
// procedure; when an installed procedure returns, the operation answers its neutral
// result and leaves the field as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kx6_DBF.h"

namespace tolvern {

class KXobjMemo;
class TkxDBFExpUserLink;
class TkxExpUserLink;

// What a field holds, typed, for programs that list, export or import values. Reading it
// reports nothing: a value that cannot be read is kInvalid with the reason.
enum class TkxValueKind : uint8_t {
  kNull,       // blank: no text, number, date, logical, timestamp or memo
  kText,       // a C field: `text` is its bytes without trailing blanks
  kRaw,        // a type not interpreted here: `text` is every byte of the field
  kNumber,     // `text` is the number, as stored when that is plain decimal notation
               // ("-12.50"), otherwise the shortest form that reads back as the value
  kDate,       // `text` is the eight digits yyyymmdd as stored
  kLogical,    // `logical`
  kTimestamp,  // `day` (day number) and `ms` (milliseconds of the day)
  kMemo,       // the field names a memo (ReadMemo); `binaryMemo` for bytes that are not text
  kInvalid,    // `text` is the stored text, `reason` why it is not a value
};

struct TkxFieldValue {
  TkxValueKind kind = TkxValueKind::kNull;
  std::string text;
  const char* reason = "";
  bool logical = false;
  bool binaryMemo = false;
  int32_t day = 0;
  int32_t ms = 0;
};

class KXO_dBaseFld : public KXO_dBaseDBF {
 public:
  KXO_dBaseFld(const std::string& name, bool readWrite, bool shared);
  ~KXO_dBaseFld() override;

  // Reads like the base and then clears the field-changed flags.
  void GetRecord(int32_t code) override;

  // The field named `name` (case and trailing blanks ignored); reports 1003 and answers
  // nullptr when there is none.
  virtual const DbfFieldInfo* FindField(const std::string& name);
  // Blanks the buffer: live record, blank text fields, a formatted zero in every numeric
  // field (and zero in the binary fields of 0x30 tables); every changed flag set.
  virtual void BlankRecord();
  virtual int32_t GetDateByName(const std::string& name);
  // Day number of a date field's text; 0 for blank or "00000000"; reports 1004 for a
  // text that is not a date.
  virtual int32_t GetDate(int32_t f);
  virtual bool PutDateByName(const std::string& name, int32_t day);
  // Stores yyyymmdd, or blanks for day <= 0. False for a field that is not a date.
  virtual bool PutDate(int32_t f, int32_t day);
  // Marks the current record deleted and writes it.
  virtual void DeleteRecord();
  virtual std::string GetFieldByName(const std::string& name);
  // The field's bytes as stored, up to the first zero byte; nothing trimmed.
  virtual std::string GetField(int32_t f);
  virtual bool PutFieldByName(const std::string& name, const std::string& text);
  // Stores `text` as it is (see StoreFieldText).
  virtual bool PutField(int32_t f, const std::string& text);
  virtual int32_t FieldDecimals(int32_t f);
  virtual int32_t FieldLength(int32_t f);
  virtual int32_t FieldOffset(int32_t f);
  virtual std::string FieldName(int32_t f);
  // The type character, or 0 for a number out of range.
  virtual char FieldType(int32_t f);
  // The hook for function names the expression engine does not know: `command` is
  // "FIND" or "PARSE", `result` the buffer a PARSE request fills. Answers -1 for
  // "not known"; subclasses that know the function answer otherwise.
  virtual int FormulaRequest(const std::string& command, const std::string& function,
                             std::span<uint8_t> result, char& type, bool& changed);
  virtual bool GetLogicalByName(const std::string& name);
  // True when the field's character is one of LogicalTrueChars.
  virtual bool GetLogical(int32_t f);
  virtual bool PutLogicalByName(const std::string& name, bool value);
  // Stores "T" or "F"; reports 1004 for a field that is not logical.
  virtual bool PutLogical(int32_t f, bool value);
  virtual double GetNumberByName(const std::string& name);
  // The field's value: the number its text holds, or the binary value of a B, G, I, M,
  // T or Y field of a 0x30 table (T in milliseconds from the day numbered 1 721 425,
  // Y as the stored integer / 10 000). Reports 1004 for text that is not a number.
  virtual double GetNumber(int32_t f);
  virtual bool PutNumberByName(const std::string& name, double value);
  // Stores `value` formatted to the field's width and decimals (or binary in 0x30
  // tables). A value that does not fit reports 1011 and leaves the field unchanged.
  virtual bool PutNumber(int32_t f, double value);
  virtual std::string GetFieldTextByName(const std::string& name);
  // The display form: trimmed text, a date in the short date format, "T"/"F", memo
  // markers ("---MEMO---" / "---memo---" and the like), numbers with leading blanks
  // removed (zero for a blank numeric field). May throw EConvertError for a date field
  // whose text is no date.
  virtual std::string GetFieldText(int32_t f);
  virtual bool PutFieldTextByName(const std::string& name, const std::string& text);
  // The user-entry form: dates in the short date format (or yyyymmdd), logicals as one
  // of the logical characters or a digit, numbers as decimal text; other text as it is.
  // May throw EConvertError for a date text that is no date.
  virtual bool PutFieldText(int32_t f, const std::string& text);
  // Clears the deletion mark of the current record and writes it.
  virtual void RecallRecord();

  // `name` when it names a field of type `type` (or a compatible one: G accepts B and M;
  // N accepts B, F, G, I, M, T and Y); reports 1003 or 1004 and answers nullptr otherwise.
  const DbfFieldInfo* FindFieldOfType(const std::string& name, char type);
  // 1-based number of the field, 0 when there is none (reported like FindField).
  int32_t FieldNumber(const std::string& name);
  void ClearFieldChanges();
  // Blank-fills the field and copies at most its width of `text`: left-aligned for C, D
  // and L, right-aligned (keeping the left end when too long) for the others. Sets the
  // changed flag and raises the field-changed record event.
  void StoreFieldText(const DbfFieldInfo& field, const std::string& text);

  // The memo object for a memo-type field (M, G, and B outside 0x30 tables), opened on
  // first use; nullptr for other fields or a table without memo file.
  KXobjMemo* MemoFor(int32_t f);
  // Length of the field's memo; 0 when it has none.
  int32_t MemoSize(int32_t f);
  // Reads the field's memo (at most `maxSize` bytes) into `data`. False when the field
  // has no memo object.
  bool ReadMemo(int32_t f, std::vector<uint8_t>& data, size_t maxSize = SIZE_MAX);
  // Writes `data` as the field's memo (in its current blocks when it fits) and stores the
  // memo's block number in the field. False when the field has no memo object or the
  // memo file could not take the text (the field then keeps its old block number).
  bool WriteMemo(int32_t f, std::span<const uint8_t> data);

  // Fills `value` from field `f` of the record buffer (kNull for a number out of range);
  // the text's storage is reused from call to call.
  void ReadFieldValue(int32_t f, TkxFieldValue& value);
  // Stores a decimal number text ("-12.5", "1e3"): N and F fields take it with their
  // decimals, digit for digit when the text has no more decimals than that (rounded
  // otherwise; a text with fewer decimals that fits only as it is stays as it is); I, B
  // and Y fields of 0x30 tables take its binary value (Y exact to four decimals). Reports
  // 1004 for a text that is no number or a field that is not numeric, 1011 for a number
  // that does not fit, and answers false.
  bool PutNumberText(int32_t f, const std::string& text);
  // Stores day number `day` and `ms` milliseconds in a T field of a 0x30 table; reports
  // 1004 for another field, a day below 1 or a time outside the day.
  bool PutTimestamp(int32_t f, int32_t day, int32_t ms);
  // Stores `bytes` left-aligned and blank-padded whatever the type: the kRaw form.
  bool PutRawField(int32_t f, const std::string& bytes);

  // The link through which expressions compiled for this table reach its fields and
  // table functions (built with the table, freed with it).
  TkxExpUserLink* ExpressionLink();

  // The descriptor that the last access by number or name used; nullptr before any.
  const DbfFieldInfo* LastField() const { return lastField_; }
  // True for a 0x30 table's binary field types (B, G, I, M, T, Y).
  bool IsBinaryField(const DbfFieldInfo& field) const;

 protected:
  // The field with number `f`, remembered as the last field; nullptr when out of range.
  const DbfFieldInfo* FieldAt(int32_t f);

 private:
  std::string FieldBytes(const DbfFieldInfo& field) const;
  void MarkChanged(const DbfFieldInfo& field);
  double BinaryNumber(const DbfFieldInfo& field) const;
  bool PutBinaryNumber(const DbfFieldInfo& field, double value);
  bool PutFormattedNumber(const DbfFieldInfo& field, double value, bool report);
  void NumberTooLarge(const DbfFieldInfo& field, const std::string& formatted);
  std::string BinaryDisplayText(const DbfFieldInfo& field) const;
  bool PutBinaryText(const DbfFieldInfo& field, const std::string& text);
  // The memo block number the field holds, or -1 (reported) when it holds no valid one.
  int32_t MemoBlock(const DbfFieldInfo& field);
  std::string TableBaseName() const;

  // Upper-cased names without trailing blanks, in field order, for FindField.
  std::vector<std::string> lookupNames_;
  const DbfFieldInfo* lastField_ = nullptr;
  // The table's expression link (field variables and table functions).
  std::unique_ptr<TkxDBFExpUserLink> expLink_;
};

}  // namespace tolvern
