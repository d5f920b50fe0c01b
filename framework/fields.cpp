#include "fields.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "dataset.h"
#include "db_error.h"

namespace fendral {

namespace {

// The user's locale for numbers: no group separators shown, none accepted (so "1,5" is never
// read as 15 in a locale whose decimal separator is ".").
struct TNumberLocale {
  QLocale locale;
  QString point;
  QString minus;
  bool plainDigits = false;  // writes 0-9 (so fixed-point text can be made without Qt)
};

// Counts DefaultLocaleChanged calls: what fields made from the default locale remember.
std::atomic<unsigned> localeGeneration{1};

unsigned LocaleGeneration() { return localeGeneration.load(std::memory_order_relaxed); }

// The user's locale for numbers: no group separators shown, none accepted (so "1,5" is
// never read as 15 in a locale whose decimal separator is "."). Made on first use and
// again after DefaultLocaleChanged.
const TNumberLocale& NumberLocaleData() {
  thread_local TNumberLocale numbers;
  thread_local unsigned made = 0;
  if (made != LocaleGeneration()) {
    made = LocaleGeneration();
    const QLocale current;
    numbers.locale = current;
    numbers.locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    numbers.point = current.decimalPoint();
    numbers.minus = current.negativeSign();
    numbers.plainDigits = current.zeroDigit() == QLatin1String("0");
  }
  return numbers;
}

QLocale NumberLocale() { return NumberLocaleData().locale; }

// `digits` (ASCII digits, "." and "-") in the number locale, which writes 0-9.
QString LocaleNumberText(const TNumberLocale& numbers, std::string_view digits) {
  const auto size = static_cast<qsizetype>(digits.size());
  if (numbers.point.size() == 1 && numbers.minus.size() == 1) {
    QString text(size, Qt::Uninitialized);
    QChar* out = text.data();
    const QChar point = numbers.point.at(0);
    const QChar minus = numbers.minus.at(0);
    for (const char c : digits)
      *out++ = c == '.' ? point : c == '-' ? minus : QChar(QLatin1Char(c));
    return text;
  }
  QString text;
  text.reserve(size + 2);
  for (const char c : digits) {
    if (c == '.')
      text += numbers.point;
    else if (c == '-')
      text += numbers.minus;
    else
      text += QLatin1Char(c);
  }
  return text;
}

// Fixed-point text of `number` with `decimals` digits after the point (the shortest exact
// text when negative), as QLocale writes it in the number locale.
QString FixedText(double number, int decimals) {
  const TNumberLocale& numbers = NumberLocaleData();
  const int qtDecimals = decimals < 0 ? QLocale::FloatingPointShortest : decimals;
  if (!numbers.plainDigits || !std::isfinite(number) || std::fabs(number) >= 1e21 ||
      decimals > 100)
    return numbers.locale.toString(number, 'f', qtDecimals);
  // Thirty digits more than wanted are exact enough to see which side of a half the value
  // lies (a double's next neighbour is nearer than that); a half rounds away from zero,
  // as QLocale rounds.
  char buffer[256];
  const std::to_chars_result result =
      decimals < 0 ? std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed)
                   : std::to_chars(buffer, buffer + sizeof buffer, number,
                                   std::chars_format::fixed, decimals + 30);
  if (result.ec != std::errc()) return numbers.locale.toString(number, 'f', qtDecimals);
  std::string digits(buffer, result.ptr);
  if (decimals >= 0) {
    const size_t point = digits.find('.');
    const bool up = digits[point + static_cast<size_t>(decimals) + 1] >= '5';
    digits.resize(decimals == 0 ? point : point + static_cast<size_t>(decimals) + 1);
    for (size_t i = digits.size(); up;) {
      if (i == 0 || digits[i - 1] == '-') {
        digits.insert(i, 1, '1');
        break;
      }
      --i;
      if (digits[i] == '.') continue;
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
  }
  return LocaleNumberText(numbers, digits);
}

// A decimal number in canonical form: an optional "-", integer digits without a leading
// zero (a lone "0" aside), then, when `decimals` > 0, a "." and exactly that many digits.
// Such text is what fixed-point formatting of its value with `decimals` writes, so it can be
// shown as it stands. A negative zero is not canonical.
bool IsCanonicalNumber(std::string_view digits, int decimals) {
  size_t at = 0;
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) ++at;
  const size_t intStart = at;
  while (at < digits.size() && digits[at] >= '0' && digits[at] <= '9') ++at;
  const size_t intDigits = at - intStart;
  if (intDigits == 0 || (intDigits > 1 && digits[intStart] == '0')) return false;
  bool nonZero = digits[intStart] != '0';
  if (decimals > 0) {
    if (at >= digits.size() || digits[at] != '.') return false;
    ++at;
    const size_t fracStart = at;
    while (at < digits.size() && digits[at] >= '0' && digits[at] <= '9') {
      nonZero |= digits[at] != '0';
      ++at;
    }
    if (at - fracStart != static_cast<size_t>(decimals)) return false;
  }
  return at == digits.size() && (nonZero || !negative);
}

// The locale's short date format with a four-digit year, so that no century is lost.
QString FourDigitYearFormat(const QString& format) {
  if (format.contains(QLatin1String("yyyy"))) return format;
  QString result = format;
  const qsizetype at = result.indexOf(QLatin1String("yy"));
  if (at >= 0) result.replace(at, 2, QLatin1String("yyyy"));
  return result;
}

// Dates typed with a two-digit year land in 1950..2049.
QDate PivotTwoDigitYear(const QDate& date, const QString& format) {
  if (!date.isValid() || format.contains(QLatin1String("yyyy"))) return date;
  if (format.contains(QLatin1String("yy")) && date.year() < 1950) return date.addYears(100);
  return date;
}

}  // namespace

