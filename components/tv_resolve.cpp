#include "tv_resolve.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <optional>

#include "platform/pf_misc.h"
#include "platform/pf_path.h"

namespace fendral {

namespace {

// The entry of `directory` named `fileName`, exactly or ignoring ASCII case.
std::optional<QString> FindEntry(const QString& directory, const QString& fileName) {
  const auto found = tolvern::platform::FindCompanion(
      QFile::encodeName(directory.isEmpty() ? QStringLiteral(".") : directory).toStdString(),
      QFile::encodeName(fileName).toStdString());
  if (!found) return std::nullopt;
  return QFile::decodeName(QByteArray::fromStdString(*found));
}

QString WithSlash(QString dir) {
  if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir;
}

// `name` completed with `ext` (in any letter case) when it has no extension; a name
// without directory lies in `directory`.
QString CompleteName(const QString& directory, const QString& name, const QString& ext) {
  const QString full =
      QFileInfo(name).isAbsolute() || directory.isEmpty() ? name : WithSlash(directory) + name;
  const QFileInfo info(full);
  const QString dir = full.contains(QLatin1Char('/')) ? info.path() : QString();
  const QString file = info.fileName();
  const QString prefix = dir.isEmpty() ? QString() : WithSlash(dir);
  const bool hasExtension =
      !tolvern::platform::ExtensionOf(QFile::encodeName(file).toStdString()).empty();
  if (hasExtension) {
    if (QFileInfo::exists(prefix + file)) return prefix + file;
    if (auto entry = FindEntry(dir, file)) return *entry;
    return prefix + file;
  }
  if (auto entry = FindEntry(dir, file + ext.toLower())) return *entry;
  return prefix + file + ext.toUpper();
}

}  // namespace

TTVAliasList& TTVAliasList::Instance() {
  static TTVAliasList list;
  return list;
}

TTVAliasList::TTVAliasList() { Load(); }

QString TTVAliasList::ConfigFile() {
  return WithSlash(
             QFile::decodeName(QByteArray::fromStdString(tolvern::platform::ConfigDirectory()))) +
         QStringLiteral("tolvern.cfg");
}

void TTVAliasList::Reload() { Load(); }

void TTVAliasList::Load() {
  lines_ = QStringList{kDefaultDirectory};
  QFile file(ConfigFile());
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  QTextStream in(&file);
  bool inAlias = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
      continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      inAlias = line.mid(1, line.size() - 2)
                    .trimmed()
                    .compare(QStringLiteral("Alias"), Qt::CaseInsensitive) == 0;
      continue;
    }
    if (!inAlias) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key.isEmpty() || value.isEmpty()) continue;
    Add(key, value);
  }
}

QStringList TTVAliasList::Lines() const { return lines_; }

QString TTVAliasList::Lookup(const QString& name) const {
  for (qsizetype i = 1; i < lines_.size(); ++i) {
    const QString& line = lines_[i];
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (line.left(eq).compare(name, Qt::CaseInsensitive) == 0) return line.mid(eq + 1);
  }
  return {};
}

void TTVAliasList::Add(const QString& name, const QString& directory) {
  for (qsizetype i = 1; i < lines_.size(); ++i) {
    const qsizetype eq = lines_[i].indexOf(QLatin1Char('='));
    if (lines_[i].left(eq).compare(name, Qt::CaseInsensitive) == 0) {
      lines_[i] = lines_[i].left(eq) + QLatin1Char('=') + directory;
      return;
    }
  }
  lines_ << name + QLatin1Char('=') + directory;
}

QString ResolveTableDirectory(const QString& databaseName) {
  if (databaseName.compare(kDefaultDirectory, Qt::CaseInsensitive) == 0)
    return WithSlash(QCoreApplication::applicationDirPath());
  const QString alias = TTVAliasList::Instance().Lookup(databaseName);
  return WithSlash(alias.isNull() ? databaseName : alias);
}

QString CompleteTableFile(const QString& directory, const QString& tableName) {
  return CompleteName(directory, tableName, QStringLiteral(".dbf"));
}

QString CompleteIndexFile(const QString& tableDirectory, const QString& name) {
  return CompleteName(tableDirectory, name, QStringLiteral(".ndx"));
}

QStringList SplitIndexList(const QString& list) {
  QStringList names;
  QString current;
  bool quoted = false;
  for (QChar c : list) {
    if (c == QLatin1Char('"')) {
      quoted = !quoted;
    } else if (!quoted &&
               (c == QLatin1Char(' ') || c == QLatin1Char(',') || c == QLatin1Char(';'))) {
      if (!current.isEmpty()) names << current;
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.isEmpty()) names << current;
  return names;
}

std::string Path8(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromPath8(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

namespace {

// The one spelling of `path`: the canonical path of an existing file; otherwise its
// directory's canonical path (when the directory exists) with the file name; otherwise
// the clean absolute path.
QString OneSpelling(const QString& path) {
  const QFileInfo info(path);
  if (info.exists()) return info.canonicalFilePath();
  const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
  if (!dir.isEmpty()) return QDir::cleanPath(dir + QLatin1Char('/') + info.fileName());
  return QDir::cleanPath(info.absoluteFilePath());
}

}  // namespace

bool SameFile(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  return OneSpelling(a) == OneSpelling(b);
}

QString InTableDirectory(const QString& directory, const QString& answer) {
  if (QFileInfo(answer).isAbsolute()) return QDir::cleanPath(answer);
  return QDir::cleanPath(WithSlash(directory) + answer);
}

QString WithDefaultExtension(const QString& path, const QString& extension) {
  if (QFileInfo(path).fileName().contains(QLatin1Char('.'))) return path;
  return path + QLatin1Char('.') + extension;
}

QStringList FilesNamedLike(const QString& tablePath, const QStringList& suffixes) {
  const QFileInfo table(tablePath);
  QStringList found;
  const QFileInfoList entries = QDir(table.absolutePath()).entryInfoList(QDir::Files, QDir::Name);
  for (const QFileInfo& entry : entries)
    if (entry.completeBaseName().compare(table.completeBaseName(), Qt::CaseInsensitive) == 0 &&
        suffixes.contains(entry.suffix(), Qt::CaseInsensitive))
      found << entry.absoluteFilePath();
  return found;
}

QString IndexFileForCopy(const QString& indexPath, const QString& tablePath,
                         const QString& copyPath) {
  const QFileInfo index(indexPath);
  const QString tableBase = QFileInfo(tablePath).completeBaseName();
  const QFileInfo copy(copyPath);
  QString base = index.completeBaseName();
  if (base.startsWith(tableBase, Qt::CaseInsensitive))
    base = copy.completeBaseName() + base.mid(tableBase.size());
  else
    base = copy.completeBaseName() + QLatin1Char('_') + base;
  return copy.absolutePath() + QLatin1Char('/') + base + QLatin1Char('.') + index.suffix();
}

}  // namespace fendral
