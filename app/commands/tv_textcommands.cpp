#include "tv_textcommands.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTime>
#include <algorithm>
#include <span>

#include "kx6_cnst.h"
#include "tv_appdialogs.h"
#include "tv_apperror.h"
#include "tv_commandtext.h"
#include "tv_resolve.h"
#include "tv_scopeexit.h"
#include "tv_tableaccess.h"
#include "tv_textline.h"

namespace fendral {

namespace {

constexpr int kMsPerDay = 86400000;
// Appended records gathered before they reach a table opened unshared.
constexpr int32_t kWriteBehindBytes = 256 * 1024;

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

bool IsMemoField(const DBFObject& table, const tolvern::DbfFieldInfo& field) {
  const bool visual = table.Version() == 0x30;
  return field.type == 'M' || field.type == 'G' || field.type == (visual ? 'W' : 'B');
}

// The text of field `f` of the record in the handler's buffer; empty when it has none.
// Text is the table's own bytes. Binary memos have no text form.
QByteArray ValueText(DBFObject& table, int32_t f, tolvern::TkxFieldValue& value) {
  table.ReadFieldValue(f, value);
  switch (value.kind) {
    case tolvern::TkxValueKind::kNull:
      return {};
    case tolvern::TkxValueKind::kLogical:
      return value.logical ? QByteArray("T") : QByteArray("F");
    case tolvern::TkxValueKind::kTimestamp:
      return QDateTime(QDate::fromJulianDay(value.day), QTime::fromMSecsSinceStartOfDay(value.ms))
          .toString(Qt::ISODateWithMs)
          .toLatin1();
    case tolvern::TkxValueKind::kMemo: {
      if (value.binaryMemo) return {};
      std::vector<uint8_t> memo;
      if (!table.ReadMemo(f, memo)) return {};
      return QByteArray(reinterpret_cast<const char*>(memo.data()),
                        static_cast<qsizetype>(memo.size()));
    }
    default:  // text, numbers and dates as stored, raw and invalid values as they are
      return Bytes(value.text);
  }
}

[[noreturn]] void Refuse(const QString& why) { throw EAppError(why); }

// Stores `text` read from a line into field `field` of the record in the handler's buffer;
// memo texts are kept in `memos` for the write after every other field was taken.
void PutText(DBFObject& table, const tolvern::DbfFieldInfo& field, const QByteArray& text,
             std::vector<std::pair<int32_t, QByteArray>>& memos) {
  const int32_t f = field.number;
  if (text.isEmpty()) {
    // No value: blank, also where a new record would start with a zero.
    if (field.type == 'N' || field.type == 'F') table.PutRawField(f, std::string());
    return;
  }
  const auto shown = [&] { return QString::fromLatin1(text.left(40)); };
  if (IsMemoField(table, field)) {
    memos.emplace_back(f, text);
    return;
  }
  const bool visual = table.Version() == 0x30;
  if (visual && field.type == 'T') {
    const QDateTime stamp =
        QDateTime::fromString(QString::fromLatin1(text).trimmed(), Qt::ISODateWithMs);
    if (!stamp.isValid()) Refuse(QObject::tr("'%1' is not a date and time").arg(shown()));
    const int ms = stamp.time().msecsSinceStartOfDay();
    if (!table.PutTimestamp(f, static_cast<int32_t>(stamp.date().toJulianDay()),
                            std::clamp(ms, 0, kMsPerDay - 1)))
      Refuse(QObject::tr("'%1' is not a date and time").arg(shown()));
    return;
  }
  switch (field.type) {
    case 'C':
      if (text.size() > field.length)
        Refuse(QObject::tr("'%1' is longer than the field's %2 characters")
                   .arg(shown())
                   .arg(field.length));
      table.PutRawField(f, text.toStdString());
      return;
    case 'N':
    case 'F':
    case 'I':
    case 'B':
    case 'Y':
      if (!table.PutNumberText(f, text.trimmed().toStdString()))
        Refuse(QObject::tr("'%1' is not a number the field can hold").arg(shown()));
      return;
    case 'D': {
      const std::optional<QDate> date = ParseDate(QString::fromLatin1(text));
      if (!date) Refuse(QObject::tr("'%1' is not a date").arg(shown()));
      table.PutRawField(f, text.size() == 8 ? text.toStdString() : DateText(*date).toStdString());
      return;
    }
    case 'L': {
      const QByteArray upper = text.trimmed().toUpper();
      if (upper == "T" || upper == "Y" || upper == ".T." || upper == "TRUE")
        table.PutLogical(f, true);
      else if (upper == "F" || upper == "N" || upper == ".F." || upper == "FALSE")
        table.PutLogical(f, false);
      else
        Refuse(QObject::tr("'%1' is not a logical value").arg(shown()));
      return;
    }
    default:
      if (text.size() > field.length)
        Refuse(
            QObject::tr("'%1' is longer than the field's %2 bytes").arg(shown()).arg(field.length));
      table.PutRawField(f, text.toStdString());
      return;
  }
}

// Takes line `lineNo`'s `values` into a blank record in the handler's buffer (memo texts
// into `memos`); an error names the line and the field.
void TakeLine(DBFObject& table, const std::vector<tolvern::DbfFieldInfo>& fields,
              const std::vector<QByteArray>& values, int64_t lineNo,
              std::vector<std::pair<int32_t, QByteArray>>& memos) {
  size_t i = 0;
  try {
    table.BlankRecord();
    memos.clear();
    for (; i < fields.size(); ++i) PutText(table, fields[i], values[i], memos);
  } catch (const std::exception& error) {
    const QString where = TWindowText::tr("Line %1, field %2: ")
                              .arg(lineNo)
                              .arg(QString::fromStdString(fields[i].name));
    throw EAppError(where + ErrorText(error));
  }
}

}  // namespace

bool AskSeparator(TAppDialogs& dialogs, TTolvernDataSet& table, QByteArray& separator) {
  QString answer = QStringLiteral(";");
  if (!dialogs.InputText(TWindowText::tr("What will be a Separator? "),
                         TWindowText::tr("Separator: . , ; : Tab Sps"), answer))
    return false;
  const QString chosen = SeparatorOf(answer);
  if (chosen.isEmpty()) return false;
  separator = Bytes(table.Core().Encode(chosen, TWindowText::tr("Separator")));
  return true;
}

// ---------------------------------------------------------------------------------------
// Export

QString TExportTextCommand::Title() const { return TWindowText::tr("Export base in TXT"); }

bool TExportTextCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  QString answer = QFileInfo(table_.TableName()).completeBaseName() + QStringLiteral(".txt");
  if (!dialogs.InputText(TWindowText::tr("Export name TXT file"), TWindowText::tr("File Name:"),
                         answer))
    return false;
  answer = answer.trimmed();
  if (answer.isEmpty()) return false;
  if (!AskSeparator(dialogs, table_, separator_)) return false;
  path_ = WithDefaultExtension(InTableDirectory(directory_, answer), QStringLiteral("txt"));
  table_.CheckBrowseMode();
  return true;
}

