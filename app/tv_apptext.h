// Texts and choices of the main window that depend only on values: the header stamp line,
// the filter term a title click adds, and the lock protocol for what a table has open.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <string>

#include "fields.h"
#include "kx6_DBF.h"

namespace fendral {

// "Last DBF update: Date: DD.MM.YY, Time: hh:mm:ss:ms, User: n" from the header's date
// (its year, month and day bytes packed as GetHeaderInfo answers them) and time stamp.
QString HeaderStampText(int32_t updateDate, uint32_t updateStamp, uint32_t userId);

// The text a click on a column title adds to the filter box: `name=value` written so that
// the expression language compiles it. Empty with `why` set when the field's type has no
// literal (memo, binary, date-time) or the value cannot be written as one.
struct TFilterTerm {
  QString text;
  QString why;
};
TFilterTerm FilterTermFor(const QString& fieldName, TFieldType type, const QVariant& value,
                          int decimals);
// Appends `term` to the filter text `current`, joined by " .AND. " when not empty.
QString JoinFilter(const QString& current, const QString& term);

QString LockProtocolName(tolvern::TkxLokProtocol protocol);

// The letter the structure page shows for a field of dataset type `type`: C, N (every
// number), L, D, T, B, M; "?" for any other.
QString StructureTypeLetter(TFieldType type);

// The engine's short date format (letters D, M, Y and separators, two-digit day and
// month, four-digit year) for a Qt date pattern such as the locale's "dd/MM/yyyy" or
// "M/d/yy"; "MM/DD/YYYY" when the pattern does not name day, month and year.
std::string EngineDateFormat(const QString& qtPattern);

}  // namespace fendral
