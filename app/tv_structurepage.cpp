#include "tv_structurepage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QRadioButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

#include "tv_appdialogs.h"
#include "tv_resolve.h"

namespace fendral {

namespace {

const char* const kIndexExtensions[] = {"cdx", "mdx", "ndx", "ntx"};

constexpr int kPathRole = Qt::UserRole;

constexpr int kTypeColumn = 2;

// Whether the row of `index` holds a field of a type the pick list does not offer.
bool FixedRow(const QModelIndex& index) {
  const QString letter = index.sibling(index.row(), kTypeColumn).data(Qt::EditRole).toString();
  return !letter.trimmed().isEmpty() && !TStructurePage::EditableType(letter);
}

// The "DBF Type" cell offers the field types by name; the cell keeps the letter.
class TypePickDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  static QStringList Choices() {
    // Each translation keeps the type's letter first: the cell takes the letter.
    static const char* const kChoices[] = {
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "N Number"),
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "C Character"),
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "D Date"),
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "L Boolean"),
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "M Memo"),
        QT_TRANSLATE_NOOP("fendral::TStructurePage", "B Binary")};
    QStringList choices;
    for (const char* choice : kChoices)
      choices << QCoreApplication::translate("fendral::TStructurePage", choice);
    return choices;
  }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                        const QModelIndex& index) const override {
    if (FixedRow(index)) return nullptr;
    auto* box = new QComboBox(parent);
    box->setAccessibleName(QStringLiteral("DBF Type"));
    box->addItems(Choices());
    return box;
  }

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* box = static_cast<QComboBox*>(editor);
    const QString letter = index.data(Qt::EditRole).toString().trimmed().left(1).toUpper();
    const QStringList choices = Choices();
    for (int i = 0; i < choices.size(); ++i)
      if (choices[i].startsWith(letter) && !letter.isEmpty()) box->setCurrentIndex(i);
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    auto* box = static_cast<QComboBox*>(editor);
    model->setData(index, box->currentText().left(1), Qt::EditRole);
  }
};

// The width and decimals of a field whose type cannot be edited here stay as they are.
class FixedSizeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (FixedRow(index)) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }
};

QPushButton* Button(const QString& text, const QString& accessibleName, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAccessibleName(accessibleName);
  return button;
}

}  // namespace