void TExportTextCommand::Execute(tolvern::TkxProgress& progress) {
  // Written beside the target and put in its place once complete.
  QSaveFile out(path_);
  if (!out.open(QIODevice::WriteOnly))
    throw EAppError(TWindowText::tr("Cannot create %1: %2").arg(path_, out.errorString()));
  // The records the browse page shows, in its order, read by the table's own handler.
  DBFObject& table = *table_.Handler();
  const std::vector<tolvern::DbfFieldInfo>& fields = table.Fields();
  std::vector<QByteArray> values(fields.size());
  tolvern::TkxFieldValue value;
  QByteArray line;
  tolvern::TkxProgressScope scope(&progress, tolvern::kStatusExport, table.RecordCount());
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
    for (size_t i = 0; i < fields.size(); ++i)
      values[i] = ValueText(table, fields[i].number, value);
    if (unsafe_.isEmpty()) {
      const int at = FirstUnsafeValue(values, separator_);
      if (at >= 0)
        unsafe_ = TWindowText::tr(
                      "Record %1, field %2 holds the separator or a line break: that line will "
                      "not read back as it was.")
                      .arg(table.CurrentRecord())
                      .arg(QString::fromStdString(fields[static_cast<size_t>(at)].name));
    }
    line = JoinValues(values, separator_);
    line += '\n';
    if (out.write(line) != line.size())
      throw EAppError(TWindowText::tr("Cannot write %1: %2").arg(path_, out.errorString()));
    scope.Step(++written_);
  }
  if (!out.commit())
    throw EAppError(TWindowText::tr("Cannot write %1: %2").arg(path_, out.errorString()));
}

TCommandOutcome TExportTextCommand::Finish(TAppDialogs& dialogs, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.toFirst = true;  // the page goes back to its first record
  if (error) return outcome;
  outcome.records = written_;
  outcome.filesMade << path_;
  if (!unsafe_.isEmpty()) {
    outcome.skipped << unsafe_;
    dialogs.Message(Title(), unsafe_);
  }
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Import

QString TImportTextCommand::Title() const { return TWindowText::tr("Import base from TXT"); }

bool TImportTextCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  const QString chosen =
      dialogs.OpenFile(TWindowText::tr("Import base from TXT"), directory_,
                       TWindowText::tr("Text files") + QStringLiteral(" (*.txt *.TXT *.Txt);;") +
                           TWindowText::tr("All files") + QStringLiteral(" (*)"));
  if (chosen.isEmpty()) return false;
  if (!AskSeparator(dialogs, table_, separator_)) return false;
  path_ = InTableDirectory(directory_, chosen);
  tablePath_ = QFileInfo(table_.TableFilePath()).absoluteFilePath();
  table_.CheckBrowseMode();
  return true;
}

