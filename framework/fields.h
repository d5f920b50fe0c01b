// Fields of a record set: one TField object per column of a dataset, giving typed access to
// the column's value in the dataset's active record.
//
// A field does not store values; it asks its dataset for the value of the record the dataset
// is looking at (the active record, or the record being filtered or calculated) and hands
// new values to it. Values travel as QVariant: an invalid QVariant is "no value" (null).
// Per type the value carried is
//   ftString QString, ftSmallint/ftInteger/ftWord int, ftFloat double, ftBoolean bool,
//   ftDate QDate, ftDateTime QDateTime, ftMemo/ftBlob QByteArray (read through blob streams).
//
// Text conversion: DisplayText is what a grid shows, EditText what an editor starts with;
// SetAsString/SetEditText parse text typed by the user. Numbers and dates are shown and parsed
// in the user's locale (QLocale(), no group separators; see DefaultLocaleChanged); text that
// is not a value of the field's type is refused with an EDatabaseError naming the field, and
// nothing is written.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <Qt>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace fendral {

class TDataSet;
class TField;

// Data types of fields. The numbers are stable: field definitions written as text
// ("Name;1;10;0" = name, type number, size, required) use them.
enum TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftDate = 9,
  ftDateTime = 11,
  ftBlob = 15,
  ftMemo = 16,
};

// Where a field's value comes from: the record (data), the OnCalcFields event (calculated).
enum TFieldKind { fkData, fkCalculated };

// One column as the concrete dataset describes it (InternalInitFieldDefs).
struct TFieldDef {
  QString Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;  // characters for strings, 0 for the other types
  bool Required = false;
  int FieldNo = 0;     // 1-based position in the record; set by TFieldDefs::Add
  int Precision = -1;  // decimals of a float column; -1 when not fixed
};

// The ordered list of field definitions of a dataset.
class TFieldDefs {
 public:
  // Adds a definition; its FieldNo becomes its 1-based position. A name already defined
  // (compared ignoring case) raises EDatabaseError "Duplicate field name '%s'".
  TFieldDef& Add(const QString& name, TFieldType type, int size = 0, bool required = false);
  // Adds a definition written as "Name;type number;size;required", for example
  // "Name;1;10;0". Malformed text raises EDatabaseError.
  TFieldDef& AddFromText(const QString& text);
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& operator[](int index) const { return defs_.at(static_cast<size_t>(index)); }
  TFieldDef& operator[](int index) { return defs_.at(static_cast<size_t>(index)); }
  // -1 when no definition has that name (compared ignoring case).
  int IndexOf(const QString& name) const;

 private:
  std::vector<TFieldDef> defs_;
};

using TFieldNotifyEvent = std::function<void(TField&)>;

// A value as a dataset that keeps its records as text stores it (TDataSet::GetFieldStored):
// `digits` for a number (decimal digits, an optional "-", at most one "."), a date
// ("yyyymmdd") or a logical ("T" or "F"); `text` for a string ("" when blank). `digits` may
// point into the record buffer.
struct TStoredValue {
  std::string_view digits;
  QString text;
};

std::unique_ptr<TField> CreateField(const TFieldDef& def);

// Fields show and parse numbers and dates in the default QLocale as it was when they first
// needed it: asking Qt for the default locale costs more than formatting a value, so they
// ask again only after this call. Call it after QLocale::setDefault (the main window calls
// it when the system's locale changes).
void DefaultLocaleChanged();

// Base of all field classes. Created by the dataset from its field definitions (default
// fields) or by the program before opening (persistent and calculated fields, see
// TDataSet::AddField). Owned by its dataset.
class TField {
 public:
  TField(const QString& fieldName, TFieldType dataType, int size = 0);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  // --- Description
  TDataSet* DataSet() const { return dataSet_; }
  const QString& FieldName() const { return fieldName_; }
  TFieldType DataType() const { return dataType_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind);  // only while not attached to an open dataset
  bool Calculated() const { return fieldKind_ == fkCalculated; }
  // True for blob and memo fields (values read and written through blob streams).
  bool IsBlob() const;
  // 1-based position of the column in the record for data fields; 0 for calculated fields.
  int FieldNo() const { return fieldNo_; }
  // Position in the dataset's field list (0-based), -1 while not in a dataset.
  int Index() const { return index_; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // The column title; the field name unless set.
  QString DisplayLabel() const { return displayLabel_.isEmpty() ? fieldName_ : displayLabel_; }
  void SetDisplayLabel(const QString& label);
  // Width in characters a grid gives the column; derived from the type and size unless set.
  int DisplayWidth() const;
  void SetDisplayWidth(int width);
  // Horizontal alignment for grids and editors (numbers right, the rest left by default).
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);
  // True when the dataset may change this field now (dataset can modify, field not read-only
  // and not calculated).
  bool CanModify() const;

