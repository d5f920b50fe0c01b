// Delimited text lines of the text export and import, apart from any table: the separator a
// user's answer names, one record's values joined into a line, a line split back into
// values, and the locale-independent text form of dates.
//
// A line is the values in field order joined by the separator; nothing follows the last
// value, an empty value is written as nothing, and nothing is quoted or escaped. A value
// that holds the separator or a line break therefore cannot be read back as it was.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>
#include <vector>

namespace fendral {

// The separator an answer names: "TAB" is one tab and "SPS" one space, in any letter case;
// any other answer is used as typed. Empty when the answer is empty.
QString SeparatorOf(const QString& answer);

QByteArray JoinValues(const std::vector<QByteArray>& values, const QByteArray& separator);

// Exactly `count` values of `line`: each is the text before the next separator. Values the
// line does not hold (it is used up) are empty; values beyond `count` are ignored.
std::vector<QByteArray> SplitValues(const QByteArray& line, const QByteArray& separator, int count);

// The index of the first value that holds the separator or a line break; -1 when none does.
int FirstUnsafeValue(const std::vector<QByteArray>& values, const QByteArray& separator);

// Removes the line end ("\n" or "\r\n") a line read from a file carries.
QByteArray WithoutLineEnd(QByteArray line);

// Dates as the table stores them, yyyymmdd; the reader also takes yyyy-mm-dd.
QString DateText(const QDate& date);
std::optional<QDate> ParseDate(const QString& text);

}  // namespace fendral