TStructurePage::TStructurePage(QWidget* parent)
    : QWidget(parent), fieldWatch_(std::make_unique<TDataSource>(nullptr)) {
  setObjectName(QStringLiteral("StructurePage"));
  auto* layout = new QHBoxLayout(this);

  // Left: the field list with its up and down buttons.
  auto* fieldsColumn = new QVBoxLayout;
  fieldGrid_ = new TDBGrid(this);
  fieldGrid_->setObjectName(QStringLiteral("FieldGrid"));
  fieldGrid_->setAccessibleName(tr("Fields"));
  fieldGrid_->verticalHeader()->hide();
  fieldGrid_->setItemDelegateForColumn(kTypeColumn, new TypePickDelegate(fieldGrid_));
  fieldGrid_->setItemDelegateForColumn(kTypeColumn + 1, new FixedSizeDelegate(fieldGrid_));
  fieldGrid_->setItemDelegateForColumn(kTypeColumn + 2, new FixedSizeDelegate(fieldGrid_));
  fieldsColumn->addWidget(fieldGrid_, 1);
  auto* moveRow = new QHBoxLayout;
  upButton_ = Button(tr("Up"), tr("Move field up"), this);
  downButton_ = Button(tr("Down"), tr("Move field down"), this);
  upButton_->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  downButton_->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  upButton_->setEnabled(false);
  downButton_->setEnabled(false);
  addFieldButton_ = Button(tr("Add"), tr("Add field"), this);
  deleteFieldButton_ = Button(tr("Delete"), tr("Delete field"), this);
  moveRow->addWidget(upButton_);
  moveRow->addWidget(downButton_);
  moveRow->addSpacing(12);
  moveRow->addWidget(addFieldButton_);
  moveRow->addWidget(deleteFieldButton_);
  moveRow->addStretch();
  fieldsColumn->addLayout(moveRow);
  layout->addLayout(fieldsColumn, 2);

  // Middle: the table's variant, memo block size and the create button.
  auto* tableColumn = new QVBoxLayout;
  auto* typeBox = new QGroupBox(tr("DBF Type"), this);
  auto* typeLayout = new QVBoxLayout(typeBox);
  typeGroup_ = new QButtonGroup(this);
  const QString names[] = {tr("Clipper"), tr("DBase III"), tr("DBase IV"), tr("FoxPro")};
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(names[i], typeBox);
    typeGroup_->addButton(button, i);
    typeLayout->addWidget(button);
  }
  typeGroup_->button(kFoxPro)->setChecked(true);
  tableColumn->addWidget(typeBox);

  auto* blockRow = new QHBoxLayout;
  blockSizeLabel_ = new QLabel(tr("FPT Block size"), this);
  blockSizeBox_ = new QLineEdit(QStringLiteral("64"), this);
  blockSizeBox_->setToolTip(tr("Only FoxPro file"));
  blockSizeBox_->setValidator(new QIntValidator(1, 65535, blockSizeBox_));
  blockSizeBox_->setMaximumWidth(70);
  blockSizeLabel_->setBuddy(blockSizeBox_);
  blockRow->addWidget(blockSizeLabel_);
  blockRow->addWidget(blockSizeBox_);
  tableColumn->addLayout(blockRow);

  createButton_ = new QPushButton(tr("Create DBF"), this);
  tableColumn->addWidget(createButton_);
  noticeLabel_ = new QLabel(this);
  noticeLabel_->setObjectName(QStringLiteral("StructureNotice"));
  noticeLabel_->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  noticeLabel_->setWordWrap(true);
  tableColumn->addWidget(noticeLabel_);
  tableColumn->addStretch();
  layout->addLayout(tableColumn, 0);

  // Right: index files, their tags and the tag editor.
  auto* indexColumn = new QGridLayout;
  allIndexFiles_ = new QCheckBox(tr("All Index file"), this);
  indexColumn->addWidget(allIndexFiles_, 0, 0, 1, 2);

  auto* filesLabel = new QLabel(tr("Index files"), this);
  indexFileList_ = new QListWidget(this);
  indexFileList_->setAccessibleName(tr("Index files"));
  filesLabel->setBuddy(indexFileList_);
  newFileButton_ = Button(tr("New"), tr("New index file"), this);
  deleteFileButton_ = Button(tr("Del"), tr("Delete index file"), this);
  newFileButton_->setEnabled(false);
  deleteFileButton_->setEnabled(false);
  auto* fileButtons = new QHBoxLayout;
  fileButtons->addWidget(newFileButton_);
  fileButtons->addWidget(deleteFileButton_);
  indexColumn->addWidget(filesLabel, 1, 0);
  indexColumn->addWidget(indexFileList_, 2, 0);
  indexColumn->addLayout(fileButtons, 3, 0);

  auto* tagsLabel = new QLabel(tr("Index Tags"), this);
  tagList_ = new QListWidget(this);
  tagList_->setAccessibleName(tr("Index Tags"));
  tagsLabel->setBuddy(tagList_);
  newTagButton_ = Button(tr("New"), tr("New tag"), this);
  deleteTagButton_ = Button(tr("Del"), tr("Delete tag"), this);
  newTagButton_->setEnabled(false);
  deleteTagButton_->setEnabled(false);
  auto* tagButtons = new QHBoxLayout;
  tagButtons->addWidget(newTagButton_);
  tagButtons->addWidget(deleteTagButton_);
  indexColumn->addWidget(tagsLabel, 1, 1);
  indexColumn->addWidget(tagList_, 2, 1);
  indexColumn->addLayout(tagButtons, 3, 1);

  auto* editor = new QGroupBox(tr("Tag"), this);
  auto* form = new QFormLayout(editor);
  indexFileBox_ = new QLineEdit(editor);
  indexFileBox_->setReadOnly(true);
  auto* fileLabel = new QLabel(tr("Index File"), editor);
  fileLabel->setBuddy(indexFileBox_);
  form->addRow(fileLabel, indexFileBox_);
  tagLabel_ = new QLabel(tr("Index Tag"), editor);
  tagBox_ = new QLineEdit(editor);
  tagLabel_->setBuddy(tagBox_);
  form->addRow(tagLabel_, tagBox_);
  expressionLabel_ = new QLabel(tr("Expression"), editor);
  expressionBox_ = new QLineEdit(editor);
  expressionBox_->setToolTip(
      tr("Expression index. Possible functions: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, "
         "Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, "
         "PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val."));
  expressionLabel_->setBuddy(expressionBox_);
  form->addRow(expressionLabel_, expressionBox_);
  filterLabel_ = new QLabel(tr("Filter"), editor);
  filterBox_ = new QLineEdit(editor);
  filterLabel_->setBuddy(filterBox_);
  form->addRow(filterLabel_, filterBox_);
  uniqueBox_ = new QCheckBox(tr("Unique"), editor);
  ascendingBox_ = new QCheckBox(tr("Ascending"), editor);
  ascendingBox_->setChecked(true);
  auto* flags = new QHBoxLayout;
  flags->addWidget(uniqueBox_);
  flags->addWidget(ascendingBox_);
  flags->addStretch();
  form->addRow(flags);
  saveButton_ = new QPushButton(tr("Save"), editor);
  cancelButton_ = new QPushButton(tr("Cancel"), editor);
  auto* editButtons = new QHBoxLayout;
  editButtons->addStretch();
  editButtons->addWidget(saveButton_);
  editButtons->addWidget(cancelButton_);
  form->addRow(editButtons);
  indexColumn->addWidget(editor, 4, 0, 1, 2);

  reindexButton_ = new QPushButton(tr("Reindex"), this);
  reindexButton_->setEnabled(false);
  auto* reindexRow = new QHBoxLayout;
  reindexRow->addWidget(reindexButton_);
  reindexRow->addStretch();
  indexColumn->addLayout(reindexRow, 5, 0, 1, 2);
  indexColumn->setRowStretch(2, 1);
  layout->addLayout(indexColumn, 3);

  EnableTagEditor(false);

  // Tests and accessibility tools find the controls by these names.
  const std::pair<QObject*, const char*> named[] = {{typeGroup_, "TypeGroup"},
                                                    {blockSizeBox_, "BlockSizeBox"},
                                                    {createButton_, "CreateButton"},
                                                    {upButton_, "UpButton"},
                                                    {downButton_, "DownButton"},
                                                    {addFieldButton_, "AddFieldButton"},
                                                    {deleteFieldButton_, "DeleteFieldButton"},
                                                    {allIndexFiles_, "AllIndexFiles"},
                                                    {indexFileList_, "IndexFileList"},
                                                    {newFileButton_, "NewFileButton"},
                                                    {deleteFileButton_, "DeleteFileButton"},
                                                    {tagList_, "TagList"},
                                                    {newTagButton_, "NewTagButton"},
                                                    {deleteTagButton_, "DeleteTagButton"},
                                                    {reindexButton_, "ReindexButton"},
                                                    {indexFileBox_, "IndexFileBox"},
                                                    {tagBox_, "TagBox"},
                                                    {expressionBox_, "ExpressionBox"},
                                                    {filterBox_, "FilterBox"},
                                                    {uniqueBox_, "UniqueBox"},
                                                    {ascendingBox_, "AscendingBox"},
                                                    {saveButton_, "SaveButton"},
                                                    {cancelButton_, "CancelButton"}};
  for (const auto& [object, name] : named) object->setObjectName(QLatin1String(name));
  ConnectControls();
}

