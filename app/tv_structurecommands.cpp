// The commands of the "Structure DBF" page: defining and creating a new table, the checks
// of the field list before a table is created or rebuilt, moving field rows, and the
// index files and tags of the browsed table.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>
#include <stdexcept>

#include "Unit1.h"
#include "kx6_memo.h"
#include "kx6_rebuild.h"
#include "tv_resolve.h"

namespace fendral {

namespace {

const QString kField = QStringLiteral("Field");
const QString kName = QStringLiteral("Name");
const QString kType = QStringLiteral("DBF Type");
const QString kLen = QStringLiteral("Len");
const QString kDec = QStringLiteral("Dec");

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

// Shows the busy cursor for the life of the scope.
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// A field name the table can store: a letter or "_" first, then letters, digits and "_"
// (characters beyond ASCII count as letters).
bool ValidFieldName(const QString& name) {
  static const QRegularExpression pattern(
      QStringLiteral("^[A-Za-z_\\x{80}-\\x{FFFF}][A-Za-z0-9_\\x{80}-\\x{FFFF}]*$"));
  return pattern.match(name).hasMatch();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Wiring and the structure table's rules

void TMainWindow::ConnectStructurePage() {
  TStructurePage* page = structurePage_;
  tMemo->FieldByName(QStringLiteral("Origin"))->SetVisible(false);
  page->SetFields(dsMemo.get());

  tMemo->OnNewRecord = [](TDataSet& rows) {
    rows.FieldByName(kField)->SetAsInteger(rows.RecordCount() + 1);
  };
  tMemo->AfterInsert = [this](TDataSet& rows) {
    if (rows.FieldByName(kLen)->IsNull()) rows.FieldByName(kLen)->SetAsInteger(8);
    if (rows.FieldByName(kDec)->IsNull()) rows.FieldByName(kDec)->SetAsInteger(0);
    UpdateMoveButtons();
  };
  tMemo->AfterDelete = [this](TDataSet&) {
    RenumberFieldRows();
    UpdateMoveButtons();
  };
  tMemo->AfterPost = [this](TDataSet&) { UpdateMoveButtons(); };
  tMemo->AfterCancel = [this](TDataSet&) { UpdateMoveButtons(); };

  connect(page->upButton, &QPushButton::clicked, this, [this] { MoveFieldRow(-1); });
  connect(page->downButton, &QPushButton::clicked, this, [this] { MoveFieldRow(1); });
  connect(page->addFieldButton, &QPushButton::clicked, this, &TMainWindow::AddFieldRow);
  connect(page->deleteFieldButton, &QPushButton::clicked, this, &TMainWindow::DeleteFieldRow);
  // In the field grid, Insert adds a row and Ctrl+Delete removes the current one.
  auto* addKey = new QShortcut(QKeySequence(Qt::Key_Insert), page->fieldGrid);
  addKey->setContext(Qt::WidgetShortcut);
  connect(addKey, &QShortcut::activated, this, &TMainWindow::AddFieldRow);
  auto* deleteKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete), page->fieldGrid);
  deleteKey->setContext(Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, &TMainWindow::DeleteFieldRow);
  page->addFieldButton->setToolTip(tr("Add a field (Insert)"));
  page->deleteFieldButton->setToolTip(tr("Delete the field (Ctrl+Delete)"));
  connect(page->fieldGrid, &QAbstractItemView::doubleClicked, this,
          &TMainWindow::FieldRowDoubleClicked);
  page->fieldGrid->OnError = [this](const std::exception& error) { ShowError(error); };

