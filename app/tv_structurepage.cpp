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
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

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

TStructurePage::TStructurePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("StructurePage"));
  auto* layout = new QHBoxLayout(this);

  // Left: the field list with its up and down buttons.
  auto* fieldsColumn = new QVBoxLayout;
  fieldGrid = new TDBGrid(this);
  fieldGrid->setObjectName(QStringLiteral("FieldGrid"));
  fieldGrid->setAccessibleName(tr("Fields"));
  fieldGrid->verticalHeader()->hide();
  fieldGrid->setItemDelegateForColumn(kTypeColumn, new TypePickDelegate(fieldGrid));
  fieldGrid->setItemDelegateForColumn(kTypeColumn + 1, new FixedSizeDelegate(fieldGrid));
  fieldGrid->setItemDelegateForColumn(kTypeColumn + 2, new FixedSizeDelegate(fieldGrid));
  fieldsColumn->addWidget(fieldGrid, 1);
  auto* moveRow = new QHBoxLayout;
  upButton = Button(tr("Up"), tr("Move field up"), this);
  downButton = Button(tr("Down"), tr("Move field down"), this);
  upButton->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  downButton->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  upButton->setEnabled(false);
  downButton->setEnabled(false);
  addFieldButton = Button(tr("Add"), tr("Add field"), this);
  deleteFieldButton = Button(tr("Delete"), tr("Delete field"), this);
  moveRow->addWidget(upButton);
  moveRow->addWidget(downButton);
  moveRow->addSpacing(12);
  moveRow->addWidget(addFieldButton);
  moveRow->addWidget(deleteFieldButton);
  moveRow->addStretch();
  fieldsColumn->addLayout(moveRow);
  layout->addLayout(fieldsColumn, 2);

  // Middle: the table's variant, memo block size and the create button.
  auto* tableColumn = new QVBoxLayout;
  auto* typeBox = new QGroupBox(tr("DBF Type"), this);
  auto* typeLayout = new QVBoxLayout(typeBox);
  typeGroup = new QButtonGroup(this);
  const QString names[] = {tr("Clipper"), tr("DBase III"), tr("DBase IV"), tr("FoxPro")};
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(names[i], typeBox);
    typeGroup->addButton(button, i);
    typeLayout->addWidget(button);
  }
  typeGroup->button(kFoxPro)->setChecked(true);
  tableColumn->addWidget(typeBox);

  auto* blockRow = new QHBoxLayout;
  blockSizeLabel = new QLabel(tr("FPT Block size"), this);
  blockSizeBox = new QLineEdit(QStringLiteral("64"), this);
  blockSizeBox->setToolTip(tr("Only FoxPro file"));
  blockSizeBox->setValidator(new QIntValidator(1, 65535, blockSizeBox));
  blockSizeBox->setMaximumWidth(70);
  blockSizeLabel->setBuddy(blockSizeBox);
  blockRow->addWidget(blockSizeLabel);
  blockRow->addWidget(blockSizeBox);
  tableColumn->addLayout(blockRow);

  createButton = new QPushButton(tr("Create DBF"), this);
  tableColumn->addWidget(createButton);
  noticeLabel = new QLabel(this);
  noticeLabel->setObjectName(QStringLiteral("StructureNotice"));
  noticeLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  noticeLabel->setWordWrap(true);
  tableColumn->addWidget(noticeLabel);
  tableColumn->addStretch();
  layout->addLayout(tableColumn, 0);

  // Right: index files, their tags and the tag editor.
  auto* indexColumn = new QGridLayout;
  allIndexFiles = new QCheckBox(tr("All Index file"), this);
  indexColumn->addWidget(allIndexFiles, 0, 0, 1, 2);

  auto* filesLabel = new QLabel(tr("Index files"), this);
  indexFileList = new QListWidget(this);
  indexFileList->setAccessibleName(tr("Index files"));
  filesLabel->setBuddy(indexFileList);
  newFileButton = Button(tr("New"), tr("New index file"), this);
  deleteFileButton = Button(tr("Del"), tr("Delete index file"), this);
  newFileButton->setEnabled(false);
  deleteFileButton->setEnabled(false);
  auto* fileButtons = new QHBoxLayout;
  fileButtons->addWidget(newFileButton);
  fileButtons->addWidget(deleteFileButton);
  indexColumn->addWidget(filesLabel, 1, 0);
  indexColumn->addWidget(indexFileList, 2, 0);
  indexColumn->addLayout(fileButtons, 3, 0);

  auto* tagsLabel = new QLabel(tr("Index Tags"), this);
  tagList = new QListWidget(this);
  tagList->setAccessibleName(tr("Index Tags"));
  tagsLabel->setBuddy(tagList);
  newTagButton = Button(tr("New"), tr("New tag"), this);
  deleteTagButton = Button(tr("Del"), tr("Delete tag"), this);
  newTagButton->setEnabled(false);
  deleteTagButton->setEnabled(false);
  auto* tagButtons = new QHBoxLayout;
  tagButtons->addWidget(newTagButton);
  tagButtons->addWidget(deleteTagButton);
  indexColumn->addWidget(tagsLabel, 1, 1);
  indexColumn->addWidget(tagList, 2, 1);
  indexColumn->addLayout(tagButtons, 3, 1);

  auto* editor = new QGroupBox(tr("Tag"), this);
  auto* form = new QFormLayout(editor);
  indexFileBox = new QLineEdit(editor);
  indexFileBox->setReadOnly(true);
  auto* fileLabel = new QLabel(tr("Index File"), editor);
  fileLabel->setBuddy(indexFileBox);
  form->addRow(fileLabel, indexFileBox);
  tagLabel = new QLabel(tr("Index Tag"), editor);
  tagBox = new QLineEdit(editor);
  tagLabel->setBuddy(tagBox);
  form->addRow(tagLabel, tagBox);
  expressionLabel = new QLabel(tr("Expression"), editor);
  expressionBox = new QLineEdit(editor);
  expressionBox->setToolTip(
      tr("Expression index. Possible functions: AllTrim, Asc, At, Ceiling, Chr, CTOD, Date, "
         "Descend, DTOC, DTOS, Empty, Floor, IIF, Int, Left, Len, Lower, LTrim, PadC, PadL, "
         "PadR, Right, RTrim, Soudex, Space, Str, StrZero, SubStr, Trim, Upper, Val."));
  expressionLabel->setBuddy(expressionBox);
  form->addRow(expressionLabel, expressionBox);
  filterLabel = new QLabel(tr("Filter"), editor);
  filterBox = new QLineEdit(editor);
  filterLabel->setBuddy(filterBox);
  form->addRow(filterLabel, filterBox);
  uniqueBox = new QCheckBox(tr("Unique"), editor);
  ascendingBox = new QCheckBox(tr("Ascending"), editor);
  ascendingBox->setChecked(true);
  auto* flags = new QHBoxLayout;
  flags->addWidget(uniqueBox);
  flags->addWidget(ascendingBox);
  flags->addStretch();
  form->addRow(flags);
  saveButton = new QPushButton(tr("Save"), editor);
  cancelButton = new QPushButton(tr("Cancel"), editor);
  auto* editButtons = new QHBoxLayout;
  editButtons->addStretch();
  editButtons->addWidget(saveButton);
  editButtons->addWidget(cancelButton);
  form->addRow(editButtons);
  indexColumn->addWidget(editor, 4, 0, 1, 2);

  reindexButton = new QPushButton(tr("Reindex"), this);
  reindexButton->setEnabled(false);
  auto* reindexRow = new QHBoxLayout;
  reindexRow->addWidget(reindexButton);
  reindexRow->addStretch();
  indexColumn->addLayout(reindexRow, 5, 0, 1, 2);
  indexColumn->setRowStretch(2, 1);
  layout->addLayout(indexColumn, 3);

  EnableTagEditor(false);
}