void DefaultLocaleChanged() { localeGeneration.fetch_add(1, std::memory_order_relaxed); }

// ---------------------------------------------------------------- TFieldDefs

TFieldDef& TFieldDefs::Add(const QString& name, TFieldType type, int size, bool required) {
  if (IndexOf(name) >= 0)
    DatabaseError(QCoreApplication::translate("Dataset", "Duplicate field name '%1'").arg(name));
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = Count() + 1;
  defs_.push_back(def);
  return defs_.back();
}

TFieldDef& TFieldDefs::AddFromText(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(';'));
  bool typeOk = false, sizeOk = false, requiredOk = true;
  int type = 0, size = 0, required = 0;
  if (parts.size() >= 3) {
    type = parts[1].trimmed().toInt(&typeOk);
    size = parts[2].trimmed().toInt(&sizeOk);
    if (parts.size() >= 4) required = parts[3].trimmed().toInt(&requiredOk);
  }
  const bool knownType =
      typeOk && !FieldTypeName(static_cast<TFieldType>(type)).isEmpty() && type != ftUnknown;
  if (parts.size() < 3 || parts.size() > 4 || parts[0].trimmed().isEmpty() || !knownType ||
      !sizeOk || size < 0 || !requiredOk)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Invalid field definition '%1'").arg(text));
  return Add(parts[0].trimmed(), static_cast<TFieldType>(type), size, required != 0);
}

int TFieldDefs::IndexOf(const QString& name) const {
  for (size_t i = 0; i < defs_.size(); ++i)
    if (defs_[i].Name.compare(name, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  return -1;
}

QString FieldTypeName(TFieldType type) {
  switch (type) {
    case ftString:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "string"));
    case ftSmallint:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "small integer"));
    case ftInteger:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "integer"));
    case ftWord:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "word"));
    case ftBoolean:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "boolean"));
    case ftFloat:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "floating point"));
    case ftDate:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "date"));
    case ftDateTime:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "date and time"));
    case ftBlob:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "binary"));
    case ftMemo:
      return QStringLiteral(QT_TRANSLATE_NOOP("Dataset", "memo"));
    case ftUnknown:
      break;
  }
  return QString();
}

std::unique_ptr<TField> CreateField(const TFieldDef& def) {
  std::unique_ptr<TField> field;
  switch (def.DataType) {
    case ftString:
      field = std::make_unique<TStringField>(def.Name, def.Size);
      break;
    case ftSmallint:
      field = std::make_unique<TSmallintField>(def.Name);
      break;
    case ftInteger:
      field = std::make_unique<TIntegerField>(def.Name);
      break;
    case ftWord:
      field = std::make_unique<TWordField>(def.Name);
      break;
    case ftBoolean:
      field = std::make_unique<TBooleanField>(def.Name);
      break;
    case ftFloat: {
      auto f = std::make_unique<TFloatField>(def.Name);
      f->SetDecimals(def.Precision);
      field = std::move(f);
      break;
    }
    case ftDate:
      field = std::make_unique<TDateField>(def.Name);
      break;
    case ftDateTime:
      field = std::make_unique<TDateTimeField>(def.Name);
      break;
    case ftBlob:
      field = std::make_unique<TBlobField>(def.Name);
      break;
    case ftMemo:
      field = std::make_unique<TMemoField>(def.Name);
      break;
    case ftUnknown:
      break;
  }
  if (!field)
    DatabaseError(QCoreApplication::translate("Dataset", "Field type not supported for field '%1'")
                      .arg(def.Name));
  field->SetRequired(def.Required);
  field->fieldNo_ = def.FieldNo;
  return field;
}

// ---------------------------------------------------------------- TField

TField::TField(const QString& fieldName, TFieldType dataType, int size)
    : fieldName_(fieldName), dataType_(dataType), size_(size) {}

TField::~TField() = default;