  connect(page->allIndexFiles, &QCheckBox::toggled, this, [this] {
    if (!busy_) Run([&] { ApplyIndexMask(); });
  });
  // A file is chosen by a click, or from the keyboard with Enter.
  auto chooseFile = [this](QListWidgetItem*) {
    if (busy_) return;
    const QString path = structurePage_->ChosenIndexFile();
    if (!path.isEmpty()) Run([&] { ChooseIndexFile(path); });
  };
  connect(page->indexFileList, &QListWidget::itemClicked, this, chooseFile);
  connect(page->indexFileList, &QListWidget::itemActivated, this, chooseFile);
  // Showing a tag changes nothing, so the tag follows the list's cursor.
  connect(page->tagList, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!busy_ && row >= 0) Run([&] { ChooseStructureTag(row); });
  });
  connect(page->newFileButton, &QPushButton::clicked, this, &TMainWindow::NewIndexFile);
  connect(page->deleteFileButton, &QPushButton::clicked, this, &TMainWindow::DeleteChosenIndexFile);
  connect(page->newTagButton, &QPushButton::clicked, this, &TMainWindow::NewStructureTag);
  connect(page->deleteTagButton, &QPushButton::clicked, this, &TMainWindow::DeleteStructureTag);
  connect(page->saveButton, &QPushButton::clicked, this, &TMainWindow::SaveStructureTag);
  connect(page->cancelButton, &QPushButton::clicked, this, &TMainWindow::CancelStructureTag);
}

void TMainWindow::UpdateMoveButtons() {
  const int rows = tMemo->RecordCount() + (tMemo->State() == dsInsert ? 1 : 0);
  structurePage_->upButton->setEnabled(rows >= 2);
  structurePage_->downButton->setEnabled(rows >= 2);
}

void TMainWindow::RenumberFieldRows() {
  // Row numbers stay 1..n after a row goes, so new rows and moves never meet a repeated
  // number. Giving each row its position keeps the order the rows already have.
  if (tMemo->State() != dsBrowse || tMemo->RecordCount() == 0) return;
  const TBookmark current = tMemo->GetBookmark();
  for (int position = 1; position <= tMemo->RecordCount(); ++position) {
    tMemo->SetRecNo(position);
    if (tMemo->FieldByName(kField)->AsInteger() == position) continue;
    tMemo->Edit();
    tMemo->FieldByName(kField)->SetAsInteger(position);
    tMemo->Post();
  }
  if (!current.isEmpty() && tMemo->BookmarkValid(current)) tMemo->GotoBookmark(current);
}

void TMainWindow::MoveFieldRow(int delta) {
  if (busy_) return;
  Run([&] {
    tMemo->CheckBrowseMode();
    const int position = tMemo->RecNo();
    const int target = position + delta;
    if (position < 1 || target < 1 || target > tMemo->RecordCount()) return;
    // The two rows exchange their numbers; the table keeps its rows ordered by them, so
    // the row moves one place, its other columns (the field it came from too) with it.
    const TBookmark self = tMemo->GetBookmark();
    const int own = tMemo->FieldByName(kField)->AsInteger();
    tMemo->SetRecNo(target);
    const int other = tMemo->FieldByName(kField)->AsInteger();
    tMemo->Edit();
    tMemo->FieldByName(kField)->SetAsInteger(own);
    tMemo->Post();
    tMemo->GotoBookmark(self);
    tMemo->Edit();
    tMemo->FieldByName(kField)->SetAsInteger(other);
    tMemo->Post();
    tMemo->GotoBookmark(self);
  });
}

void TMainWindow::AddFieldRow() {
  if (busy_ || !pages_->isVisible()) return;
  Run([&] {
    tMemo->Append();
    structurePage_->fieldGrid->SelectField(tMemo->FieldByName(kName));
    structurePage_->fieldGrid->setFocus();
  });
}

void TMainWindow::DeleteFieldRow() {
  if (busy_) return;
  Run([&] {
    if (tMemo->State() == dsInsert) {
      tMemo->Cancel();
      return;
    }
    if (tMemo->RecordCount() > 0) tMemo->Delete();
  });
}

void TMainWindow::FieldRowDoubleClicked() {
  const QString name =
      tMemo->Active() ? tMemo->FieldByName(kName)->AsString().trimmed() : QString();
  structurePage_->expressionBox->setText(name);
  structurePage_->tagBox->setText(name);
}

