// The "Structure DBF" page: the field list of the browsed table (the in-memory structure
// table), its variant, the memo block size, and the index files and tags named like it.
// The open-table procedure fills it; the commands that change a structure or an index
// work on these controls.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "dbgrid.h"
#include "memtable.h"

namespace fendral {

class TStructurePage : public QWidget {
  Q_OBJECT

 public:
  // Positions of the "DBF Type" radio group.
  enum TypeButton { kClipper = 0, kDBaseIII = 1, kDBaseIV = 2, kFoxPro = 3 };

  explicit TStructurePage(QWidget* parent = nullptr);

  // Binds the field grid to the structure table's data source.
  void SetFields(TDataSource* fields);
  // The index-file list shows the index files of `directory` named like `tableName`
  // (every index file there when "All Index file" is checked); answers their full paths.
  QStringList ListIndexFiles(const QString& directory, const QString& tableName);
  void ClearIndexLists();
  void SetTypeButton(TypeButton button);
  int TypeButtonChecked() const { return typeGroup->checkedId(); }

  QButtonGroup* typeGroup;
  QLabel* blockSizeLabel;
  QLineEdit* blockSizeBox;
  QCheckBox* allIndexFiles;
  QListWidget* indexFileList;
  QListWidget* tagList;
  QPushButton* createButton;
  QPushButton* reindexButton;
  QLabel* noticeLabel;
  TDBGrid* fieldGrid;
};

}  // namespace fendral