void TField::SetFieldKind(TFieldKind kind) {
  if (dataSet_ && dataSet_->Active())
    DatabaseError(
        QCoreApplication::translate("Dataset", "Cannot perform this operation on an open dataset"));
  fieldKind_ = kind;
}

void TField::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  if (dataSet_ && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange);
}

void TField::SetDisplayLabel(const QString& label) {
  displayLabel_ = label;
  if (dataSet_ && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange);
}

int TField::DisplayWidth() const {
  if (displayWidth_ >= 0) return displayWidth_;
  switch (dataType_) {
    case ftString:
      return size_ > 0 ? size_ : 20;
    case ftSmallint:
      return 6;
    case ftInteger:
      return 11;
    case ftWord:
      return 5;
    case ftBoolean:
      return 5;
    case ftFloat:
      return 10;
    case ftDate:
      return 10;
    case ftDateTime:
      return 19;
    default:
      return 10;
  }
}

void TField::SetDisplayWidth(int width) {
  displayWidth_ = width;
  if (dataSet_ && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange);
}

void TField::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  if (dataSet_ && dataSet_->Active()) dataSet_->DataEvent(deLayoutChange);
}

bool TField::CanModify() const {
  return !readOnly_ && fieldKind_ == fkData && dataSet_ != nullptr && dataSet_->CanModify();
}

bool TField::IsBlob() const { return dataType_ == ftBlob || dataType_ == ftMemo; }

QVariant TField::GetData() const {
  if (IsBlob() && fieldKind_ == fkData) {
    if (IsNull()) return QVariant();
    return static_cast<const TBlobField*>(this)->AsBytes();
  }
  QVariant value;
  if (!dataSet_ || !dataSet_->ReadFieldValue(*this, value)) return QVariant();
  return value;
}

void TField::SetData(const QVariant& value) {
  if (!dataSet_)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' has no dataset").arg(fieldName_));
  // Blob values always travel through the dataset's blob stream.
  if (IsBlob() && fieldKind_ == fkData)
    static_cast<TBlobField*>(this)->SetAsBytes(value.toByteArray());
  else
    dataSet_->WriteFieldValue(*this, value);
}

void TField::StoreData(const QVariant& value) {
  if (!dataSet_)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' has no dataset").arg(fieldName_));
  dataSet_->WriteFieldValue(*this, value);
}

bool TField::IsNull() const {
  QVariant value;
  return !dataSet_ || !dataSet_->ReadFieldValue(*this, value);
}

void TField::Clear() { SetData(QVariant()); }

QVariant TField::Value() const { return GetData(); }

void TField::SetValue(const QVariant& value) { SetData(Coerce(value)); }

QString TField::AsString() const { return EditText(); }

void TField::SetAsString(const QString& text) { SetEditText(text); }

int TField::AsInteger() const {
  const QVariant value = Value();
  if (!value.isValid()) return 0;
  bool ok = false;
  const double number = value.toDouble(&ok);
  if (!ok || !std::isfinite(number) || number < std::numeric_limits<int>::min() ||
      number > std::numeric_limits<int>::max())
    ConvertError(value.toString(), QStringLiteral("integer"));
  return static_cast<int>(std::lround(number));
}

void TField::SetAsInteger(int value) { SetValue(QVariant(value)); }

double TField::AsFloat() const {
  const QVariant value = Value();
  if (!value.isValid()) return 0;
  bool ok = false;
  const double number = value.toDouble(&ok);
  if (!ok) ConvertError(value.toString(), QStringLiteral("floating point"));
  return number;
}

void TField::SetAsFloat(double value) { SetValue(QVariant(value)); }

bool TField::AsBoolean() const {
  const QVariant value = Value();
  if (!value.isValid()) return false;
  switch (value.typeId()) {
    case QMetaType::Bool:
      return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
      return value.toDouble() != 0;
    default:
      ConvertError(value.toString(), QStringLiteral("boolean"));
  }
}

void TField::SetAsBoolean(bool value) { SetValue(QVariant(value)); }

QDateTime TField::AsDateTime() const {
  const QVariant value = Value();
  if (!value.isValid()) return QDateTime();
  if (value.typeId() == QMetaType::QDateTime) return value.toDateTime();
  if (value.typeId() == QMetaType::QDate) return value.toDate().startOfDay();
  ConvertError(value.toString(), QStringLiteral("date and time"));
}

void TField::SetAsDateTime(const QDateTime& value) {
  SetValue(value.isValid() ? QVariant(value) : QVariant());
}

QString TField::DisplayText() const {
  if (fieldKind_ == fkData && dataSet_) {
    const TRecordBuffer* buffer = dataSet_->ActiveBuffer();
    TStoredValue stored;
    QString text;
    if (buffer && dataSet_->GetFieldStored(*this, *buffer, stored) && FormatStored(stored, text))
      return text;
  }
  if (IsBlob()) return IsNull() ? QString() : FormatText(QVariant(), true);
  const QVariant value = Value();
  return value.isValid() ? FormatText(value, true) : QString();
}