TStructurePage::~TStructurePage() = default;

bool TStructurePage::EditableType(const QString& letter) {
  const QString type = letter.trimmed().toUpper();
  if (type.size() != 1) return false;
  for (const QString& choice : TypePickDelegate::Choices())
    if (choice.startsWith(type)) return true;
  return false;
}

void TStructurePage::ConnectControls() {
  fieldWatch_->OnDataChange = [this](TDataSource&, TField* field) {
    if (field && !fillingFieldList_) fieldListEdited_ = true;
  };
  connect(upButton_, &QPushButton::clicked, this, [this] { MoveRow(-1); });
  connect(downButton_, &QPushButton::clicked, this, [this] { MoveRow(1); });
  connect(addFieldButton_, &QPushButton::clicked, this, &TStructurePage::AddRow);
  connect(deleteFieldButton_, &QPushButton::clicked, this, &TStructurePage::DeleteRow);
  // In the field grid, Insert adds a row and Ctrl+Delete removes the current one.
  auto* addKey = new QShortcut(QKeySequence(Qt::Key_Insert), fieldGrid_);
  addKey->setContext(Qt::WidgetShortcut);
  connect(addKey, &QShortcut::activated, this, &TStructurePage::AddRow);
  auto* deleteKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete), fieldGrid_);
  deleteKey->setContext(Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, &TStructurePage::DeleteRow);
  addFieldButton_->setToolTip(
      QCoreApplication::translate("fendral::TMainWindow", "Add a field (Insert)"));
  deleteFieldButton_->setToolTip(
      QCoreApplication::translate("fendral::TMainWindow", "Delete the field (Ctrl+Delete)"));
  connect(fieldGrid_, &QAbstractItemView::doubleClicked, this, &TStructurePage::RowDoubleClicked);
  fieldGrid_->OnError = [this](const std::exception& error) {
    emit errorRaised(QString::fromUtf8(error.what()));
  };

  connect(createButton_, &QPushButton::clicked, this, &TStructurePage::PressCreate);
  connect(reindexButton_, &QPushButton::clicked, this, &TStructurePage::reindexRequested);
  connect(allIndexFiles_, &QCheckBox::toggled, this, [this] { Guard([&] { ApplyIndexMask(); }); });
  // A file is chosen by a click, or from the keyboard with Enter.
  auto chooseFile = [this](QListWidgetItem*) {
    const QString path = ChosenIndexFile();
    if (!path.isEmpty()) Guard([&] { ChooseIndexFile(path); });
  };
  connect(indexFileList_, &QListWidget::itemClicked, this, chooseFile);
  connect(indexFileList_, &QListWidget::itemActivated, this, chooseFile);
  // Showing a tag changes nothing, so the tag follows the list's cursor.
  connect(tagList_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0) Guard([&] { ChooseTag(row); });
  });
  connect(newFileButton_, &QPushButton::clicked, this, &TStructurePage::NewIndexFile);
  connect(deleteFileButton_, &QPushButton::clicked, this, &TStructurePage::DeleteIndexFile);
  connect(newTagButton_, &QPushButton::clicked, this, &TStructurePage::NewTag);
  connect(deleteTagButton_, &QPushButton::clicked, this, &TStructurePage::DeleteTag);
  connect(saveButton_, &QPushButton::clicked, this, &TStructurePage::SaveTag);
  connect(cancelButton_, &QPushButton::clicked, this, [this] { EnableTagEditor(false); });
}

