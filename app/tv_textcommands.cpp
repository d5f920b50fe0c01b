// The text commands of the "Database" menu: the records to delimited text and back, and
// the listing of the table's structure and tags.
//
// Text values are written in the code page the "Dos" box chooses for the table (the OEM
// page while it is checked, the ANSI page otherwise) and read back the same way, so an
// export followed by an import gives a table the same bytes. Numbers use "." as decimal
// separator, dates are written yyyymmdd and logical values T or F, whatever the locale.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "tv_commandscope.h"
#include "tv_textline.h"

namespace fendral {

namespace {

// Bytes of text the gauge counts as one step of an import.
constexpr qint64 kGaugeBytes = 4096;

// The data fields of `table`, in field order.
std::vector<TField*> DataFields(TTolvernDataSet& table) {
  std::vector<TField*> fields;
  for (int i = 0; i < table.FieldCount(); ++i)
    if (table.Field(i)->FieldKind() == fkData) fields.push_back(table.Field(i));
  return fields;
}

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The text of `field`'s value in the current record; empty when it has none.
QByteArray ValueText(TTolvernDataSet& table, TField& field) {
  if (field.IsNull()) return {};
  switch (field.DataType()) {
    case ftString:
      return Bytes(table.Core().Encode(field.AsString(), field.FieldName()));
    case ftMemo:
      return Bytes(
          table.Core().Encode(static_cast<TMemoField&>(field).Text(), field.FieldName()));
    case ftSmallint:
    case ftInteger:
    case ftWord:
      return QByteArray::number(field.AsInteger());
    case ftFloat: {
      const TTVFieldDef* def = table.DefOf(field);
      return NumberText(field.AsFloat(), def ? def->decimals : -1).toLatin1();
    }
    case ftBoolean:
      return LogicalText(field.AsBoolean()).toLatin1();
    case ftDate:
      return DateText(field.AsDateTime().date()).toLatin1();
    case ftDateTime:
      return field.AsDateTime().toString(Qt::ISODateWithMs).toLatin1();
    default:
      return {};  // binary values have no text form
  }
}

// Stores `text` read from a line into `field` of the record being appended.
void AssignText(TTolvernDataSet& table, TField& field, const QByteArray& text) {
  if (text.isEmpty()) {
    field.Clear();
    return;
  }
  const QString value = QString::fromLatin1(text);
  auto refuse = [&] {
    throw std::runtime_error(
        QObject::tr("'%1' is not a valid value for this field").arg(value).toStdString());
  };
  switch (field.DataType()) {
    case ftString:
      field.SetAsString(table.Core().Decode(text.toStdString()));
      return;
    case ftMemo:
      static_cast<TMemoField&>(field).SetText(table.Core().Decode(text.toStdString()));
      return;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat: {
      const std::optional<double> number = ParseNumber(value);
      if (!number) refuse();
      field.SetValue(*number);
      return;
    }
    case ftBoolean:
      field.SetAsString(value);
      return;
    case ftDate: {
      const std::optional<QDate> date = ParseDate(value);
      if (!date) refuse();
      field.SetValue(*date);
      return;
    }
    case ftDateTime: {
      const QDateTime stamp = QDateTime::fromString(value.trimmed(), Qt::ISODateWithMs);
      if (!stamp.isValid()) refuse();
      field.SetValue(stamp);
      return;
    }
    default:
      return;  // binary fields stay empty
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
      throw std::runtime_error(tr("Cannot create %1: %2").arg(path, out.errorString()).toStdString());

    TCommandScope scope(*this);
    hTable1->CheckBrowseMode();
    scope.HoldControls(*hTable1);
    const std::vector<TField*> fields = DataFields(*hTable1);
    std::vector<QByteArray> values(fields.size());
    QString unsafe;
    int32_t written = 0;
    scope.StartGauge(hTable1->RecordCount());
    for (hTable1->First(); !hTable1->Eof(); hTable1->Next()) {
      for (size_t i = 0; i < fields.size(); ++i) values[i] = ValueText(*hTable1, *fields[i]);
      if (unsafe.isEmpty()) {
        const int at = FirstUnsafeValue(values, separator);
        if (at >= 0)
          unsafe = tr("Record %1, field %2 holds the separator or a line break: that line will "
                      "not read back as it was.")
                       .arg(hTable1->RecNo())
                       .arg(fields[static_cast<size_t>(at)]->FieldName());
      }
      QByteArray line = JoinValues(values, separator);
      line += '\n';
      if (out.write(line) != line.size())
        throw std::runtime_error(
            tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
      scope.MoveGauge(++written);
    }
    if (!out.commit())
      throw std::runtime_error(tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
    hTable1->First();
    if (!unsafe.isEmpty()) dialogs_->Message(tr("Export base in TXT"), unsafe);
  });
}

void TMainWindow::ImportText() {
  if (busy_ || !hTable1->Active()) return;
  const QString chosen = dialogs_->OpenFile(
      tr("Import base from TXT"), tableDirectory_,
      tr("Text files") + QStringLiteral(" (*.txt *.TXT *.Txt);;") + tr("All files") +
          QStringLiteral(" (*)"));
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
    scope.HoldControls(*hTable1);
    // Whatever happens, what was appended reaches the disk with its index entries.
    struct Flush {
      TTolvernDataSet& table;
      ~Flush() {
        try {
          if (table.State() == dsInsert) table.Cancel();
          table.FlushTable();
          table.First();
        } catch (...) {
        }
      }
    } flush{*hTable1};
    const std::vector<TField*> fields = DataFields(*hTable1);
    scope.StartGauge(static_cast<int32_t>(std::min<qint64>(in.size() / kGaugeBytes + 1, INT32_MAX)));
    int64_t lineNo = 0;
    while (!in.atEnd()) {
      const QByteArray line = WithoutLineEnd(in.readLine());
      ++lineNo;
      const std::vector<QByteArray> values =
          SplitValues(line, separator, static_cast<int>(fields.size()));
      hTable1->Append();
      size_t i = 0;
      try {
        for (; i < fields.size(); ++i) AssignText(*hTable1, *fields[i], values[i]);
        hTable1->Post();
      } catch (const std::exception& error) {
        // The failing line leaves no record behind.
        if (hTable1->State() == dsInsert) hTable1->Cancel();
        const QString where = i < fields.size()
                                  ? tr("Line %1, field %2: ").arg(lineNo).arg(fields[i]->FieldName())
                                  : tr("Line %1: ").arg(lineNo);
        throw std::runtime_error((where + QString::fromUtf8(error.what())).toStdString());
      }
      scope.MoveGauge(static_cast<int32_t>(in.pos() / kGaugeBytes));
    }
  });
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
      text += value("Name") + ';' + value("DBF Type") + ';' + value("Len") + ';' + value("Dec") +
              '\n';
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
      throw std::runtime_error(tr("Cannot write %1: %2").arg(path, out.errorString()).toStdString());
  });
}

}  // namespace fendral
