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
#include <QSet>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

#include "kx6_memo.h"
#include "tv_appdialogs.h"
#include "tv_apperror.h"
#include "tv_codepage.h"
#include "tv_commandscope.h"

namespace fendral {

namespace {

const char* const kIndexExtensions[] = {"cdx", "mdx", "ndx", "ntx"};

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

bool SameFile(const QString& a, const QString& b) {
  const QFileInfo left(a);
  const QFileInfo right(b);
  if (left.exists() && right.exists()) return left.canonicalFilePath() == right.canonicalFilePath();
  return left.absoluteFilePath() == right.absoluteFilePath();
}
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
// The field list

void TStructurePage::ShowFields() {
  if (!rows_ || !table_ || !table_->Active()) return;
  fillingFieldList_ = true;
  TAtExit filled([this] { fillingFieldList_ = false; });
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
    TAtExit seeded([this] { fillingFieldList_ = false; });
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
    TAtExit emptied([this] { fillingFieldList_ = false; });
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
  TAtExit restore([&] {
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