void TStructurePage::Guard(const std::function<void()>& work) {
  try {
    work();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    emit errorRaised(QString::fromUtf8(error.what()));
  }
}

// ---------------------------------------------------------------------------------------
// Mode, kind, memo block size, notice

void TStructurePage::SetMode(Mode mode) {
  mode_ = mode;
  // The caption only shows the mode; nothing reads it back.
  if (mode == Mode::Create)
    createButton_->setText(tr("Create DBF"));
  else
    createButton_->setText(QCoreApplication::translate("fendral::TMainWindow", "Modify DBF"));
}

void TStructurePage::SetTypeButton(TypeButton button) {
  typeGroup_->button(button)->setChecked(true);
}

int TStructurePage::TypeButtonChecked() const { return typeGroup_->checkedId(); }

void TStructurePage::ShowOpenTableType(tolvern::TkxLokProtocol protocol) {
  // What is open decides, as it decides the lock protocol; so a "Modify DBF" with the
  // choice untouched keeps the table's kind.
  TypeButton type = kDBaseIII;
  switch (protocol) {
    case tolvern::TkxLokProtocol::ClipLock:
      type = kClipper;
      break;
    case tolvern::TkxLokProtocol::FoxLock:
      type = kFoxPro;
      break;
    case tolvern::TkxLokProtocol::DB4Lock:
      type = kDBaseIV;
      break;
    default:
      break;
  }
  openTableType_ = type;
  SetTypeButton(type);
}

