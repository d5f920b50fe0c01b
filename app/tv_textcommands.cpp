// The text commands of the "Database" menu: the records to delimited text and back, and
// the listing of the table's structure and tags.
//
// Text values are written as the table stores them, in the code page the "Dos" box reads
// it with, and read back the same way, so an export followed by an import gives a table
// the same bytes. Numbers are written as stored ("." as decimal separator), dates
// yyyymmdd, logical values T or F and timestamps in ISO form, whatever the locale.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTime>
#include <algorithm>
#include <span>

#include "kx6_cnst.h"
#include "tv_commandscope.h"
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

[[noreturn]] void Refuse(const QString& why) { throw std::runtime_error(why.toStdString()); }

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

}  // namespace

bool TMainWindow::AskSeparator(QByteArray& separator) {
  QString answer = QStringLiteral(";");
  if (!dialogs_->InputText(tr("What will be a Separator? "), tr("Separator: . , ; : Tab Sps"),
                           answer))
    return false;
  const QString chosen = SeparatorOf(answer);
  if (chosen.isEmpty()) return false;
  separator = Bytes(hTable1->Core().Encode(chosen, tr("Separator")));
  return true;
}

void TMainWindow::ExportText() {
  if (busy_ || !hTable1->Active()) return;
  QString answer = QFileInfo(hTable1->TableName()).completeBaseName() + QStringLiteral(".txt");
  if (!dialogs_->InputText(tr("Export name TXT file"), tr("File Name:"), answer)) return;
  answer = answer.trimmed();
  if (answer.isEmpty()) return;
  Run([&] {
    QByteArray separator;
    if (!AskSeparator(separator)) return;
    QString path = InTableDirectory(answer);
    if (!QFileInfo(path).fileName().contains(QLatin1Char('.'))) path += QStringLiteral(".txt");
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
      throw std::runtime_error(
          tr("Cannot create %1: %2").arg(path, out.errorString()).toStdString());

    TCommandScope scope(*this);
    hTable1->CheckBrowseMode();
    scope.HoldControls(*hTable1);
    // The records the browse page shows, in its order, read by the table's own handler;
    // the page is put back on its first record however the export ends.
    TAtExit top([&] { hTable1->First(); });
    DBFObject& table = *hTable1->Handler();
    const std::vector<tolvern::DbfFieldInfo>& fields = table.Fields();
    std::vector<QByteArray> values(fields.size());
    tolvern::TkxFieldValue value;
    QString unsafe;
    QByteArray line;
    for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
      for (size_t i = 0; i < fields.size(); ++i)
        values[i] = ValueText(table, fields[i].number, value);
      if (unsafe.isEmpty()) {
        const int at = FirstUnsafeValue(values, separator);
        if (at >= 0)
          unsafe = tr("Record %1, field %2 holds the separator or a line break: that line will "
                      "not read back as it was.")
                       .arg(table.CurrentRecord())
                       .arg(QString::fromStdString(fields[static_cast<size_t>(at)].name));
      }
      line = JoinValues(values, separator);
      line += '\n';
      if (out.write(line) != line.size())
        throw std::runtime_error(
            tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
    }
    if (!out.commit())
      throw std::runtime_error(
          tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
    if (!unsafe.isEmpty()) dialogs_->Message(tr("Export base in TXT"), unsafe);
  });
}

void TMainWindow::ImportText() {
  if (busy_ || !hTable1->Active()) return;
  const QString chosen =
      dialogs_->OpenFile(tr("Import base from TXT"), tableDirectory_,
                         tr("Text files") + QStringLiteral(" (*.txt *.TXT *.Txt);;") +
                             tr("All files") + QStringLiteral(" (*)"));
  if (chosen.isEmpty()) return;
  Run([&] {
    QByteArray separator;
    if (!AskSeparator(separator)) return;
    const QString path = InTableDirectory(chosen);
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
      throw std::runtime_error(tr("Cannot open %1: %2").arg(path, in.errorString()).toStdString());

    TCommandScope scope(*this);
    hTable1->CheckBrowseMode();
    // Appending many records goes much faster with the table to itself; while another
    // program has it open, the lines are appended beside that program.
    const QString tablePath = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
    bool reopened = false;
    if (!hTable1->Exclusive()) {
      hTable1->Close();
      hTable1->SetExclusive(true);
      try {
        hTable1->Open();
        reopened = true;
      } catch (const std::exception&) {
        hTable1->SetExclusive(false);
        hTable1->Open();
      }
    }
    TAtExit shareAgain([&] {
      if (!reopened) return;
      hTable1->Close();
      hTable1->SetExclusive(false);
      OpenTable(tablePath);
    });
    AppendTextLines(in, separator, scope);
  });
}

void TMainWindow::AppendTextLines(QFile& in, const QByteArray& separator, TCommandScope& scope) {
  scope.HoldControls(*hTable1);
  DBFObject& table = *hTable1->Handler();
  // Whatever happens, what was appended reaches the disk with its index entries, and the
  // browse page shows it.
  struct Flush {
    TMainWindow& window;
    DBFObject& table;
    ~Flush() {
      try {
        table.SetWriteBehind(0);
        table.FlushFile();
        window.hTable1->First();
        window.browsePage_->grid->Reload();
      } catch (...) {
      }
    }
  } flush{*this, table};
  table.SetWriteBehind(kWriteBehindBytes);
  // Appends under the table lock, taken once, cost one header write instead of one a
  // record; without it (another program holds a lock) each append locks on its own.
  struct TableLock {
    DBFObject& table;
    bool held;
    ~TableLock() {
      try {
        if (held) table.UnlockTable();
      } catch (...) {
      }
    }
  } lock{table, table.LockTable()};
  const std::vector<tolvern::DbfFieldInfo> fields = table.Fields();
  std::vector<std::pair<int32_t, QByteArray>> memos;
  int64_t lineNo = 0;
  while (!in.atEnd()) {
    const QByteArray line = WithoutLineEnd(in.readLine());
    ++lineNo;
    const std::vector<QByteArray> values =
        SplitValues(line, separator, static_cast<int>(fields.size()));
    size_t i = 0;
    try {
      // Every value is taken before anything is written: a line that fails leaves no
      // record and no memo behind.
      table.BlankRecord();
      memos.clear();
      for (; i < fields.size(); ++i) PutText(table, fields[i], values[i], memos);
      for (const auto& [f, text] : memos) {
        i = static_cast<size_t>(f - 1);
        if (!table.WriteMemo(f, std::span(reinterpret_cast<const uint8_t*>(text.data()),
                                          static_cast<size_t>(text.size()))))
          Refuse(tr("the memo file cannot take the text"));
      }
      i = fields.size();
      table.AppendRecord();
    } catch (const std::exception& error) {
      const QString where =
          i < fields.size()
              ? tr("Line %1, field %2: ").arg(lineNo).arg(QString::fromStdString(fields[i].name))
              : tr("Line %1: ").arg(lineNo);
      throw std::runtime_error((where + QString::fromUtf8(error.what())).toStdString());
    }
  }
}

void TMainWindow::CopyStructureToText() {
  if (busy_ || !hTable1->Active()) return;
  QString answer = QFileInfo(hTable1->TableName()).completeBaseName() + QStringLiteral(".txt");
  if (!dialogs_->InputText(tr("File"), tr("File name:"), answer)) return;
  answer = answer.trimmed();
  if (answer.isEmpty()) return;
  Run([&] {
    const QString path = InTableDirectory(answer);
    tMemo->CheckBrowseMode();
    QByteArray text = "Table Name   : " + hTable1->TableName().toUtf8() + "\n";
    text += "-------Fields-------\n";
    const int row = tMemo->RecNo();
    for (tMemo->First(); !tMemo->Eof(); tMemo->Next()) {
      const auto value = [&](const char* column) {
        return tMemo->FieldByName(QLatin1String(column))->AsString().toUtf8();
      };
      text +=
          value("Name") + ';' + value("DBF Type") + ';' + value("Len") + ';' + value("Dec") + '\n';
    }
    if (row > 0) tMemo->SetRecNo(row);
    text += '\n';
    if (hTable1->GetTagCount() > 0) {
      text += "-------Index-------\n";
      const auto flag = [](bool on) { return QByteArray(on ? "True" : "False"); };
      for (int n = 1; n <= hTable1->GetTagCount(); ++n) {
        text += "Tag       : " + hTable1->GetTagName(n).toUtf8() + '\n';
        text += "Expression: " + hTable1->GetTagKey(n).toUtf8() + '\n';
        text += "Filter    : " + hTable1->GetTagFor(n).toUtf8() + '\n';
        text += "Unique    : " + flag(hTable1->GetTagUnique(n)) + '\n';
        text += "Ascending : " + flag(hTable1->GetTagAscending(n)) + '\n';
        text += '\n';
      }
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
      throw std::runtime_error(
          tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
  });
}

}  // namespace fendral
