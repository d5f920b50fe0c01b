#include "tv_create.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <set>

#include "db_error.h"
#include "kx6_build.h"
#include "tv_codepage.h"

namespace fendral {

namespace {

bool ParseInteger(const QString& text, int& value) {
  bool ok = false;
  value = text.trimmed().toInt(&ok);
  return ok;
}

}  // namespace

bool ParseFieldLine(const QString& line, TTVFieldLine& out) {
  const qsizetype first = line.indexOf(QLatin1Char(';'));
  if (first < 0) return false;
  const qsizetype second = line.indexOf(QLatin1Char(';'), first + 1);
  if (second != first + 2) return false;  // the type is exactly one character
  const qsizetype third = line.indexOf(QLatin1Char(';'), second + 1);
  if (third < 0) return false;
  const QString decimals = line.mid(third + 1);
  if (decimals.size() > 3) return false;
  TTVFieldLine field;
  field.name = line.left(first).left(10);
  const QChar type = line.at(first + 1);
  if (type.unicode() > 0x7F) return false;
  field.type = static_cast<char>(type.unicode());
  if (!ParseInteger(line.mid(second + 1, third - second - 1), field.length)) return false;
  if (!ParseInteger(decimals, field.decimals)) return false;
  out = field;
  return true;
}

std::vector<TTVFieldLine> ParseFieldList(const QStringList& lines) {
  const QString invalid = QCoreApplication::translate("Tolvern", "Field list is invalid");
  if (lines.isEmpty()) DatabaseError(invalid);
  std::vector<TTVFieldLine> fields;
  std::set<QString> names;
  for (const QString& line : lines) {
    TTVFieldLine field;
    if (!ParseFieldLine(line, field)) DatabaseError(invalid);
    if (!names.insert(field.name.toUpper()).second) DatabaseError(invalid);
    fields.push_back(field);
  }
  return fields;
}

void RemoveTableFiles(const QString& tablePath) {
  const QFileInfo table(tablePath);
  const QString base = table.completeBaseName();
  static const QStringList kCompanions = {QStringLiteral("dbt"), QStringLiteral("fpt"),
                                          QStringLiteral("cdx"), QStringLiteral("mdx"),
                                          QStringLiteral("ntx"), QStringLiteral("ndx")};
  QDir dir = table.dir();
  for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
    if (entry.completeBaseName().compare(base, Qt::CaseInsensitive) != 0) continue;
    if (entry.fileName() == table.fileName() ||
        kCompanions.contains(entry.suffix(), Qt::CaseInsensitive)) {
      QFile::remove(entry.filePath());
    }
  }
}

namespace {

std::unique_ptr<tolvern::KXO_DBFBuild> MakeBuilder(const std::string& path, TkxDBFTypes type,
                                                   uint16_t memoBlockSize) {
  std::unique_ptr<tolvern::KXO_DBFBuild> builder;
  switch (type) {
    case TkxDBFTypes::DBaseIV:
      builder = std::make_unique<tolvern::KXO_DB4Build>(path);
      break;
    case TkxDBFTypes::FoxPro2:
      builder = std::make_unique<tolvern::KXO_DBFoxBuild>(path);
      builder->SetMemoBlockSize(memoBlockSize);
      break;
    case TkxDBFTypes::Clipper:
    case TkxDBFTypes::DBaseIII:
      builder = std::make_unique<tolvern::KXO_DBFBuild>(path);
      break;
  }
  return builder;
}

// Adds every field; false (after the engine's report) when one is refused.
bool AddFields(tolvern::KXO_DBFBuild& builder, const std::vector<TTVFieldLine>& fields,
               const TTVCodePage& names) {
  for (const TTVFieldLine& field : fields) {
    std::string name;
    if (!names.Encode(field.name, name))
      DatabaseError(QCoreApplication::translate("Tolvern", "Field list is invalid"));
    if (builder.AddField(name, field.type, field.length, field.decimals) < 0) return false;
  }
  return true;
}

}  // namespace

bool WriteNewTable(const QString& tablePath, const std::vector<TTVFieldLine>& fields,
                   TkxDBFTypes type, uint16_t memoBlockSize, const std::string& codePage,
                   bool replace) {
  const std::string path = QFile::encodeName(tablePath).toStdString();
  const auto names = TTVCodePage::Get(codePage);
  {
    // Every definition is checked before an old table is removed.
    auto check = MakeBuilder(path, type, memoBlockSize);
    check->SetWriteEnabled(false);
    if (!AddFields(*check, fields, *names)) return false;
  }
  if (replace) RemoveTableFiles(tablePath);
  auto builder = MakeBuilder(path, type, memoBlockSize);
  if (!AddFields(*builder, fields, *names)) {
    builder->SetWriteEnabled(false);
    return false;
  }
  builder->WriteTable();
  const bool created = builder->TableFile() != nullptr;
  builder->SetWriteEnabled(false);
  return created;
}

}  // namespace fendral