  // --- Value of the active record
  bool IsNull() const;
  void Clear();                           // sets "no value"
  QVariant Value() const;                 // invalid QVariant when null
  void SetValue(const QVariant& value);   // converted to the field's type or refused
  QString AsString() const;               // the edit text; "" when null
  void SetAsString(const QString& text);  // as SetEditText
  virtual int AsInteger() const;          // 0 when null
  virtual void SetAsInteger(int value);
  virtual double AsFloat() const;  // 0 when null
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;  // false when null
  virtual void SetAsBoolean(bool value);
  virtual QDateTime AsDateTime() const;  // invalid when null
  virtual void SetAsDateTime(const QDateTime& value);
  QVariant AsVariant() const { return Value(); }
  void SetAsVariant(const QVariant& value) { SetValue(value); }

  // Text a grid shows for the active record ("" when null).
  QString DisplayText() const;
  // Text an editor starts with; SetEditText parses the user's text back (empty text = null).
  QString EditText() const;
  void SetEditText(const QString& text);
  // True when `c` may be typed into an editor of this field.
  virtual bool IsValidChar(QChar c) const;

  // Asks data-aware controls bound to this field to take the focus.
  void FocusControl();

  // --- Events
  // Called before a new value is stored; may throw (EDatabaseError, EAbort) to refuse it.
  TFieldNotifyEvent OnValidate;
  // Called after a new value was stored.
  TFieldNotifyEvent OnChange;

 protected:
  // Text forms of a non-null value. `display` chooses the grid form over the edit form.
  virtual QString FormatText(const QVariant& value, bool display) const;
  // The display text made straight from the dataset's stored form of the value; false when
  // this field cannot show that form as it stands.
  virtual bool FormatStored(TStoredValue& /*stored*/, QString& /*text*/) const { return false; }
  // Parses user text into a value of the field's type; throws EDatabaseError naming the
  // field when the text is not one. Never called with empty text.
  virtual QVariant ParseText(const QString& text) const;
  // Converts a value handed to SetValue into the field's type (invalid = null); throws
  // EDatabaseError when it cannot.
  virtual QVariant Coerce(const QVariant& value) const;
  // Raises "'%1' is not a valid %2 value for field '%3'" style errors.
  [[noreturn]] void ConvertError(const QString& text, const QString& typeName) const;
  // Reads and writes the raw value through the dataset (blob values through its stream).
  QVariant GetData() const;
  void SetData(const QVariant& value);
  // Stores a value in the active buffer through the dataset, bypassing blob streams.
  void StoreData(const QVariant& value);

 private:
  friend class TDataSet;
  friend std::unique_ptr<TField> CreateField(const TFieldDef& def);

// Fields show and parse numbers and dates in the default QLocale as it was when they first
// needed it: asking Qt for the default locale costs more than formatting a value, so they
// ask again only after this call. Call it after QLocale::setDefault (the main window calls
// it when the system's locale changes).
void DefaultLocaleChanged();
  TDataSet* dataSet_ = nullptr;
  QString fieldName_;
  TFieldType dataType_;
  TFieldKind fieldKind_ = fkData;
  int fieldNo_ = 0;
  int index_ = -1;
  int size_ = 0;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
  QString displayLabel_;
  int displayWidth_ = -1;
  Qt::Alignment alignment_ = Qt::AlignLeft;
  int calcIndex_ = -1;  // slot in the record buffer's calculated values
};

class TStringField : public TField {
 public:
  TStringField(const QString& fieldName, int size);
  // Text longer than Size is refused with EDatabaseError (nothing is cut silently).
 protected:
  bool FormatStored(TStoredValue& stored, QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;
  QVariant ParseText(const QString& text) const override;
};

// Integer fields: small integer (-32768..32767), integer (32-bit), word (0..65535).
class TIntegerField : public TField {
 public:
  TIntegerField(const QString& fieldName, TFieldType type = ftInteger);
  int MinValue() const { return minValue_; }
  int MaxValue() const { return maxValue_; }
  // Narrows the accepted range (values outside it are refused naming the range).
  void SetRange(int minValue, int maxValue);
  bool IsValidChar(QChar c) const override;

