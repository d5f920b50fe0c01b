// The field list of a new table in text form ("NAME;T;LEN;DEC", one field a line) and the
// writing of the new, empty table.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

namespace fendral {

// The flavour of a new table.
enum class TkxDBFTypes { Clipper = 0, DBaseIII = 1, DBaseIV = 2, FoxPro2 = 3 };

struct TTVFieldLine {
  QString name;  // at most 10 characters
  char type = 'C';
  int length = 0;
  int decimals = 0;
};

// Parses one definition: the name before the first ";", a type of exactly one character,
// the length and the decimal count as integers (the decimal count at most three
// characters, nothing after it). False for a line that is not one.
bool ParseFieldLine(const QString& line, TTVFieldLine& out);

// Parses every line; raises "Field list is invalid" for an empty list, a line that does
// not parse or a name (upper-cased) that repeats.
std::vector<TTVFieldLine> ParseFieldList(const QStringList& lines);

// Removes a table file together with its memo file and the index files named like it
// (any letter case), so that a new table of that name starts without them.
void RemoveTableFiles(const QString& tablePath);

// Writes the new, empty table `tablePath` (and its memo file when a field needs one).
// Field names are stored in `codePage`. Every definition is checked first; then, with
// `replace`, the old table's files go (RemoveTableFiles). Engine errors pass through;
// answers whether the file was created.
bool WriteNewTable(const QString& tablePath, const std::vector<TTVFieldLine>& fields,
                   TkxDBFTypes type, uint16_t memoBlockSize, const std::string& codePage,
                   bool replace);

}  // namespace fendral