TTableTypeChange TStructurePage::TypeChange() const {
  TTableTypeChange change;
  change.from = openTableType_;
  change.to = TypeButtonChecked();
  if (change.from >= 0) change.fromName = typeGroup_->button(change.from)->text();
  if (change.to >= 0) change.toName = typeGroup_->button(change.to)->text();
  return change;
}

void TStructurePage::ShowMemoBlockSize(bool enabled, int size) {
  blockSizeLabel_->setEnabled(enabled);
  blockSizeBox_->setEnabled(enabled);
  if (size > 0) blockSizeBox_->setText(QString::number(size));
}

QString TStructurePage::BlockSizeText() const { return blockSizeBox_->text().trimmed(); }

void TStructurePage::SetNotice(const QString& text) { noticeLabel_->setText(text); }

QString TStructurePage::Notice() const { return noticeLabel_->text(); }

void TStructurePage::SetReindexEnabled(bool on) { reindexButton_->setEnabled(on); }

// ---------------------------------------------------------------------------------------
// Index files and tags

QString TStructurePage::IndexMask(bool all, const QString& tableName) {
  QStringList patterns;
  const QString stem = all ? QStringLiteral("*") : QFileInfo(tableName).completeBaseName();
  for (const char* ext : kIndexExtensions) patterns << stem + QLatin1Char('.') + QLatin1String(ext);
  return patterns.join(QLatin1Char(';'));
}

bool TStructurePage::MatchesIndexMask(const QString& fileName, const QString& mask) {
  for (const QString& pattern : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QRegularExpression expression(
        QRegularExpression::wildcardToRegularExpression(pattern.trimmed()),
        QRegularExpression::CaseInsensitiveOption);
    if (expression.match(fileName).hasMatch()) return true;
  }
  return false;
}

QString TStructurePage::TableDirectory() const {
  return table_ ? table_->GetTableDirectory() : QString();
}

void TStructurePage::ListIndexFiles() {
  indexFileList_->clear();
  deleteFileButton_->setEnabled(false);
  if (!table_ || !table_->Active()) return;
  const QString mask = IndexMask(allIndexFiles_->isChecked(), table_->TableName());
  const QDir dir(TableDirectory());
  QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::NoSort);
  std::sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
    const int order = a.fileName().compare(b.fileName(), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a.fileName() < b.fileName();
  });
  for (const QFileInfo& entry : entries)
    if (MatchesIndexMask(entry.fileName(), mask)) AddIndexFileItem(entry.absoluteFilePath());
  newFileButton_->setEnabled(true);
}

void TStructurePage::AddIndexFileItem(const QString& path) {
  auto* item = new QListWidgetItem(QFileInfo(path).fileName(), indexFileList_);
  item->setData(kPathRole, path);
}