QString TField::EditText() const {
  if (IsBlob()) return IsNull() ? QString() : FormatText(QVariant(), false);
  const QVariant value = Value();
  return value.isValid() ? FormatText(value, false) : QString();
}

void TField::SetEditText(const QString& text) {
  if (text.isEmpty() || (dataType_ != ftString && dataType_ != ftMemo && text.trimmed().isEmpty()))
    SetData(QVariant());
  else
    SetData(ParseText(text));
}

bool TField::IsValidChar(QChar c) const { return c != QChar(0); }

void TField::FocusControl() {
  if (dataSet_ && dataSet_->Active()) dataSet_->DataEvent(deFocusControl, this);
}

QString TField::FormatText(const QVariant& value, bool) const { return value.toString(); }

QVariant TField::ParseText(const QString& text) const { return text; }

QVariant TField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  if (value.typeId() == QMetaType::QString) {
    const QString text = value.toString();
    if (text.isEmpty()) return QVariant();
    return ParseText(text);
  }
  return value;
}

void TField::ConvertError(const QString& text, const QString& typeName) const {
  DatabaseError(
      QCoreApplication::translate("Dataset", "'%1' is not a valid %2 value for field '%3'")
          .arg(text, QCoreApplication::translate("Dataset", typeName.toUtf8().constData()),
               DisplayLabel()));
}

// ---------------------------------------------------------------- TStringField

TStringField::TStringField(const QString& fieldName, int size)
    : TField(fieldName, ftString, size) {}

QVariant TStringField::ParseText(const QString& text) const {
  if (Size() > 0 && text.size() > Size())
    DatabaseError(QCoreApplication::translate(
                      "Dataset", "'%1' is too long for field '%2' (at most %3 characters)")
                      .arg(text, DisplayLabel())
                      .arg(Size()));
  return text;
}

bool TStringField::FormatStored(TStoredValue& stored, QString& text) const {
  if (!stored.digits.empty()) return false;
  text = std::move(stored.text);
  return true;
}

QVariant TStringField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  QString text;
  switch (value.typeId()) {
    case QMetaType::QString:
      text = value.toString();
      break;
    case QMetaType::Double:
      text = NumberLocale().toString(value.toDouble(), 'f', QLocale::FloatingPointShortest);
      break;
    case QMetaType::QDate:
      text = value.toDate().toString(Qt::ISODate);
      break;
    case QMetaType::QDateTime:
      text = value.toDateTime().toString(Qt::ISODate);
      break;
    default:
      if (!value.canConvert<QString>()) ConvertError(QStringLiteral("?"), QStringLiteral("string"));
      text = value.toString();
  }
  if (text.isEmpty()) return QVariant();
  return ParseText(text);
}

// ---------------------------------------------------------------- TIntegerField

TIntegerField::TIntegerField(const QString& fieldName, TFieldType type) : TField(fieldName, type) {
  switch (type) {
    case ftSmallint:
      minValue_ = -32768;
      maxValue_ = 32767;
      break;
    case ftWord:
      minValue_ = 0;
      maxValue_ = 65535;
      break;
    default:
      minValue_ = std::numeric_limits<int>::min();
      maxValue_ = std::numeric_limits<int>::max();
  }
  SetAlignment(Qt::AlignRight);
}

void TIntegerField::SetRange(int minValue, int maxValue) {
  minValue_ = minValue;
  maxValue_ = maxValue;
}

bool TIntegerField::IsValidChar(QChar c) const {
  const QLocale locale = NumberLocale();
  return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') ||
         locale.negativeSign().contains(c) || locale.positiveSign().contains(c);
}

QString TIntegerField::FormatText(const QVariant& value, bool) const {
  return NumberLocale().toString(value.toLongLong());
}

bool TIntegerField::FormatStored(TStoredValue& stored, QString& text) const {
  const std::string_view digits = stored.digits;
  const TNumberLocale& numbers = NumberLocaleData();
  if (!numbers.plainDigits || digits.size() > 18 || !IsCanonicalNumber(digits, 0)) return false;
  text = LocaleNumberText(numbers, digits);
  return true;
}

QVariant TIntegerField::ParseText(const QString& text) const {
  bool ok = false;
  const qlonglong number = NumberLocale().toLongLong(text.trimmed(), &ok);
  if (!ok) ConvertError(text, QStringLiteral("integer"));
  if (number < minValue_ || number > maxValue_)
    DatabaseError(
        QCoreApplication::translate("Dataset",
                                    "%1 is not a valid value for field '%2'. The allowed range is "
                                    "%3 to %4")
            .arg(text.trimmed(), DisplayLabel())
            .arg(minValue_)
            .arg(maxValue_));
  return QVariant(static_cast<int>(number));
}