bool TStructurePage::EditableType(const QString& letter) {
  const QString type = letter.trimmed().toUpper();
  if (type.size() != 1) return false;
  for (const QString& choice : TypePickDelegate::Choices())
    if (choice.startsWith(type)) return true;
  return false;
}

void TStructurePage::SetFields(TDataSource* fields) {
  fieldGrid->SetDataSource(fields);
  if (!fields) return;
  // Column widths of the field list: number, name, type letter, length, decimals; never
  // narrower than the column's title.
  const int widths[] = {25, 90, 59, 46, 30};
  const QFontMetrics metrics = fieldGrid->horizontalHeader()->fontMetrics();
  for (int c = 0; c < 5 && c < fieldGrid->Model().columnCount(); ++c) {
    const QString title = fieldGrid->Model().headerData(c, Qt::Horizontal).toString();
    fieldGrid->setColumnWidth(c, std::max(widths[c], metrics.horizontalAdvance(title) + 16));
  }
  // The name column takes the room the grid has beyond the others.
  fieldGrid->horizontalHeader()->setStretchLastSection(false);
  if (fieldGrid->Model().columnCount() > 1)
    fieldGrid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
}

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

QStringList TStructurePage::ListIndexFiles(const QString& directory, const QString& tableName) {
  indexFileList->clear();
  const QString mask = IndexMask(allIndexFiles->isChecked(), tableName);
  QStringList paths;
  const QDir dir(directory);
  QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::NoSort);
  std::sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
    const int order = a.fileName().compare(b.fileName(), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a.fileName() < b.fileName();
  });
  for (const QFileInfo& entry : entries) {
    if (!MatchesIndexMask(entry.fileName(), mask)) continue;
    auto* item = new QListWidgetItem(entry.fileName(), indexFileList);
    item->setData(kPathRole, entry.absoluteFilePath());
    paths << entry.absoluteFilePath();
  }
  deleteFileButton->setEnabled(false);
  newFileButton->setEnabled(true);
  return paths;
}