// ---------------------------------------------------------------------------------------
// New table, validation and creation

void TMainWindow::NewDbf() {
  if (busy_) return;
  const QString start =
      tableDirectory_.isEmpty()
          ? QSettings().value(QStringLiteral("dirs/tables"), QDir::homePath()).toString()
          : tableDirectory_;
  const QString path = dialogs_->SaveFile(tr("New DBF"), start, TableFileFilter());
  if (path.isEmpty()) return;
  Run([&] {
    PrepareNewTable(QFileInfo(path).absoluteFilePath(), 0);
    UpdateMoveButtons();
  });
}

void TMainWindow::CreateOrModify() {
  if (busy_ || !pages_->isVisible()) return;
  bool valid = false;
  Run([&] { valid = ValidateStructure(); });
  if (!valid) return;
  if (structurePage_->createButton->text() == tr("Modify DBF"))
    ModifyDbf();
  else
    Run([&] { CreateDbf(); });
}

void TMainWindow::SelectStructureCell(const QString& column) {
  structurePage_->fieldGrid->SelectField(tMemo->FieldByName(column));
  structurePage_->fieldGrid->setFocus();
}

bool TMainWindow::ValidateStructure() {
  tMemo->CheckBrowseMode();
  const int maxChar = structurePage_->TypeButtonChecked() == TStructurePage::kClipper ||
                              OpenTableHasWideCharFields()
                          ? kMaxWideCharWidth
                          : kMaxCharWidth;
  // Stops at the first cell the table could not be made with, selected in the grid, and
  // says why in the status bar.
  auto refuse = [&](const QString& column, const QString& why) {
    SelectStructureCell(column);
    statusBar()->showMessage(tr("Field %1: %2").arg(tMemo->RecNo()).arg(why), 8000);
    return false;
  };
  QSet<QString> names;
  tMemo->First();
  while (!tMemo->Eof()) {
    const QString type = tMemo->FieldByName(kType)->AsString().trimmed().toUpper();
    TField* len = tMemo->FieldByName(kLen);
    TField* dec = tMemo->FieldByName(kDec);
    // A row that still holds the type, width and decimals of the table field it came from
    // is carried as it is; a field of a type the page cannot edit must stay so.
    const tolvern::DbfFieldInfo* stored = StoredFieldOfRow();
    const bool unchanged = stored && type == QString(QChar(stored->type)) &&
                           len->AsInteger() == stored->length && !dec->IsNull() &&
                           dec->AsInteger() == stored->decimals;
    if (stored && !unchanged && !TStructurePage::EditableType(QString(QChar(stored->type)))) {
      const QString why =
          tr("a field of type %1 keeps its type, width and decimals").arg(QChar(stored->type));
      if (type != QString(QChar(stored->type))) return refuse(kType, why);
      return refuse(len->AsInteger() != stored->length ? kLen : kDec, why);
    }
    if (!unchanged && type == QLatin1String("N") &&
        (len->AsInteger() < 1 || len->AsInteger() > kMaxNumberWidth))
      return refuse(kLen, tr("a number is 1 to %1 characters wide").arg(kMaxNumberWidth));
    for (const QString& column : {kName, kType, kLen, kDec})
      if (tMemo->FieldByName(column)->AsString().trimmed().isEmpty())
        return refuse(column, tr("%1 is empty").arg(column));
    // Names are stored cut to 10 characters and in capitals.
    const QString name = tMemo->FieldByName(kName)->AsString().trimmed();
    if (!ValidFieldName(name))
      return refuse(kName, tr("a name starts with a letter and holds letters, digits and _"));
    if (names.contains(name.left(10).toUpper()))
      return refuse(kName, tr("the name %1 is there already").arg(name.left(10).toUpper()));
    names.insert(name.left(10).toUpper());
    if (!unchanged && !TStructurePage::EditableType(type))
      return refuse(kType, tr("unknown type \"%1\"").arg(type));
    if (!unchanged && type == QLatin1String("C") &&
        (len->AsInteger() < 1 || len->AsInteger() > maxChar))
      return refuse(
          kLen, tr("a character field of this table type is 1 to %1 characters wide").arg(maxChar));
    if (!unchanged && type == QLatin1String("N") &&
        (dec->AsInteger() < 0 || (dec->AsInteger() > 0 && dec->AsInteger() > len->AsInteger() - 2)))
      return refuse(kDec, tr("a number of width %1 has 0 to %2 decimals")
                              .arg(len->AsInteger())
                              .arg(std::max(0, len->AsInteger() - 2)));
    tMemo->Next();
  }
  return true;
}

