// The structure page's field list: the rows of the structure table (added, removed,
// moved and numbered 1..n), what they were when shown (so that a change is known), and
// the checks a field list passes before a table is made from it.
#include <QCoreApplication>
#include <QHeaderView>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

#include "kx6_memo.h"
#include "tv_apperror.h"
#include "tv_codepage.h"
#include "tv_commandscope.h"
#include "tv_scopeexit.h"
#include "tv_structurepage.h"

namespace fendral {

namespace {

const QString kField = QStringLiteral("Field");
const QString kName = QStringLiteral("Name");
const QString kType = QStringLiteral("DBF Type");
const QString kLen = QStringLiteral("Len");
const QString kDec = QStringLiteral("Dec");
const QString kOrigin = QStringLiteral("Origin");

// Widest numeric field the table builder writes (digits, sign and point).
constexpr int kMaxNumberWidth = 20;
// Character widths: Clipper keeps the high byte of a width in the decimals byte, so its
// tables hold up to 65 535 characters; dBase III, dBase IV and FoxPro read the length
// byte alone, and their programs take at most 254 characters. A table that already holds
// wider character fields (programs of the Clipper family write them under the dBase III
// and FoxPro version bytes too) is read that way by every program that uses it, so its
// rebuild may keep them.
constexpr int kMaxWideCharWidth = 65535;
constexpr int kMaxCharWidth = 254;

// A field name the table can store: a letter or "_" first, then letters, digits and "_"
// (characters beyond ASCII count as letters).
bool ValidFieldName(const QString& name) {
  static const QRegularExpression pattern(
      QStringLiteral("^[A-Za-z_\\x{80}-\\x{FFFF}][A-Za-z0-9_\\x{80}-\\x{FFFF}]*$"));
  return pattern.match(name).hasMatch();
}

}  // namespace

void TStructurePage::SetFieldTable(TMemTable* rows, TDataSource* source) {
  if (rows_) {
    rows_->OnNewRecord = nullptr;
    rows_->AfterInsert = nullptr;
    rows_->AfterDelete = nullptr;
    rows_->AfterPost = nullptr;
    rows_->AfterCancel = nullptr;
  }
  rows_ = rows;
  fieldWatch_->SetDataSet(rows);
  fieldGrid_->SetDataSource(source);
  if (!rows || !source) return;
  rows->FieldByName(kOrigin)->SetVisible(false);
  rows->OnNewRecord = [](TDataSet& table) {
    table.FieldByName(kField)->SetAsInteger(table.RecordCount() + 1);
  };
  rows->AfterInsert = [this](TDataSet& table) {
    if (table.FieldByName(kLen)->IsNull()) table.FieldByName(kLen)->SetAsInteger(8);
    if (table.FieldByName(kDec)->IsNull()) table.FieldByName(kDec)->SetAsInteger(0);
    UpdateMoveButtons();
  };
  rows->AfterDelete = [this](TDataSet&) {
    RenumberRows();
    UpdateMoveButtons();
  };
  rows->AfterPost = [this](TDataSet&) { UpdateMoveButtons(); };
  rows->AfterCancel = [this](TDataSet&) { UpdateMoveButtons(); };
  // Column widths of the field list: number, name, type letter, length, decimals; never
  // narrower than the column's title.
  const int widths[] = {25, 90, 59, 46, 30};
  const QFontMetrics metrics = fieldGrid_->horizontalHeader()->fontMetrics();
  for (int c = 0; c < 5 && c < fieldGrid_->Model().columnCount(); ++c) {
    const QString title = fieldGrid_->Model().headerData(c, Qt::Horizontal).toString();
    fieldGrid_->setColumnWidth(c, std::max(widths[c], metrics.horizontalAdvance(title) + 16));
  }
  // The name column takes the room the grid has beyond the others.
  fieldGrid_->horizontalHeader()->setStretchLastSection(false);
  if (fieldGrid_->Model().columnCount() > 1)
    fieldGrid_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
}

// ---------------------------------------------------------------------------------------
// The field list

void TStructurePage::ShowFields() {
  if (!rows_ || !table_ || !table_->Active()) return;
  fillingFieldList_ = true;
  ScopeExit filled([this] { fillingFieldList_ = false; });
  rows_->EmptyTable();
  // Every field of the table, with the letter, width and decimals it is stored with, and
  // the field it came from (1-based); rows added later have none.
  const auto names = TTVCodePage::Get(table_->CodePageInUse());
  for (const tolvern::DbfFieldInfo& descriptor : table_->Handler()->Fields()) {
    rows_->Append();
    rows_->FieldByName(kField)->SetAsInteger(descriptor.number);
    rows_->FieldByName(kName)->SetAsString(names->Decode(descriptor.name));
    rows_->FieldByName(kType)->SetAsString(QString(QChar(descriptor.type)));
    rows_->FieldByName(kLen)->SetAsInteger(descriptor.length);
    rows_->FieldByName(kDec)->SetAsInteger(descriptor.decimals);
    rows_->FieldByName(kOrigin)->SetAsInteger(descriptor.number);
    rows_->Post();
  }
  RememberFieldList();
}

void TStructurePage::ShowTableMemoBlockSize() {
  DBFObject* handler = table_ && table_->Active() ? table_->Handler() : nullptr;
  const bool memo = handler && handler->HasMemo() && handler->Memo();
  ShowMemoBlockSize(memo, memo ? handler->Memo()->MemoBlockSize() : 0);
}

void TStructurePage::SeedNewTable(int seededLength) {
  if (!rows_) return;
  {
    fillingFieldList_ = true;
    ScopeExit seeded([this] { fillingFieldList_ = false; });
    rows_->EmptyTable();
    rows_->Append();
    rows_->FieldByName(kField)->SetAsInteger(1);
    rows_->FieldByName(kName)->SetAsString(QStringLiteral("NewName"));
    rows_->FieldByName(kType)->SetAsString(QStringLiteral("N"));
    rows_->FieldByName(kLen)->SetAsInteger(seededLength);
    rows_->FieldByName(kDec)->SetAsInteger(0);
    RememberFieldList();
  }
  ClearIndexLists();
  openTableType_ = -1;
  SetMode(Mode::Create);
  ShowMemoBlockSize(true, 0);  // any new table may get a memo field
  UpdateMoveButtons();
}

void TStructurePage::Clear() {
  if (rows_) {
    fillingFieldList_ = true;
    ScopeExit emptied([this] { fillingFieldList_ = false; });
    rows_->EmptyTable();
  }
  RememberFieldList();
  reindexButton_->setEnabled(false);
  allIndexFiles_->setChecked(false);
  ClearIndexLists();
  noticeLabel_->clear();
  openTableType_ = -1;
}

QStringList TStructurePage::RowLines() {
  QStringList lines;
  if (!rows_ || !rows_->Active()) return lines;
  auto line = [this] {
    QStringList cells;
    for (const QString& column : {kField, kName, kType, kLen, kDec, kOrigin})
      cells << rows_->FieldByName(column)->AsString();
    return cells.join(QLatin1Char(';'));
  };
  // A row being typed cannot be left to read the others: it stands for itself.
  if (rows_->State() == dsEdit || rows_->State() == dsInsert) return {line()};
  const TBookmark current = rows_->GetBookmark();
  rows_->DisableControls();
  ScopeExit restore([&] {
    if (!current.isEmpty()) rows_->GotoBookmark(current);
    rows_->EnableControls();
  });
  for (rows_->First(); !rows_->Eof(); rows_->Next()) lines << line();
  return lines;
}

void TStructurePage::RememberFieldList() {
  fieldListShown_ = RowLines();
  fieldListEdited_ = false;
}

bool TStructurePage::FieldListChanged() {
  if (!rows_ || !rows_->Active()) return false;
  // A row being added or edited: changed when anything was set since the list was shown.
  if (rows_->State() == dsEdit || rows_->State() == dsInsert) return fieldListEdited_;
  return RowLines() != fieldListShown_;
}

void TStructurePage::UpdateMoveButtons() {
  const int count = rows_ ? rows_->RecordCount() + (rows_->State() == dsInsert ? 1 : 0) : 0;
  upButton_->setEnabled(count >= 2);
  downButton_->setEnabled(count >= 2);
}

void TStructurePage::RenumberRows() {
  // Row numbers stay 1..n after a row goes, so new rows and moves never meet a repeated
  // number. Giving each row its position keeps the order the rows already have.
  if (rows_->State() != dsBrowse || rows_->RecordCount() == 0) return;
  const TBookmark current = rows_->GetBookmark();
  for (int position = 1; position <= rows_->RecordCount(); ++position) {
    rows_->SetRecNo(position);
    if (rows_->FieldByName(kField)->AsInteger() == position) continue;
    rows_->Edit();
    rows_->FieldByName(kField)->SetAsInteger(position);
    rows_->Post();
  }
  if (!current.isEmpty() && rows_->BookmarkValid(current)) rows_->GotoBookmark(current);
}

void TStructurePage::MoveRow(int delta) {
  if (!rows_) return;
  Guard([&] {
    rows_->CheckBrowseMode();
    const int position = rows_->RecNo();
    const int target = position + delta;
    if (position < 1 || target < 1 || target > rows_->RecordCount()) return;
    // The two rows exchange their numbers; the table keeps its rows ordered by them, so
    // the row moves one place, its other columns (the field it came from too) with it.
    const TBookmark self = rows_->GetBookmark();
    const int own = rows_->FieldByName(kField)->AsInteger();
    rows_->SetRecNo(target);
    const int other = rows_->FieldByName(kField)->AsInteger();
    rows_->Edit();
    rows_->FieldByName(kField)->SetAsInteger(own);
    rows_->Post();
    rows_->GotoBookmark(self);
    rows_->Edit();
    rows_->FieldByName(kField)->SetAsInteger(other);
    rows_->Post();
    rows_->GotoBookmark(self);
  });
}

void TStructurePage::AddRow() {
  if (!rows_) return;
  Guard([&] {
    rows_->Append();
    fieldGrid_->SelectField(rows_->FieldByName(kName));
    fieldGrid_->setFocus();
  });
}

void TStructurePage::DeleteRow() {
  if (!rows_) return;
  Guard([&] {
    if (rows_->State() == dsInsert) {
      rows_->Cancel();
      return;
    }
    if (rows_->RecordCount() > 0) rows_->Delete();
  });
}

void TStructurePage::RowDoubleClicked() {
  const QString name =
      rows_ && rows_->Active() ? rows_->FieldByName(kName)->AsString().trimmed() : QString();
  expressionBox_->setText(name);
  tagBox_->setText(name);
}

bool TStructurePage::EscapePressed(QWidget* receiver) {
  // In the field grid the grid itself answers: its cell editor reverts the cell, then the
  // grid cancels the row's edit or insert.
  if (receiver == fieldGrid_ || fieldGrid_->isAncestorOf(receiver)) return false;
  // Elsewhere on the page Esc cancels the row being added or edited, and nothing more.
  if (rows_ && (rows_->State() == dsEdit || rows_->State() == dsInsert))
    Guard([&] { rows_->Cancel(); });
  return true;
}

void TStructurePage::SelectCell(const QString& column) {
  fieldGrid_->SelectField(rows_->FieldByName(column));
  fieldGrid_->setFocus();
}

const tolvern::DbfFieldInfo* TStructurePage::StoredFieldOfRow() const {
  if (!table_ || !table_->Active() || mode_ != Mode::Modify) return nullptr;
  TField* origin = rows_->FieldByName(kOrigin);
  const auto& fields = table_->Handler()->Fields();
  if (origin->IsNull() || origin->AsInteger() < 1 ||
      origin->AsInteger() > static_cast<int>(fields.size()))
    return nullptr;
  return &fields[static_cast<size_t>(origin->AsInteger() - 1)];
}

bool TStructurePage::OpenTableHasWideCharFields() const {
  if (!table_ || !table_->Active() || mode_ != Mode::Modify) return false;
  const auto& fields = table_->Handler()->Fields();
  return std::any_of(fields.begin(), fields.end(), [](const tolvern::DbfFieldInfo& field) {
    return field.type == 'C' && field.length > kMaxCharWidth;
  });
}

bool TStructurePage::ValidateFields() {
  if (!rows_) return false;
  rows_->CheckBrowseMode();
  const int maxChar = TypeButtonChecked() == kClipper || OpenTableHasWideCharFields()
                          ? kMaxWideCharWidth
                          : kMaxCharWidth;
  // Stops at the first cell the table could not be made with, selected in the grid, and
  // says why in the status bar.
  auto refuse = [&](const QString& column, const QString& why) {
    SelectCell(column);
    emit statusMessage(QCoreApplication::translate("fendral::TMainWindow", "Field %1: %2")
                           .arg(rows_->RecNo())
                           .arg(why));
    return false;
  };
  QSet<QString> names;
  rows_->First();
  while (!rows_->Eof()) {
    const QString type = rows_->FieldByName(kType)->AsString().trimmed().toUpper();
    TField* len = rows_->FieldByName(kLen);
    TField* dec = rows_->FieldByName(kDec);
    // A row that still holds the type, width and decimals of the table field it came from
    // is carried as it is; a field of a type the page cannot edit must stay so.
    const tolvern::DbfFieldInfo* stored = StoredFieldOfRow();
    const bool unchanged = stored && type == QString(QChar(stored->type)) &&
                           len->AsInteger() == stored->length && !dec->IsNull() &&
                           dec->AsInteger() == stored->decimals;
    if (stored && !unchanged && !EditableType(QString(QChar(stored->type)))) {
      const QString why =
          QCoreApplication::translate("fendral::TMainWindow",
                                      "a field of type %1 keeps its type, width and decimals")
              .arg(QChar(stored->type));
      if (type != QString(QChar(stored->type))) return refuse(kType, why);
      return refuse(len->AsInteger() != stored->length ? kLen : kDec, why);
    }
    if (!unchanged && type == QLatin1String("N") &&
        (len->AsInteger() < 1 || len->AsInteger() > kMaxNumberWidth))
      return refuse(kLen, QCoreApplication::translate("fendral::TMainWindow",
                                                      "a number is 1 to %1 characters wide")
                              .arg(kMaxNumberWidth));
    for (const QString& column : {kName, kType, kLen, kDec})
      if (rows_->FieldByName(column)->AsString().trimmed().isEmpty())
        return refuse(
            column, QCoreApplication::translate("fendral::TMainWindow", "%1 is empty").arg(column));
    // Names are stored cut to 10 characters and in capitals.
    const QString name = rows_->FieldByName(kName)->AsString().trimmed();
    if (!ValidFieldName(name))
      return refuse(kName, QCoreApplication::translate(
                               "fendral::TMainWindow",
                               "a name starts with a letter and holds letters, digits and _"));
    if (names.contains(name.left(10).toUpper()))
      return refuse(
          kName, QCoreApplication::translate("fendral::TMainWindow", "the name %1 is there already")
                     .arg(name.left(10).toUpper()));
    names.insert(name.left(10).toUpper());
    if (!unchanged && !EditableType(type))
      return refuse(
          kType,
          QCoreApplication::translate("fendral::TMainWindow", "unknown type \"%1\"").arg(type));
    if (!unchanged && type == QLatin1String("C") &&
        (len->AsInteger() < 1 || len->AsInteger() > maxChar))
      return refuse(kLen, QCoreApplication::translate(
                              "fendral::TMainWindow",
                              "a character field of this table type is 1 to %1 characters wide")
                              .arg(maxChar));
    if (!unchanged && type == QLatin1String("N") &&
        (dec->AsInteger() < 0 || (dec->AsInteger() > 0 && dec->AsInteger() > len->AsInteger() - 2)))
      return refuse(kDec, QCoreApplication::translate("fendral::TMainWindow",
                                                      "a number of width %1 has 0 to %2 decimals")
                              .arg(len->AsInteger())
                              .arg(std::max(0, len->AsInteger() - 2)));
    rows_->Next();
  }
  return true;
}

QStringList TStructurePage::FieldLines() {
  QStringList lines;
  if (!rows_) return lines;
  rows_->CheckBrowseMode();
  rows_->First();
  while (!rows_->Eof()) {
    lines << rows_->FieldByName(kName)->AsString().trimmed() + QLatin1Char(';') +
                 rows_->FieldByName(kType)->AsString().trimmed().toUpper() + QLatin1Char(';') +
                 QString::number(rows_->FieldByName(kLen)->AsInteger()) + QLatin1Char(';') +
                 QString::number(rows_->FieldByName(kDec)->AsInteger());
    rows_->Next();
  }
  return lines;
}

TNewTableRequest TStructurePage::NewTable(const QString& path, const std::string& codePage) const {
  TNewTableRequest request;
  request.path = path;
  request.fieldLines = const_cast<TStructurePage*>(this)->FieldLines();
  request.type = static_cast<TkxDBFTypes>(TypeButtonChecked());
  request.codePage = codePage;
  const QString blockText = BlockSizeText();
  if (!blockText.isEmpty()) {
    bool ok = false;
    const int size = blockText.toInt(&ok);
    if (!ok || size < 1 || size > 65535)
      throw EAppError(QCoreApplication::translate(
          "fendral::TMainWindow", "FPT Block size must be a whole number from 1 to 65535"));
    request.memoBlockSize = static_cast<uint16_t>(size);
  }
  return request;
}

void TStructurePage::PressCreate() {
  bool valid = false;
  Guard([&] { valid = ValidateFields(); });
  if (!valid) return;
  if (mode_ == Mode::Modify)
    emit modifyRequested();
  else
    emit createRequested();
}

}  // namespace fendral