QVariant TIntegerField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  if (value.typeId() == QMetaType::QString) return TField::Coerce(value);
  if (value.typeId() == QMetaType::Bool) return ParseText(NumberLocale().toString(value.toInt()));
  bool ok = false;
  const double number = value.toDouble(&ok);
  if (!ok || !std::isfinite(number) || number != std::trunc(number))
    ConvertError(value.toString(), QStringLiteral("integer"));
  if (number < minValue_ || number > maxValue_)
    return ParseText(NumberLocale().toString(number, 'f', 0));
  return QVariant(static_cast<int>(number));
}

// ---------------------------------------------------------------- TFloatField

TFloatField::TFloatField(const QString& fieldName) : TField(fieldName, ftFloat) {
  SetAlignment(Qt::AlignRight);
}

bool TFloatField::IsValidChar(QChar c) const {
  const QLocale locale = NumberLocale();
  return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('e') ||
         c == QLatin1Char('E') || locale.decimalPoint().contains(c) ||
         locale.negativeSign().contains(c) || locale.positiveSign().contains(c) ||
         locale.exponential().contains(c);
}

QString TFloatField::FormatText(const QVariant& value, bool display) const {
  double number = value.toDouble();
  if (display && decimals_ >= 0) return FixedText(number, decimals_);
  if (display && precision_ > 0 && precision_ < 17 && std::isfinite(number)) {
    // Rounded to the field's significant digits first.
    char buffer[64];
    const std::to_chars_result result = std::to_chars(
        buffer, buffer + sizeof buffer, number, std::chars_format::general, precision_);
    if (result.ec == std::errc()) std::from_chars(buffer, result.ptr, number);
  }
  return FixedText(number, -1);
}

bool TFloatField::FormatStored(TStoredValue& stored, QString& text) const {
  const std::string_view digits = stored.digits;
  // Only a fixed number of decimals shows stored digits as they stand (and keeps every
  // digit of a number wider than a double holds).
  if (decimals_ < 0) return false;
  const TNumberLocale& numbers = NumberLocaleData();
  if (!numbers.plainDigits || !IsCanonicalNumber(digits, decimals_)) return false;
  text = LocaleNumberText(numbers, digits);
  return true;
}

QVariant TFloatField::ParseText(const QString& text) const {
  bool ok = false;
  const double number = NumberLocale().toDouble(text.trimmed(), &ok);
  if (!ok || !std::isfinite(number)) ConvertError(text, QStringLiteral("floating point"));
  return QVariant(number);
}

QVariant TFloatField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  if (value.typeId() == QMetaType::QString) return TField::Coerce(value);
  bool ok = false;
  const double number = value.toDouble(&ok);
  if (!ok || !std::isfinite(number))
    ConvertError(value.toString(), QStringLiteral("floating point"));
  return QVariant(number);
}

// ---------------------------------------------------------------- TBooleanField

TBooleanField::TBooleanField(const QString& fieldName) : TField(fieldName, ftBoolean) {
  // The words a logical value is shown with, in the user's language ("yes;no" form);
  // text typed back is read in these words and in English.
  SetDisplayValues(QCoreApplication::translate("Dataset", "True;False"));
}

void TBooleanField::SetDisplayValues(const QString& values) {
  const QStringList parts = values.split(QLatin1Char(';'));
  if (parts.size() != 2 || (parts[0].isEmpty() && parts[1].isEmpty()))
    DatabaseError(
        QCoreApplication::translate("Dataset", "Invalid display values '%1' for field '%2'")
            .arg(values, DisplayLabel()));
  displayValues_ = values;
  trueText_ = parts[0];
  falseText_ = parts[1];
}

QString TBooleanField::FormatText(const QVariant& value, bool) const {
  return value.toBool() ? trueText_ : falseText_;
}

bool TBooleanField::FormatStored(TStoredValue& stored, QString& text) const {
  if (stored.digits == "T")
    text = trueText_;
  else if (stored.digits == "F")
    text = falseText_;
  else
    return false;
  return true;
}

QVariant TBooleanField::ParseText(const QString& text) const {
  const QString t = text.trimmed();
  auto is = [&t](const QString& word) {
    return !word.isEmpty() && t.compare(word, Qt::CaseInsensitive) == 0;
  };
  auto startsAs = [&t](const QString& word) {
    return t.size() == 1 && !word.isEmpty() && word.startsWith(t, Qt::CaseInsensitive);
  };
  const QStringList trueWords{QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("1")};
  const QStringList falseWords{QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("0")};
  if (is(trueText_) || startsAs(trueText_)) return true;
  if (is(falseText_) || startsAs(falseText_)) return false;
  for (const QString& w : trueWords)
    if (is(w) || startsAs(w)) return true;
  for (const QString& w : falseWords)
    if (is(w) || startsAs(w)) return false;
  ConvertError(text, QStringLiteral("boolean"));
}