const tolvern::DbfFieldInfo* TMainWindow::StoredFieldOfRow() {
  if (!hTable1->Active() || structurePage_->createButton->text() != tr("Modify DBF"))
    return nullptr;
  TField* origin = tMemo->FieldByName(QStringLiteral("Origin"));
  const auto& fields = hTable1->Handler()->Fields();
  if (origin->IsNull() || origin->AsInteger() < 1 ||
      origin->AsInteger() > static_cast<int>(fields.size()))
    return nullptr;
  return &fields[static_cast<size_t>(origin->AsInteger() - 1)];
}

void TMainWindow::ShowOpenTableType() {
  // What is open decides, as it decides the lock protocol: NTX -> Clipper, CDX or an FPT
  // memo file -> FoxPro, MDX or a dBase IV table -> dBase IV, otherwise dBase III. So a
  // "Modify DBF" with the choice untouched keeps the table's kind.
  TStructurePage::TypeButton type = TStructurePage::kDBaseIII;
  switch (static_cast<tolvern::TkxLokProtocol>(hTable1->Handler()->ChooseLockProtocol())) {
    case tolvern::TkxLokProtocol::ClipLock:
      type = TStructurePage::kClipper;
      break;
    case tolvern::TkxLokProtocol::FoxLock:
      type = TStructurePage::kFoxPro;
      break;
    case tolvern::TkxLokProtocol::DB4Lock:
      type = TStructurePage::kDBaseIV;
      break;
    default:
      break;
  }
  openTableType_ = type;
  structurePage_->SetTypeButton(type);
}

bool TMainWindow::OpenTableHasWideCharFields() {
  if (!hTable1->Active() || structurePage_->createButton->text() != tr("Modify DBF")) return false;
  const auto& fields = hTable1->Handler()->Fields();
  return std::any_of(fields.begin(), fields.end(), [](const tolvern::DbfFieldInfo& field) {
    return field.type == 'C' && field.length > kMaxCharWidth;
  });
}

QStringList TMainWindow::StructureFieldLines() {
  QStringList lines;
  tMemo->CheckBrowseMode();
  tMemo->First();
  while (!tMemo->Eof()) {
    lines << tMemo->FieldByName(kName)->AsString().trimmed() + QLatin1Char(';') +
                 tMemo->FieldByName(kType)->AsString().trimmed().toUpper() + QLatin1Char(';') +
                 QString::number(tMemo->FieldByName(kLen)->AsInteger()) + QLatin1Char(';') +
                 QString::number(tMemo->FieldByName(kDec)->AsInteger());
    tMemo->Next();
  }
  return lines;
}

void TMainWindow::FillCreateComponent(TCreateTolvernDataSet& creator) {
  creator.CreateFields().clear();
  creator.SetCreateFields(StructureFieldLines());
  creator.SetDBFType(static_cast<TkxDBFTypes>(structurePage_->TypeButtonChecked()));
  const QString blockText = structurePage_->blockSizeBox->text().trimmed();
  if (!blockText.isEmpty()) {
    bool ok = false;
    const int size = blockText.toInt(&ok);
    if (!ok || size < 1 || size > 65535)
      throw std::runtime_error(
          tr("FPT Block size must be a whole number from 1 to 65535").toStdString());
    creator.SetMemoBlockSize(static_cast<uint16_t>(size));
  }
}

