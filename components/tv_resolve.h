// Where tables live: the program-wide alias list read from `tolvern.cfg`, the directory a
// dataset's DatabaseName stands for, and the completion of table and index file names.
//
// Paths keep the case the user or the directory gave; only alias names are compared
// without regard to case.
#pragma once

#include <QString>
#include <QStringList>

namespace fendral {

// The DatabaseName that stands for the directory of the program's executable.
inline const QString kDefaultDirectory = QStringLiteral("Default Directory");

// The alias list: its first line is "Default Directory", every other line "NAME=DIRECTORY".
// Read on first use from section "Alias" of `tolvern.cfg` in the user's configuration
// directory (a missing or unreadable file gives no aliases).
class TTVAliasList {
 public:
  static TTVAliasList& Instance();

  // Reads the configuration file again (for example after the configuration directory
  // changed); aliases added at run time are dropped.
  void Reload();
  QStringList Lines() const;
  // The directory of alias `name` (any case), or a null string.
  QString Lookup(const QString& name) const;
  // Adds NAME=DIRECTORY, replacing the directory of an alias of that name.
  void Add(const QString& name, const QString& directory);
  // The configuration file this list reads.
  static QString ConfigFile();

 private:
  TTVAliasList();
  void Load();
  QStringList lines_;
};

// The directory DatabaseName stands for, with a trailing "/" when it is not empty: the
// executable's directory for "Default Directory" (any case), an alias's directory, else
// DatabaseName itself.
QString ResolveTableDirectory(const QString& databaseName);

// The table file for `tableName` in `directory`: the name as given when it has an
// extension; otherwise NAME.dbf in any letter case (the existing entry), or NAME.DBF when
// none exists. `directory` is ignored for an absolute `tableName`.
QString CompleteTableFile(const QString& directory, const QString& tableName);

// The index file for `name`: the table directory in front when it has no directory,
// ".ndx" in any letter case when it has no extension (the existing entry, else ".NDX").
// An existing file whose name differs only in case is found.
QString CompleteIndexFile(const QString& tableDirectory, const QString& name);

// Splits an index list at blanks, commas and semicolons; a double quote toggles quoting
// (quotes are dropped); empty names are skipped.
QStringList SplitIndexList(const QString& list);

}  // namespace fendral