void TStructurePage::OpenIndexFiles(const QStringList& moreFiles) {
  ListIndexFiles();
  QStringList files;
  for (int row = 0; row < indexFileList_->count(); ++row)
    files << indexFileList_->item(row)->data(kPathRole).toString();
  for (const QString& file : moreFiles) {
    const QString path = QFileInfo(file).absoluteFilePath();
    if (files.contains(path) || !QFileInfo(path).isFile()) continue;
    AddIndexFileItem(path);
    files << path;
  }
  tagList_->clear();
  if (!files.isEmpty()) {
    table_->SetIndexFiles(files);
    emit indexFilesChanged();
  }
  MarkDamagedFiles();
}

void TStructurePage::ApplyIndexMask() {
  chosenIndexFile_.clear();
  tagList_->clear();
  newTagButton_->setEnabled(false);
  deleteTagButton_->setEnabled(false);
  ListIndexFiles();
  MarkDamagedFiles();
}

void TStructurePage::ChooseIndexFile(const QString& path) {
  if (!table_ || !table_->Active()) return;
  tagList_->clear();
  // The chosen file becomes the table's index file (the production index, which the
  // table always keeps open, aside).
  try {
    table_->SetIndexFiles({path});
  } catch (...) {
    // A file the table cannot open stays out of its list.
    table_->SetIndexFiles({});
    emit indexFilesChanged();
    throw;
  }
  chosenIndexFile_ = path;
  for (int n = 1; n <= table_->GetTagCount(); ++n) {
    if (!SameFile(table_->GetTagFile(n), path)) continue;
    auto* item = new QListWidgetItem(table_->GetTagName(n), tagList_);
    item->setData(kPathRole, n);
  }
  indexFileBox_->setText(QFileInfo(path).fileName());
  for (int row = 0; row < indexFileList_->count(); ++row)
    if (SameFile(indexFileList_->item(row)->data(kPathRole).toString(), path))
      indexFileList_->setCurrentRow(row);
  deleteFileButton_->setEnabled(true);
  newTagButton_->setEnabled(true);
  deleteTagButton_->setEnabled(true);
  MarkDamagedFiles();
  emit indexFilesChanged();
}

QString TStructurePage::ChosenIndexFile() const {
  const QListWidgetItem* item = indexFileList_->currentItem();
  return item ? item->data(kPathRole).toString() : QString();
}

void TStructurePage::MarkDamagedFiles() {
  QStringList paths, reasons;
  if (table_)
    for (const TTVDamagedIndex& damaged : table_->DamagedIndexes()) {
      paths << damaged.path;
      reasons << damaged.reason;
    }
  for (int row = 0; row < indexFileList_->count(); ++row) {
    QListWidgetItem* item = indexFileList_->item(row);
    const QFileInfo file(item->data(kPathRole).toString());
    int damaged = -1;
    for (int i = 0; i < paths.size() && damaged < 0; ++i)
      if (QFileInfo(paths[i]).absoluteFilePath() == file.absoluteFilePath()) damaged = i;
    item->setText(damaged < 0 ? file.fileName() : tr("%1 (damaged)").arg(file.fileName()));
    item->setToolTip(damaged < 0 ? QString() : reasons.value(damaged));
  }
}

void TStructurePage::ClearIndexLists() {
  chosenIndexFile_.clear();
  indexFileList_->clear();
  tagList_->clear();
  newFileButton_->setEnabled(false);
  deleteFileButton_->setEnabled(false);
  newTagButton_->setEnabled(false);
  deleteTagButton_->setEnabled(false);
  indexFileBox_->clear();
  ClearTagBoxes();
  EnableTagEditor(false);
}

void TStructurePage::EnableTagEditor(bool on) {
  for (QWidget* widget : std::initializer_list<QWidget*>{
           tagLabel_, tagBox_, expressionLabel_, expressionBox_, filterLabel_, filterBox_,
           uniqueBox_, ascendingBox_, saveButton_, cancelButton_})
    widget->setEnabled(on);
}

bool TStructurePage::TagEditorEnabled() const { return tagBox_->isEnabled(); }

