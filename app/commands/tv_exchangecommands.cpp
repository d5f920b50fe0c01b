#include "tv_exchangecommands.h"

#include <QFile>
#include <QFileInfo>

#include "platform/pf_text.h"
#include "tv_apperror.h"
#include "tv_commandtext.h"
#include "tv_resolve.h"
#include "tv_tableaccess.h"

namespace fendral {

namespace {

const char* const kExtensions[] = {"csv", "jsonl", "sqlite"};

// The delimiter of a CSV file: of comma, semicolon and tab, the one its first line (the
// header row) holds most often outside quotes; a comma when it holds none.
char DelimiterOf(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return ',';
  const QByteArray line = file.readLine(64 * 1024);
  int commas = 0, semicolons = 0, tabs = 0;
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    commas += c == ',';
    semicolons += c == ';';
    tabs += c == '\t';
  }
  if (semicolons > commas && semicolons >= tabs) return ';';
  if (tabs > commas && tabs > semicolons) return '\t';
  return ',';
}

// The schema sidecar of a JSON Lines file: "name.jsonl" -> "name.schema.json".
QString SchemaFileOf(const QString& path) {
  const QFileInfo info(path);
  return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
         QStringLiteral(".schema.json");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Export

QString TExportAsCommand::Title() const { return TWindowText::tr("Export as"); }

bool TExportAsCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  choice_.file =
      directory_ + QFileInfo(table_.TableName()).completeBaseName() + QStringLiteral(".csv");
  if (!dialogs.ChooseExport(Title(), choice_)) return false;
  if (choice_.file.trimmed().isEmpty()) return false;
  const int format = std::clamp(static_cast<int>(choice_.format), 0, 2);
  const QString path = WithDefaultExtension(InTableDirectory(directory_, choice_.file.trimmed()),
                                            QLatin1String(kExtensions[format]));

  options_ = cli::ExchangeOptions{};
  if (choice_.format == TExportChoice::kCsv) {
    const QString delimiter =
        choice_.delimiter.compare(QLatin1String("tab"), Qt::CaseInsensitive) == 0
            ? QStringLiteral("\t")
            : choice_.delimiter;
    const QChar c = delimiter.size() == 1 ? delimiter[0] : QChar();
    if (c.isNull() || c.unicode() >= 0x80 || c == QLatin1Char('"') || c == QLatin1Char('\r') ||
        c == QLatin1Char('\n'))
      throw EAppError(TWindowText::tr(
          "The delimiter is one character other than a quote or a line end, or Tab."));
    options_.delimiter = static_cast<char>(c.unicode());
    const std::string encoding = choice_.encoding.trimmed().toStdString();
    const QString upper = choice_.encoding.trimmed().toUpper();
    if (upper != QLatin1String("UTF-8") && upper != QLatin1String("UTF8") &&
        !tolvern::platform::IsKnownCodePage(encoding))
      throw EAppError(TWindowText::tr("Unknown encoding %1").arg(choice_.encoding));
    options_.encoding = encoding;
    options_.header = choice_.header;
  }
  QStringList existing;
  if (QFileInfo::exists(path)) existing << path;
  if (choice_.format == TExportChoice::kJsonLines && QFileInfo::exists(SchemaFileOf(path)))
    existing << SchemaFileOf(path);
  if (!existing.isEmpty() &&
      !dialogs.ConfirmDefaultNo(
          Title(),
          TWindowText::tr("%1 exists. Replace it?").arg(existing.join(QStringLiteral(", ")))))
    return false;

  table_.CheckBrowseMode();
  options_.tablePath = QFileInfo(table_.TableFilePath()).absoluteFilePath().toStdString();
  options_.table = choice_.currentOrder ? table_.Handler() : nullptr;
  options_.codePage = table_.CodePageInUse();
  options_.withDeleted = choice_.withDeleted;
  options_.file = path.toStdString();
  if (choice_.format == TExportChoice::kJsonLines)
    options_.schemaFile = SchemaFileOf(path).toStdString();
  return true;
}

void TExportAsCommand::Execute(tolvern::TkxProgress& progress) {
  switch (choice_.format) {
    case TExportChoice::kCsv:
      result_ = cli::ExportCsvFile(options_, &progress);
      break;
    case TExportChoice::kJsonLines:
      result_ = cli::ExportJsonLinesFile(options_, &progress);
      break;
    case TExportChoice::kSqlite:
      result_ = cli::ExportSqliteFile(options_, &progress);
      break;
  }
}

TCommandOutcome TExportAsCommand::Finish(TAppDialogs& dialogs, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  // The browse page's own table walked the records: the page goes back to its first one.
  outcome.toFirst = options_.table != nullptr;
  if (error) return outcome;
  outcome.records = result_.records;
  outcome.filesMade << QString::fromStdString(options_.file);
  if (!options_.schemaFile.empty())
    outcome.filesMade << QString::fromStdString(options_.schemaFile);
  for (const std::string& tag : result_.skipped)
    outcome.skipped
        << TWindowText::tr("No SQLite index for tag %1").arg(QString::fromStdString(tag));
  if (!result_.clean)
    outcome.skipped << TWindowText::tr("Some values could not be read; they were written empty.");
  if (!outcome.skipped.isEmpty()) dialogs.Message(Title(), outcome.skipped.join(QLatin1Char('\n')));
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Import

QString TImportCsvCommand::Title() const { return TWindowText::tr("Import CSV"); }

bool TImportCsvCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  const QString chosen =
      dialogs.OpenFile(Title(), directory_,
                       TWindowText::tr("CSV files") + QStringLiteral(" (*.csv *.CSV *.Csv);;") +
                           TWindowText::tr("All files") + QStringLiteral(" (*)"));
  if (chosen.isEmpty()) return false;
  options_ = cli::ExchangeOptions{};
  const QString file = InTableDirectory(directory_, chosen);
  options_.file = file.toStdString();
  options_.delimiter = DelimiterOf(file);
  options_.codePage = table_.CodePageInUse();
  tablePath_ = QFileInfo(table_.TableFilePath()).absoluteFilePath();
  options_.tablePath = tablePath_.toStdString();
  table_.CheckBrowseMode();
  return true;
}

void TImportCsvCommand::Execute(tolvern::TkxProgress& progress) {
  // Appending many records goes much faster with the table to itself; while another
  // program has it open, the rows are appended beside that program.
  TExclusiveTable unshared(table_, TExclusiveTable::kOrShared);
  options_.table = table_.Handler();
  cli::ImportCsvFile(options_, &progress, &appended_);
}

TCommandOutcome TImportCsvCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.records = appended_;
  outcome.reopen = tablePath_;
  if (outcome.cancelled)
    outcome.message = TWindowText::tr("The import was cancelled; %n record(s) were appended.",
                                      nullptr, static_cast<int>(appended_));
  return outcome;
}

}  // namespace fendral
