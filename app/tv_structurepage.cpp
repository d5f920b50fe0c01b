#include "tv_structurepage.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QRadioButton>
#include <QVBoxLayout>

namespace fendral {

namespace {
const char* const kIndexExtensions[] = {"cdx", "mdx", "ndx", "ntx"};
}

TStructurePage::TStructurePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("StructurePage"));
  auto* layout = new QHBoxLayout(this);

  fieldGrid = new TDBGrid(this);
  fieldGrid->setObjectName(QStringLiteral("FieldGrid"));
  fieldGrid->setAccessibleName(tr("Fields"));
  fieldGrid->verticalHeader()->hide();
  layout->addWidget(fieldGrid, 3);

  auto* side = new QVBoxLayout;
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
  side->addWidget(typeBox);

  auto* blockRow = new QHBoxLayout;
  blockSizeLabel = new QLabel(tr("FPT Block size"), this);
  blockSizeBox = new QLineEdit(QStringLiteral("64"), this);
  blockSizeBox->setToolTip(tr("Only FoxPro file"));
  blockSizeBox->setValidator(new QIntValidator(1, 65535, blockSizeBox));
  blockSizeLabel->setBuddy(blockSizeBox);
  blockRow->addWidget(blockSizeLabel);
  blockRow->addWidget(blockSizeBox);
  side->addLayout(blockRow);

  createButton = new QPushButton(tr("Create DBF"), this);
  // Creating and rebuilding tables are commands of their own, not part of this page yet.
  createButton->setEnabled(false);
  side->addWidget(createButton);

  allIndexFiles = new QCheckBox(tr("All Index file"), this);
  side->addWidget(allIndexFiles);
  auto* filesLabel = new QLabel(tr("Index files"), this);
  indexFileList = new QListWidget(this);
  indexFileList->setAccessibleName(tr("Index files"));
  filesLabel->setBuddy(indexFileList);
  side->addWidget(filesLabel);
  side->addWidget(indexFileList);
  auto* tagsLabel = new QLabel(tr("Index Tags"), this);
  tagList = new QListWidget(this);
  tagList->setAccessibleName(tr("Index Tags"));
  tagsLabel->setBuddy(tagList);
  side->addWidget(tagsLabel);
  side->addWidget(tagList);
  reindexButton = new QPushButton(tr("Reindex"), this);
  reindexButton->setEnabled(false);
  side->addWidget(reindexButton);
  noticeLabel = new QLabel(this);
  noticeLabel->setObjectName(QStringLiteral("StructureNotice"));
  noticeLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  side->addWidget(noticeLabel);
  side->addStretch();
  layout->addLayout(side, 1);
}

void TStructurePage::SetFields(TDataSource* fields) {
  fieldGrid->SetDataSource(fields);
  // Column widths of the field list: number, name, type letter, length, decimals.
  const int widths[] = {40, 110, 70, 50, 40};
  for (int c = 0; c < 5 && c < fieldGrid->Model().columnCount(); ++c)
    fieldGrid->setColumnWidth(c, widths[c]);
}

QStringList TStructurePage::ListIndexFiles(const QString& directory, const QString& tableName) {
  indexFileList->clear();
  const QString stem = QFileInfo(tableName).completeBaseName();
  QStringList paths;
  const QDir dir(directory);
  const QFileInfoList entries =
      dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& entry : entries) {
    bool indexFile = false;
    for (const char* ext : kIndexExtensions)
      indexFile = indexFile || entry.suffix().compare(QLatin1String(ext), Qt::CaseInsensitive) == 0;
    if (!indexFile) continue;
    // Companion files are matched without regard to the case of their names.
    if (!allIndexFiles->isChecked() &&
        entry.completeBaseName().compare(stem, Qt::CaseInsensitive) != 0)
      continue;
    indexFileList->addItem(entry.fileName());
    paths << entry.absoluteFilePath();
  }
  return paths;
}

void TStructurePage::ClearIndexLists() {
  indexFileList->clear();
  tagList->clear();
}

void TStructurePage::SetTypeButton(TypeButton button) {
  typeGroup->button(button)->setChecked(true);
}

}  // namespace fendral