 protected:
  QString FormatText(const QVariant& value, bool display) const override;
  bool FormatStored(TStoredValue& stored, QString& text) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;

 private:
  int minValue_;
  int maxValue_;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(const QString& fieldName) : TIntegerField(fieldName, ftSmallint) {}
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(const QString& fieldName) : TIntegerField(fieldName, ftWord) {}
};

class TFloatField : public TField {
 public:
  explicit TFloatField(const QString& fieldName);
  // Decimals shown in the grid; -1 (default) shows the value with up to Precision digits.
  int Decimals() const { return decimals_; }
  void SetDecimals(int decimals) { decimals_ = decimals; }
  // Significant digits kept when showing a value without fixed decimals (default 15).
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  bool IsValidChar(QChar c) const override;

 protected:
  QString FormatText(const QVariant& value, bool display) const override;
  bool FormatStored(TStoredValue& stored, QString& text) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;

 private:
  int decimals_ = -1;
  int precision_ = 15;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(const QString& fieldName);
  // "True;False" by default: the texts shown for true and false. Parsing accepts these
  // (ignoring case), their first letters, "Y"/"N", "1"/"0" and the English words.
  const QString& DisplayValues() const { return displayValues_; }
  void SetDisplayValues(const QString& values);

 protected:
  QString FormatText(const QVariant& value, bool display) const override;
  bool FormatStored(TStoredValue& stored, QString& text) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;

 private:
  QString displayValues_;
  QString trueText_;
  QString falseText_;
};

// Dates without time of day. Shown in the locale's short date format with a four-digit
// year (or DisplayFormat when set); parsed from that format, the locale's own short format
// and ISO "yyyy-MM-dd".
class TDateField : public TField {
 public:
  explicit TDateField(const QString& fieldName);
  const QString& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(const QString& format) { displayFormat_ = format; }

 protected:
  TDateField(const QString& fieldName, TFieldType type);
  QString FormatText(const QVariant& value, bool display) const override;
  bool FormatStored(TStoredValue& stored, QString& text) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;
  // The date part's text in the display format (the locale's short format by default).
  QString DateText(const QDate& date) const;
  QString displayFormat_;

 private:
  class Pattern;
  // The display format compiled with the locale's names, made on first use and again when
  // the format or the default locale changes.
  mutable std::shared_ptr<const Pattern> pattern_;
  const Pattern& CurrentPattern() const;
};

// Date and time of day (local time, millisecond resolution).
class TDateTimeField : public TDateField {
 public:
  explicit TDateTimeField(const QString& fieldName);

 protected:
  QString FormatText(const QVariant& value, bool display) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;
};

// Binary large objects. The value is read and written whole through the dataset's blob
// stream (TDataSet::CreateBlobStream); IsNull asks the dataset whether the record has one.
class TBlobField : public TField {
 public:
  explicit TBlobField(const QString& fieldName, TFieldType type = ftBlob);
  QByteArray AsBytes() const;
  void SetAsBytes(const QByteArray& bytes);  // empty = null
  int AsInteger() const override;            // refused: not a number
  double AsFloat() const override;
  bool AsBoolean() const override;
  QDateTime AsDateTime() const override;

 protected:
  QString FormatText(const QVariant& value, bool display) const override;  // "(Blob)"
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;
};

// Text large objects. AsString/Text decode the stored bytes with the dataset's text
// conversion (TDataSet::BlobToText, TextToBlob); DisplayText is "(Memo)" for a record that
// has a memo and "" otherwise, so a grid never loads memo text to paint a row.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(const QString& fieldName);
  QString Text() const;
  void SetText(const QString& text);  // empty = null

 protected:
  QString FormatText(const QVariant& value, bool display) const override;
  QVariant ParseText(const QString& text) const override;
  QVariant Coerce(const QVariant& value) const override;
};

// Creates the field class that fits `type` (TField for unknown types is never made: raises
// EDatabaseError "Field type not supported").
std::unique_ptr<TField> CreateField(const TFieldDef& def);

// Fields show and parse numbers and dates in the default QLocale as it was when they first
// needed it: asking Qt for the default locale costs more than formatting a value, so they
// ask again only after this call. Call it after QLocale::setDefault (the main window calls
// it when the system's locale changes).
void DefaultLocaleChanged();

// The readable name of a type for messages ("integer", "date", ...).
QString FieldTypeName(TFieldType type);

}  // namespace fendral