void TStructurePage::AddIndexFileItem(const QString& path) {
  auto* item = new QListWidgetItem(QFileInfo(path).fileName(), indexFileList);
  item->setData(kPathRole, path);
}

QString TStructurePage::ChosenIndexFile() const {
  const QListWidgetItem* item = indexFileList->currentItem();
  return item ? item->data(kPathRole).toString() : QString();
}

void TStructurePage::MarkDamagedFiles(const QStringList& paths, const QStringList& reasons) {
  for (int row = 0; row < indexFileList->count(); ++row) {
    QListWidgetItem* item = indexFileList->item(row);
    const QFileInfo file(item->data(kPathRole).toString());
    int damaged = -1;
    for (int i = 0; i < paths.size() && damaged < 0; ++i)
      if (QFileInfo(paths[i]).absoluteFilePath() == file.absoluteFilePath()) damaged = i;
    item->setText(damaged < 0 ? file.fileName() : tr("%1 (damaged)").arg(file.fileName()));
    item->setToolTip(damaged < 0 ? QString() : reasons.value(damaged));
  }
}

void TStructurePage::ClearIndexLists() {
  indexFileList->clear();
  tagList->clear();
  newFileButton->setEnabled(false);
  deleteFileButton->setEnabled(false);
  newTagButton->setEnabled(false);
  deleteTagButton->setEnabled(false);
  indexFileBox->clear();
  ClearTagBoxes();
  EnableTagEditor(false);
}

void TStructurePage::SetTypeButton(TypeButton button) {
  typeGroup->button(button)->setChecked(true);
}

void TStructurePage::EnableTagEditor(bool on) {
  for (QWidget* widget : std::initializer_list<QWidget*>{
           tagLabel, tagBox, expressionLabel, expressionBox, filterLabel, filterBox, uniqueBox,
           ascendingBox, saveButton, cancelButton})
    widget->setEnabled(on);
}

void TStructurePage::ClearTagBoxes() {
  tagBox->clear();
  expressionBox->clear();
  filterBox->clear();
}

}  // namespace fendral