void TMainWindow::CreateDbf() {
  FillCreateComponent(*chDataSet1);
  if (hTable1->Active()) hTable1->Close();
  // The component writes the table hTable1 names and leaves hTable1 open on it.
  if (!chDataSet1->CreateTable()) return;
  const QString path = hTable1->TableFilePath();
  OpenTable(path);
  closeAction_->setEnabled(true);
  structurePage_->createButton->setText(tr("Modify DBF"));
}

// ---------------------------------------------------------------------------------------
// Index files and tags

void TMainWindow::ApplyIndexMask() {
  chosenIndexFile_.clear();
  structurePage_->tagList->clear();
  structurePage_->newTagButton->setEnabled(false);
  structurePage_->deleteTagButton->setEnabled(false);
  if (!hTable1->Active()) {
    structurePage_->indexFileList->clear();
    return;
  }
  structurePage_->ListIndexFiles(tableDirectory_, hTable1->TableName());
  MarkDamagedIndexes();
}

void TMainWindow::ChooseIndexFile(const QString& path) {
  TStructurePage* page = structurePage_;
  page->tagList->clear();
  // The chosen file becomes the table's index file (the production index, which the
  // table always keeps open, aside).
  try {
    hTable1->SetIndexFiles({path});
  } catch (...) {
    // A file the table cannot open stays out of its list.
    hTable1->SetIndexFiles({});
    browsePage_->FillTags();
    throw;
  }
  chosenIndexFile_ = path;
  for (int n = 1; n <= hTable1->GetTagCount(); ++n) {
    if (!SameFile(hTable1->GetTagFile(n), path)) continue;
    auto* item = new QListWidgetItem(hTable1->GetTagName(n), page->tagList);
    item->setData(Qt::UserRole, n);
  }
  browsePage_->FillTags();
  const bool tags = hTable1->GetTagCount() > 0;
  reindexAction_->setEnabled(tags);
  page->reindexButton->setEnabled(tags);
  page->indexFileBox->setText(QFileInfo(path).fileName());
  for (int row = 0; row < page->indexFileList->count(); ++row)
    if (SameFile(page->indexFileList->item(row)->data(Qt::UserRole).toString(), path))
      page->indexFileList->setCurrentRow(row);
  page->deleteFileButton->setEnabled(true);
  page->newTagButton->setEnabled(true);
  page->deleteTagButton->setEnabled(true);
  MarkDamagedIndexes();
}

void TMainWindow::ChooseStructureTag(int row) {
  QListWidgetItem* item = structurePage_->tagList->item(row);
  if (!item) return;
  const int n = item->data(Qt::UserRole).toInt();
  structurePage_->tagBox->setText(hTable1->GetTagName(n));
  structurePage_->expressionBox->setText(hTable1->GetTagKey(n));
  structurePage_->uniqueBox->setChecked(hTable1->GetTagUnique(n));
  structurePage_->ascendingBox->setChecked(hTable1->GetTagAscending(n));
  structurePage_->filterBox->setText(hTable1->GetTagFor(n));
}

void TMainWindow::NewIndexFile() {
  if (busy_ || !hTable1->Active()) return;
  const QString table = hTable1->TableName();
  const QString stem = table.left(
      table.indexOf(QLatin1Char('.')) < 0 ? table.size() : table.indexOf(QLatin1Char('.')));
  QString path =
      dialogs_->SaveFile(tr("New index file"), tableDirectory_ + stem,
                         tr("FoxPro 2.x Index (*.CDX *.cdx);;dBase IV Index (*.MDX *.mdx);;"
                            "dBase III Index (*.NDX *.ndx);;Clipper Index (*.NTX *.ntx)"));
  if (path.isEmpty()) return;
  QFileInfo info(path);
  if (info.suffix().isEmpty()) {
    // The default kind, in the letter case of the table's own extension.
    const QString ext = QFileInfo(table).suffix();
    const bool upper = !ext.isEmpty() && ext == ext.toUpper();
    path += upper ? QStringLiteral(".CDX") : QStringLiteral(".cdx");
    info = QFileInfo(path);
  }
  const bool inTableDirectory =
      QDir(info.absolutePath()).absolutePath() == QDir(tableDirectory_).absolutePath();
  structurePage_->indexFileBox->setText(inTableDirectory ? info.fileName()
                                                         : info.absoluteFilePath());
  structurePage_->ClearTagBoxes();
  structurePage_->EnableTagEditor(true);
  structurePage_->tagEditMode = TStructurePage::TagEditMode::NewFile;
  structurePage_->tagBox->setFocus();
}

