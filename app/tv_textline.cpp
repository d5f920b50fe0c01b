#include "tv_textline.h"

namespace fendral {

QString SeparatorOf(const QString& answer) {
  const QString upper = answer.toUpper();
  if (upper == QLatin1String("TAB")) return QStringLiteral("\t");
  if (upper == QLatin1String("SPS")) return QStringLiteral(" ");
  return answer;
}

QByteArray JoinValues(const std::vector<QByteArray>& values, const QByteArray& separator) {
  QByteArray line;
  qsizetype size = 0;
  for (const QByteArray& value : values) size += value.size() + separator.size();
  line.reserve(size);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += separator;
    line += values[i];
  }
  return line;
}

std::vector<QByteArray> SplitValues(const QByteArray& line, const QByteArray& separator,
                                    int count) {
  std::vector<QByteArray> values(static_cast<size_t>(std::max(count, 0)));
  if (separator.isEmpty()) {
    if (!values.empty()) values[0] = line;
    return values;
  }
  qsizetype from = 0;
  for (QByteArray& value : values) {
    if (from > line.size()) break;  // the line is used up
    qsizetype at = line.indexOf(separator, from);
    if (at < 0) at = line.size();
    value = line.mid(from, at - from);
    from = at + separator.size();
  }
  return values;
}

int FirstUnsafeValue(const std::vector<QByteArray>& values, const QByteArray& separator) {
  for (size_t i = 0; i < values.size(); ++i) {
    const QByteArray& value = values[i];
    if ((!separator.isEmpty() && value.contains(separator)) || value.contains('\n') ||
        value.contains('\r'))
      return static_cast<int>(i);
  }
  return -1;
}

QByteArray WithoutLineEnd(QByteArray line) {
  if (line.endsWith('\n')) line.chop(1);
  if (line.endsWith('\r')) line.chop(1);
  return line;
}

QString DateText(const QDate& date) {
  return QStringLiteral("%1%2%3")
      .arg(date.year(), 4, 10, QLatin1Char('0'))
      .arg(date.month(), 2, 10, QLatin1Char('0'))
      .arg(date.day(), 2, 10, QLatin1Char('0'));
}

std::optional<QDate> ParseDate(const QString& text) {
  const QString trimmed = text.trimmed();
  // yyyymmdd, or yyyy-mm-dd: digits at fixed places.
  const bool dashes = trimmed.size() == 10;
  if (trimmed.size() != 8 && !dashes) return std::nullopt;
  if (dashes && (trimmed[4] != QLatin1Char('-') || trimmed[7] != QLatin1Char('-')))
    return std::nullopt;
  int parts[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  qsizetype at = 0;
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < widths[p]; ++i, ++at) {
      const QChar c = trimmed[at];
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
      parts[p] = parts[p] * 10 + (c.unicode() - '0');
    }
    if (dashes && p < 2) ++at;
  }
  const QDate date(parts[0], parts[1], parts[2]);
  if (!date.isValid()) return std::nullopt;
  return date;
}

}  // namespace fendral