void TImportTextCommand::Execute(tolvern::TkxProgress& progress) {
  QFile in(path_);
  if (!in.open(QIODevice::ReadOnly))
    throw EAppError(TWindowText::tr("Cannot open %1: %2").arg(path_, in.errorString()));
  // Appending many records goes much faster with the table to itself; while another
  // program has it open, the lines are appended beside that program.
  TExclusiveTable unshared(table_, TExclusiveTable::kOrShared);
  DBFObject& table = *table_.Handler();
  const std::vector<tolvern::DbfFieldInfo> fields = table.Fields();
  const int count = static_cast<int>(fields.size());
  std::vector<std::pair<int32_t, QByteArray>> memos;
  // Both passes read the whole file: the checks first, then the appends.
  const int64_t size = std::max<int64_t>(in.size(), 1);
  tolvern::TkxProgressScope scope(&progress, tolvern::kStatusImport, 2 * size);

  int64_t lineNo = 0;
  while (!in.atEnd()) {
    const QByteArray line = WithoutLineEnd(in.readLine());
    TakeLine(table, fields, SplitValues(line, separator_, count), ++lineNo, memos);
    scope.Step(in.pos());
  }
  if (in.error() != QFileDevice::NoError || !in.seek(0))
    throw EAppError(TWindowText::tr("Cannot open %1: %2").arg(path_, in.errorString()));

  // Whatever happens, what was appended reaches the disk with its index entries.
  ScopeExit flush([&] {
    table.SetWriteBehind(0);
    table.FlushFile();
  });
  table.SetWriteBehind(kWriteBehindBytes);
  // Appends under the table lock, taken once, cost one header write instead of one a
  // record; without it (another program holds a lock) each append locks on its own.
  const bool locked = table.LockTable();
  ScopeExit unlock([&] {
    if (locked) table.UnlockTable();
  });
  lineNo = 0;
  while (!in.atEnd()) {
    const QByteArray line = WithoutLineEnd(in.readLine());
    TakeLine(table, fields, SplitValues(line, separator_, count), ++lineNo, memos);
    for (const auto& [f, text] : memos) {
      if (!table.WriteMemo(f, std::span(reinterpret_cast<const uint8_t*>(text.data()),
                                        static_cast<size_t>(text.size()))))
        throw EAppError(TWindowText::tr("Line %1, field %2: ")
                            .arg(lineNo)
                            .arg(QString::fromStdString(fields[static_cast<size_t>(f - 1)].name)) +
                        TWindowText::tr("the memo file cannot take the text"));
    }
    try {
      table.AppendRecord();
    } catch (const std::exception& error) {
      throw EAppError(TWindowText::tr("Line %1: ").arg(lineNo) + ErrorText(error));
    }
    ++appended_;
    scope.Step(size + in.pos());
  }
}

TCommandOutcome TImportTextCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.records = appended_;
  outcome.reopen = tablePath_;
  if (outcome.cancelled)
    outcome.message = TWindowText::tr("The import was cancelled; %n record(s) were appended.",
                                      nullptr, static_cast<int>(appended_));
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Structure listing

QString TStructureTextCommand::Title() const { return TWindowText::tr("Copy structure to TXT"); }

bool TStructureTextCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  QString answer = QFileInfo(table_.TableName()).completeBaseName() + QStringLiteral(".txt");
  if (!dialogs.InputText(TWindowText::tr("File"), TWindowText::tr("File name:"), answer))
    return false;
  answer = answer.trimmed();
  if (answer.isEmpty()) return false;
  path_ = InTableDirectory(directory_, answer);
  fields_.CheckBrowseMode();
  const int row = fields_.RecNo();
  ScopeExit back([&] {
    if (row > 0) fields_.SetRecNo(row);
  });
  fieldLines_.clear();
  for (fields_.First(); !fields_.Eof(); fields_.Next()) {
    const auto value = [&](const char* column) {
      return fields_.FieldByName(QLatin1String(column))->AsString().toUtf8();
    };
    fieldLines_ +=
        value("Name") + ';' + value("DBF Type") + ';' + value("Len") + ';' + value("Dec") + '\n';
  }
  return true;
}

void TStructureTextCommand::Execute(tolvern::TkxProgress& progress) {
  const int tags = table_.GetTagCount();
  tolvern::TkxProgressScope scope(&progress, tolvern::kStatusExport, tags + 1);
  QByteArray text = "Table Name   : " + table_.TableName().toUtf8() + "\n";
  text += "-------Fields-------\n";
  text += fieldLines_;
  text += '\n';
  scope.Step(1);
  if (tags > 0) {
    text += "-------Index-------\n";
    const auto flag = [](bool on) { return QByteArray(on ? "True" : "False"); };
    for (int n = 1; n <= tags; ++n) {
      text += "Tag       : " + table_.GetTagName(n).toUtf8() + '\n';
      text += "Expression: " + table_.GetTagKey(n).toUtf8() + '\n';
      text += "Filter    : " + table_.GetTagFor(n).toUtf8() + '\n';
      text += "Unique    : " + flag(table_.GetTagUnique(n)) + '\n';
      text += "Ascending : " + flag(table_.GetTagAscending(n)) + '\n';
      text += '\n';
      scope.Step(n + 1);
    }
  }
  QSaveFile out(path_);
  if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
    throw EAppError(TWindowText::tr("Cannot write %1: %2").arg(path_, out.errorString()));
}

TCommandOutcome TStructureTextCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  if (!error) outcome.filesMade << path_;
  return outcome;
}

}  // namespace fendral