QVariant TBooleanField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  switch (value.typeId()) {
    case QMetaType::Bool:
      return value;
    case QMetaType::QString:
      return TField::Coerce(value);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
      return QVariant(value.toDouble() != 0);
    default:
      ConvertError(value.toString(), QStringLiteral("boolean"));
  }
}

// ---------------------------------------------------------------- TDateField

TDateField::TDateField(const QString& fieldName) : TField(fieldName, ftDate) {}

TDateField::TDateField(const QString& fieldName, TFieldType type) : TField(fieldName, type) {}

namespace {

QString DateFormatOf(const QString& displayFormat) {
  if (!displayFormat.isEmpty()) return displayFormat;
  return FourDigitYearFormat(QLocale().dateFormat(QLocale::ShortFormat));
}

QDate ParseDate(const QString& text, const QString& displayFormat) {
  const QLocale locale;
  const QString t = text.trimmed();
  const QStringList formats{DateFormatOf(displayFormat), locale.dateFormat(QLocale::ShortFormat),
                            QStringLiteral("yyyy-MM-dd")};
  for (const QString& format : formats) {
    const QDate date = PivotTwoDigitYear(locale.toDate(t, format), format);
    if (date.isValid()) return date;
  }
  return QDate();
}

}  // namespace

// A date pattern split once into its parts, with the month and day names of the locale it
// was made for, so that formatting a date neither interprets the pattern nor asks the
// system locale for names again. Only day, month and year elements and quoted or literal
// text are known; any other pattern letter leaves the work to QLocale.
class TDateField::Pattern {
 public:
  Pattern(const QString& displayFormat, const QLocale& locale, unsigned generation)
      : displayFormat_(displayFormat), locale_(locale), generation_(generation) {
    format_ = DateFormatOf(displayFormat);
    for (int m = 1; m <= 12; ++m) {
      months_[0][m - 1] = locale.monthName(m, QLocale::ShortFormat);
      months_[1][m - 1] = locale.monthName(m, QLocale::LongFormat);
    }
    for (int d = 1; d <= 7; ++d) {
      days_[0][d - 1] = locale.dayName(d, QLocale::ShortFormat);
      days_[1][d - 1] = locale.dayName(d, QLocale::LongFormat);
    }
    Compile();
  }

  bool Fits(const QString& displayFormat, unsigned generation) const {
    return generation == generation_ && displayFormat == displayFormat_;
  }

  QString Format(const QDate& date) const {
    if (!date.isValid()) return QString();
    int y, m, d;
    date.getDate(&y, &m, &d);
    return Format(y, m, d);
  }

  // A valid date's text; the day of the week is worked out only for a pattern that names it.
  QString Format(int y, int m, int d) const {
    if (!known_ || y < 1 || y > 9999) return locale_.toString(QDate(y, m, d), format_);
    const QString* names[8] = {};  // the name each part writes, when it writes one
    int widths[8] = {};            // the digits each number part writes
    const size_t count = parts_.size();
    if (count > 8) return locale_.toString(QDate(y, m, d), format_);
    qsizetype length = 0;
    for (size_t i = 0; i < count; ++i) {
      const Part& part = parts_[i];
      switch (part.kind) {
        case Kind::kText:
          names[i] = &part.text;
          break;
        case Kind::kDay:
          widths[i] = std::max(Digits(d), part.width);
          break;
        case Kind::kDayName:
          names[i] = &days_[part.width == 4 ? 1 : 0][QDate(y, m, d).dayOfWeek() - 1];
          break;
        case Kind::kMonth:
          widths[i] = std::max(Digits(m), part.width);
          break;
        case Kind::kMonthName:
          names[i] = &months_[part.width == 4 ? 1 : 0][m - 1];
          break;
        case Kind::kYear:
          widths[i] = part.width == 2 ? 2 : 4;
          break;
      }
      length += names[i] ? names[i]->size() : widths[i];
    }
    // One allocation, written in place.
    QString text(length, Qt::Uninitialized);
    QChar* out = text.data();
    for (size_t i = 0; i < count; ++i) {
      if (names[i]) {
        std::memcpy(out, names[i]->constData(), static_cast<size_t>(names[i]->size()) * 2);
        out += names[i]->size();
        continue;
      }
      const Kind kind = parts_[i].kind;
      int value = kind == Kind::kDay ? d : kind == Kind::kMonth ? m : y;
      if (kind == Kind::kYear && widths[i] == 2) value %= 100;
      for (int w = widths[i]; w > 0; --w, value /= 10) out[w - 1] = QChar(u'0' + value % 10);
      out += widths[i];
    }
    return text;
  }

