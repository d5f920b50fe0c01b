#include "tv_apptext.h"

#include <QDate>
#include <QDateTime>
#include <QObject>

#include "kx6_Date.h"
#include "kx6_glbl.h"

namespace fendral {

namespace {

QString Two(uint32_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

QString NumberLiteral(const QVariant& value, int decimals) {
  if (!value.isValid() || value.isNull()) return QStringLiteral("0");
  if (value.typeId() == QMetaType::Double) {
    // Always "." as decimal separator: the expression language reads no other.
    if (decimals >= 0) return QString::number(value.toDouble(), 'f', decimals);
    return QString::number(value.toDouble(), 'g', 17);
  }
  return QString::number(value.toLongLong());
}

QString DateLiteral(const QDate& date) {
  if (!date.isValid()) return QStringLiteral("{}");
  const tolvern::TkxDBFDate& converter = tolvern::GlobalDateConverter();
  const int32_t day = converter.EncodeDay(date.year(), date.month(), date.day());
  return QLatin1Char('{') + QString::fromStdString(converter.DisplayForm(day)) + QLatin1Char('}');
}

// A character literal with a delimiter the text does not contain; empty when none fits.
QString TextLiteral(const QString& text) {
  if (!text.contains(QLatin1Char('\''))) return QLatin1Char('\'') + text + QLatin1Char('\'');
  if (!text.contains(QLatin1Char('"'))) return QLatin1Char('"') + text + QLatin1Char('"');
  if (!text.contains(QLatin1Char(']'))) return QLatin1Char('[') + text + QLatin1Char(']');
  return {};
}

}  // namespace

QString HeaderStampText(int32_t updateDate, uint32_t updateStamp, uint32_t userId) {
  const uint32_t date = static_cast<uint32_t>(updateDate);
  // The header's year, month and day bytes, packed one byte each.
  const uint32_t year = ((date >> 16) & 0xFF) % 100;  // years since 1900, shown as YY
  const uint32_t month = (date >> 8) & 0xFF;
  const uint32_t day = date & 0xFF;
  const uint32_t hours = updateStamp >> 22;
  const uint32_t minutes = (updateStamp >> 16) & 0x3F;
  const uint32_t seconds = (updateStamp >> 10) & 0x3F;
  const uint32_t millis = updateStamp & 0x3FF;
  return QObject::tr("Last DBF update: Date: ") + Two(day) + QLatin1Char('.') + Two(month) +
         QLatin1Char('.') + Two(year) + QObject::tr(", Time: ") + Two(hours) + QLatin1Char(':') +
         Two(minutes) + QLatin1Char(':') + Two(seconds) + QLatin1Char(':') + Two(millis) +
         QObject::tr(", User: ") + QString::number(userId);
}

TFilterTerm FilterTermFor(const QString& fieldName, TFieldType type, const QVariant& value,
                          int decimals) {
  TFilterTerm term;
  QString literal;
  switch (type) {
    case ftString:
      literal = TextLiteral(value.toString());
      if (literal.isEmpty())
        term.why = QObject::tr("The value of %1 holds every quote character").arg(fieldName);
      break;
    case ftBoolean:
      literal = value.toBool() ? QStringLiteral(".T.") : QStringLiteral(".F.");
      break;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
      literal = NumberLiteral(value, decimals);
      break;
    case ftDate:
      literal = DateLiteral(value.toDate());
      break;
    default:
      term.why = QObject::tr("A filter cannot compare the field %1 with a value").arg(fieldName);
      break;
  }
  if (!literal.isEmpty()) term.text = fieldName + QLatin1Char('=') + literal;
  return term;
}

QString JoinFilter(const QString& current, const QString& term) {
  if (current.trimmed().isEmpty()) return term;
  return current + QStringLiteral(" .AND. ") + term;
}

QString LockProtocolName(tolvern::TkxLokProtocol protocol) {
  switch (protocol) {
    case tolvern::TkxLokProtocol::ClipLock:
      return QObject::tr("Locks: Clipper");
    case tolvern::TkxLokProtocol::FoxLock:
      return QObject::tr("Locks: FoxPro");
    case tolvern::TkxLokProtocol::DB4Lock:
      return QObject::tr("Locks: dBase IV");
    default:
      return QObject::tr("Locks: Default");
  }
}

std::string EngineDateFormat(const QString& qtPattern) {
  std::string out;
  bool day = false, month = false, year = false;
  for (int i = 0; i < qtPattern.size();) {
    const QChar c = qtPattern[i];
    int run = 1;
    while (i + run < qtPattern.size() && qtPattern[i + run] == c) ++run;
    if (c == QLatin1Char('d') && run <= 2) {
      out += "DD";
      day = true;
    } else if (c == QLatin1Char('M') && run <= 2) {
      out += "MM";
      month = true;
    } else if (c == QLatin1Char('y')) {
      out += "YYYY";
      year = true;
    } else if (!c.isLetter() && c != QLatin1Char('\'') && c.unicode() < 128) {
      out.append(static_cast<size_t>(run), static_cast<char>(c.unicode()));
    } else {
      return "MM/DD/YYYY";  // day names, month names or quoted text: no short date
    }
    i += run;
  }
  return day && month && year ? out : "MM/DD/YYYY";
}

QString StructureTypeLetter(TFieldType type) {
  switch (type) {
    case ftString:
      return QStringLiteral("C");
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
      return QStringLiteral("N");
    case ftBoolean:
      return QStringLiteral("L");
    case ftDate:
      return QStringLiteral("D");
    case ftDateTime:
      return QStringLiteral("T");
    case ftBlob:
      return QStringLiteral("B");
    case ftMemo:
      return QStringLiteral("M");
    default:
      return QStringLiteral("?");
  }
}

}  // namespace fendral