void TStructurePage::ClearTagBoxes() {
  tagBox_->clear();
  expressionBox_->clear();
  filterBox_->clear();
}

void TStructurePage::ChooseTag(int row) {
  QListWidgetItem* item = tagList_->item(row);
  if (!item || !table_ || !table_->Active()) return;
  const int n = item->data(kPathRole).toInt();
  tagBox_->setText(table_->GetTagName(n));
  expressionBox_->setText(table_->GetTagKey(n));
  uniqueBox_->setChecked(table_->GetTagUnique(n));
  ascendingBox_->setChecked(table_->GetTagAscending(n));
  filterBox_->setText(table_->GetTagFor(n));
}

void TStructurePage::NewIndexFile() {
  if (!table_ || !table_->Active() || !dialogs_) return;
  const QString table = table_->TableName();
  const QString stem = table.left(
      table.indexOf(QLatin1Char('.')) < 0 ? table.size() : table.indexOf(QLatin1Char('.')));
  QString path = dialogs_->SaveFile(
      QCoreApplication::translate("fendral::TMainWindow", "New index file"),
      TableDirectory() + stem,
      QCoreApplication::translate("fendral::TMainWindow",
                                  "FoxPro 2.x Index (*.CDX *.cdx);;dBase IV Index (*.MDX *.mdx);;"
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
      QDir(info.absolutePath()).absolutePath() == QDir(TableDirectory()).absolutePath();
  indexFileBox_->setText(inTableDirectory ? info.fileName() : info.absoluteFilePath());
  ClearTagBoxes();
  EnableTagEditor(true);
  tagEditMode_ = TagEditMode::NewFile;
  tagBox_->setFocus();
}

void TStructurePage::NewTag() {
  if (!table_ || !table_->Active() || chosenIndexFile_.isEmpty()) return;
  indexFileBox_->setText(QFileInfo(chosenIndexFile_).fileName());
  ClearTagBoxes();
  EnableTagEditor(true);
  tagEditMode_ = TagEditMode::AddToFile;
  tagBox_->setFocus();
}

void TStructurePage::SaveTag() {
  if (!table_ || !table_->Active()) return;
  const QString box = indexFileBox_->text().trimmed();
  if (box.isEmpty()) return;
  TTagRequest request;
  request.file =
      QFileInfo(box).isAbsolute() ? box : QFileInfo(TableDirectory() + box).absoluteFilePath();
  request.tag = tagBox_->text().trimmed();
  request.expression = expressionBox_->text().trimmed();
  request.filter = filterBox_->text().trimmed();
  request.ascending = ascendingBox_->isChecked();
  request.unique = uniqueBox_->isChecked();
  request.addToFile = tagEditMode_ == TagEditMode::AddToFile;
  emit saveTagRequested(request);
}

void TStructurePage::TagSaved(const QString& path) {
  ApplyIndexMask();
  // The file the tag went into is shown with its tags.
  if (QFileInfo(path).isFile()) ChooseIndexFile(path);
  EnableTagEditor(false);
}

void TStructurePage::DeleteTag() {
  if (!table_ || !table_->Active() || chosenIndexFile_.isEmpty()) return;
  const QListWidgetItem* item = tagList_->currentItem();
  if (item) emit deleteTagRequested(chosenIndexFile_, item->text());
}

void TStructurePage::TagDeleted(const QString& path) {
  ApplyIndexMask();
  if (QFileInfo(path).isFile()) ChooseIndexFile(path);
  ClearTagBoxes();
}

void TStructurePage::DeleteIndexFile() {
  if (!table_ || !table_->Active() || chosenIndexFile_.isEmpty()) return;
  emit deleteIndexFileRequested(chosenIndexFile_);
}

void TStructurePage::IndexFileDeleted() {
  ApplyIndexMask();
  deleteFileButton_->setEnabled(false);
  indexFileBox_->clear();
  emit indexFilesChanged();
}

}  // namespace fendral