 private:
  enum class Kind { kText, kDay, kDayName, kMonth, kMonthName, kYear };
  struct Part {
    Kind kind;
    int width = 0;
    QString text;
  };

  static int Digits(int value) {
    return value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1;
  }

  // Splits the pattern as QDate's formatting reads it: runs of d, M and y, text between
  // single quotes ('' is a quote), and everything else as it stands.
  void Compile() {
    known_ = true;
    const QString& f = format_;
    for (qsizetype i = 0; i < f.size();) {
      const QChar c = f.at(i);
      if (c == QLatin1Char('\'')) {
        QString quoted;
        qsizetype j = i + 1;
        if (j < f.size() && f.at(j) == QLatin1Char('\'')) {
          AddText(QStringLiteral("'"));
          i = j + 1;
          continue;
        }
        for (; j < f.size(); ++j) {
          if (f.at(j) == QLatin1Char('\'')) {
            if (j + 1 < f.size() && f.at(j + 1) == QLatin1Char('\'')) {
              quoted += QLatin1Char('\'');
              ++j;
              continue;
            }
            break;
          }
          quoted += f.at(j);
        }
        AddText(quoted);
        i = j + 1;
        continue;
      }
      qsizetype run = 1;
      while (i + run < f.size() && f.at(i + run) == c) ++run;
      if (c == QLatin1Char('d')) {
        if (run > 4) known_ = false;
        parts_.push_back({run <= 2 ? Kind::kDay : Kind::kDayName, static_cast<int>(run), {}});
      } else if (c == QLatin1Char('M')) {
        if (run > 4) known_ = false;
        parts_.push_back({run <= 2 ? Kind::kMonth : Kind::kMonthName, static_cast<int>(run), {}});
      } else if (c == QLatin1Char('y')) {
        if (run != 2 && run != 4) known_ = false;
        parts_.push_back({Kind::kYear, static_cast<int>(run), {}});
      } else if (c.isLetter()) {
        known_ = false;  // a time or era letter: QLocale knows what it means
        AddText(f.mid(i, run));
      } else {
        AddText(f.mid(i, run));
      }
      i += run;
    }
  }

  void AddText(const QString& text) {
    if (!parts_.empty() && parts_.back().kind == Kind::kText)
      parts_.back().text += text;
    else
      parts_.push_back({Kind::kText, 0, text});
  }

  QString displayFormat_;
  QLocale locale_;
  unsigned generation_;
  QString format_;
  bool known_ = true;
  std::vector<Part> parts_;
  std::array<std::array<QString, 12>, 2> months_;
  std::array<std::array<QString, 7>, 2> days_;
};

const TDateField::Pattern& TDateField::CurrentPattern() const {
  const unsigned generation = LocaleGeneration();
  if (!pattern_ || !pattern_->Fits(displayFormat_, generation))
    pattern_ = std::make_shared<const Pattern>(displayFormat_, QLocale(), generation);
  return *pattern_;
}

QString TDateField::DateText(const QDate& date) const { return CurrentPattern().Format(date); }

QString TDateField::FormatText(const QVariant& value, bool) const {
  return DateText(value.toDate());
}

bool TDateField::FormatStored(TStoredValue& stored, QString& text) const {
  const std::string_view digits = stored.digits;
  if (DataType() != ftDate || digits.size() != 8) return false;
  for (const char c : digits)
    if (c < '0' || c > '9') return false;
  auto number = [&digits](size_t from, size_t count) {
    int value = 0;
    for (size_t i = from; i < from + count; ++i) value = value * 10 + (digits[i] - '0');
    return value;
  };
  const int y = number(0, 4), m = number(4, 2), d = number(6, 2);
  if (!QDate::isValid(y, m, d)) return false;
  text = CurrentPattern().Format(y, m, d);
  return true;
}

QVariant TDateField::ParseText(const QString& text) const {
  const QDate date = ParseDate(text, displayFormat_);
  if (!date.isValid())
    DatabaseError(QCoreApplication::translate("Dataset", "'%1' is not a valid date for field '%2'")
                      .arg(text, DisplayLabel()));
  return date;
}

QVariant TDateField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  switch (value.typeId()) {
    case QMetaType::QDate:
      if (!value.toDate().isValid()) return QVariant();
      return value;
    case QMetaType::QDateTime:
      return value.toDateTime().date();
    case QMetaType::QString:
      return TField::Coerce(value);
    default:
      ConvertError(value.toString(), QStringLiteral("date"));
  }
}

// ---------------------------------------------------------------- TDateTimeField

TDateTimeField::TDateTimeField(const QString& fieldName) : TDateField(fieldName, ftDateTime) {}

QString TDateTimeField::FormatText(const QVariant& value, bool) const {
  const QDateTime dt = value.toDateTime();
  QString text = DateText(dt.date()) + QLatin1Char(' ') +
                 dt.time().toString(QStringLiteral("HH:mm:ss"));
  if (dt.time().msec() != 0) text += dt.time().toString(QStringLiteral(".zzz"));
  return text;
}