void TMainWindow::NewStructureTag() {
  if (busy_ || !hTable1->Active() || chosenIndexFile_.isEmpty()) return;
  structurePage_->indexFileBox->setText(QFileInfo(chosenIndexFile_).fileName());
  structurePage_->ClearTagBoxes();
  structurePage_->EnableTagEditor(true);
  structurePage_->tagEditMode = TStructurePage::TagEditMode::AddToFile;
  structurePage_->tagBox->setFocus();
}

void TMainWindow::SaveStructureTag() {
  if (busy_ || !hTable1->Active()) return;
  TStructurePage* page = structurePage_;
  const QString box = page->indexFileBox->text().trimmed();
  if (box.isEmpty()) return;
  const QString path =
      QFileInfo(box).isAbsolute() ? box : QFileInfo(tableDirectory_ + box).absoluteFilePath();
  Run([&] {
    TBusyCursor wait;
    const bool addToFile = page->tagEditMode == TStructurePage::TagEditMode::AddToFile;
    if (addToFile) {
      bool open = false;
      for (int n = 1; n <= hTable1->GetTagCount() && !open; ++n)
        open = SameFile(hTable1->GetTagFile(n), path);
      if (!open) hTable1->OpenIndexFile(path);
    }
    hTable1->IndexOn(path, page->tagBox->text().trimmed(), page->ascendingBox->isChecked() ? 0 : 1,
                     !page->uniqueBox->isChecked(), page->filterBox->text().trimmed(),
                     page->expressionBox->text().trimmed());
    hTable1->SetIndexList(QString(), QString());
    ApplyIndexMask();
    // The file the tag went into is shown with its tags.
    if (QFileInfo(path).isFile()) ChooseIndexFile(path);
    page->EnableTagEditor(false);
    browsePage_->grid->Reload();
  });
}

void TMainWindow::CancelStructureTag() { structurePage_->EnableTagEditor(false); }

void TMainWindow::DeleteStructureTag() {
  if (busy_ || !hTable1->Active() || chosenIndexFile_.isEmpty()) return;
  QListWidgetItem* item = structurePage_->tagList->currentItem();
  if (!item) return;
  const QString file = chosenIndexFile_;
  const QString tag = item->text();
  Run([&] {
    hTable1->DeleteTag(file, tag);
    hTable1->SetIndexList(QString(), QString());
    ApplyIndexMask();
    if (QFileInfo(file).isFile()) ChooseIndexFile(file);
    structurePage_->ClearTagBoxes();
    browsePage_->grid->Reload();
  });
}

void TMainWindow::DeleteChosenIndexFile() {
  if (busy_ || !hTable1->Active() || chosenIndexFile_.isEmpty()) return;
  const QString file = chosenIndexFile_;
  Run([&] {
    hTable1->DeleteIndexFile(file);
    structurePage_->tagList->clear();
    ApplyIndexMask();
    structurePage_->deleteFileButton->setEnabled(false);
    structurePage_->indexFileBox->clear();
    browsePage_->FillTags();
    const bool tags = hTable1->GetTagCount() > 0;
    reindexAction_->setEnabled(tags);
    structurePage_->reindexButton->setEnabled(tags);
    browsePage_->grid->Reload();
  });
}

}  // namespace fendral
