// Where tables live: the program-wide alias list read from `tolvern.cfg`, the directory a
// dataset's DatabaseName stands for, and the completion of table and index file names.
//
// Paths keep the case the user or the directory gave; only alias names are compared
// without regard to case.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

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

// --- Paths handed to the engine and a table's companion files

// `path` in the bytes the file system uses (the engine's form), and back.
std::string Path8(const QString& path);
QString FromPath8(const std::string& path);

// True when `a` and `b` name the same file: for files that exist, their canonical paths
// are equal (links resolved); a name of a file not there yet is compared with its
// directory resolved, so two spellings of one new file are the same too.
bool SameFile(const QString& a, const QString& b);

// `answer` typed by the user as a path: a relative one lies in `directory`.
QString InTableDirectory(const QString& directory, const QString& answer);

// `path` with `extension` (without the dot) appended when its file name has no ".".
QString WithDefaultExtension(const QString& path, const QString& extension);

// The files of `tablePath`'s directory named like the table (before the extension) with
// one of `suffixes`, both compared ignoring case.
QStringList FilesNamedLike(const QString& tablePath, const QStringList& suffixes);

// The name index file `indexPath` of the table `tablePath` gets for its copy at
// `copyPath`: in the copy's directory, the table's name replaced by the copy's (a file not
// named after the table gets the copy's name and "_" in front), the extension kept.
QString IndexFileForCopy(const QString& indexPath, const QString& tablePath,
                         const QString& copyPath);

}  // namespace fendral