QVariant TDateTimeField::ParseText(const QString& text) const {
  const QString t = text.trimmed();
  const QDateTime iso = QDateTime::fromString(t, Qt::ISODateWithMs);
  if (iso.isValid()) return iso;
  // A date alone (whose format may itself contain blanks) stands for its midnight.
  if (const QDate whole = ParseDate(t, displayFormat_); whole.isValid()) return whole.startOfDay();
  const qsizetype space = t.lastIndexOf(QLatin1Char(' '));
  const QString datePart = space < 0 ? t : t.left(space).trimmed();
  const QString timePart = space < 0 ? QString() : t.mid(space + 1);
  const QDate date = ParseDate(datePart, displayFormat_);
  QTime time(0, 0);
  if (!timePart.isEmpty()) {
    time = QTime();
    for (const char* format : {"H:mm:ss.zzz", "H:mm:ss", "H:mm"}) {
      time = QTime::fromString(timePart, QLatin1String(format));
      if (time.isValid()) break;
    }
  }
  if (!date.isValid() || !time.isValid())
    DatabaseError(
        QCoreApplication::translate("Dataset", "'%1' is not a valid date and time for field '%2'")
            .arg(text, DisplayLabel()));
  return QDateTime(date, time);
}

QVariant TDateTimeField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  switch (value.typeId()) {
    case QMetaType::QDateTime:
      if (!value.toDateTime().isValid()) return QVariant();
      return value;
    case QMetaType::QDate:
      if (!value.toDate().isValid()) return QVariant();
      return value.toDate().startOfDay();
    case QMetaType::QString:
      return TField::Coerce(value);
    default:
      ConvertError(value.toString(), QStringLiteral("date and time"));
  }
}

// ---------------------------------------------------------------- TBlobField

TBlobField::TBlobField(const QString& fieldName, TFieldType type) : TField(fieldName, type) {}

QByteArray TBlobField::AsBytes() const {
  if (!DataSet() || IsNull()) return QByteArray();
  if (Calculated()) return GetData().toByteArray();
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead);
  return stream ? stream->readAll() : QByteArray();
}

void TBlobField::SetAsBytes(const QByteArray& bytes) {
  if (!DataSet())
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' has no dataset").arg(FieldName()));
  if (Calculated()) {
    StoreData(bytes.isEmpty() ? QVariant() : QVariant(bytes));
    return;
  }
  auto stream = DataSet()->CreateBlobStream(*this, bmWrite);
  if (!stream)
    DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' cannot be modified")
                      .arg(DisplayLabel()));
  if (!bytes.isEmpty() && stream->write(bytes) != bytes.size())
    DatabaseError(
        QCoreApplication::translate("Dataset", "Cannot write field '%1'").arg(DisplayLabel()));
  stream->close();
}

int TBlobField::AsInteger() const { ConvertError(DisplayText(), QStringLiteral("integer")); }
double TBlobField::AsFloat() const {
  ConvertError(DisplayText(), QStringLiteral("floating point"));
}
bool TBlobField::AsBoolean() const { ConvertError(DisplayText(), QStringLiteral("boolean")); }
QDateTime TBlobField::AsDateTime() const {
  ConvertError(DisplayText(), QStringLiteral("date and time"));
}

QString TBlobField::FormatText(const QVariant&, bool) const { return QStringLiteral("(Blob)"); }

QVariant TBlobField::ParseText(const QString& text) const { return text.toUtf8(); }

QVariant TBlobField::Coerce(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return QVariant();
  if (value.typeId() == QMetaType::QByteArray)
    return value.toByteArray().isEmpty() ? QVariant() : value;
  if (value.typeId() == QMetaType::QString) return TField::Coerce(value);
  ConvertError(value.toString(), FieldTypeName(DataType()));
}

// ---------------------------------------------------------------- TMemoField

TMemoField::TMemoField(const QString& fieldName) : TBlobField(fieldName, ftMemo) {}

QString TMemoField::Text() const {
  if (!DataSet()) return QString();
  return DataSet()->BlobToText(*this, AsBytes());
}

void TMemoField::SetText(const QString& text) {
  if (!DataSet())
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' has no dataset").arg(FieldName()));
  SetAsBytes(DataSet()->TextToBlob(*this, text));
}

QString TMemoField::FormatText(const QVariant&, bool display) const {
  return display ? QStringLiteral("(Memo)") : Text();
}

QVariant TMemoField::ParseText(const QString& text) const {
  return DataSet() ? DataSet()->TextToBlob(*this, text) : text.toUtf8();
}

QVariant TMemoField::Coerce(const QVariant& value) const { return TBlobField::Coerce(value); }

}  // namespace fendral
