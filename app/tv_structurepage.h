// The "Structure DBF" page: the field list of the browsed table (the in-memory structure
// table), its variant, the memo block size, and the index files and tags of the table's
// directory with the editor of one tag. The open-table procedure fills it; the commands
// that change a structure or an index (tv_structurecommands.cpp) work on these controls.
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
  // What "Save" does with the tag editor's contents: write a new index file holding the
  // tag, or add the tag to the chosen index file.
  enum class TagEditMode { NewFile, AddToFile };

  explicit TStructurePage(QWidget* parent = nullptr);

  // Whether a field of type `letter` can be given another type, width or decimals here
  // (the types of the "DBF Type" pick list). A field of another type is shown with its
  // own letter and can be moved, renamed or removed, but keeps its type and width.
  static bool EditableType(const QString& letter);

  // Binds the field grid to the structure table's data source.
  void SetFields(TDataSource* fields);

  // The mask of the index-file list: every index file when `all`, otherwise the index
  // files named like `tableName` ("sales.dbf" -> "sales.cdx;sales.mdx;sales.ndx;sales.ntx").
  static QString IndexMask(bool all, const QString& tableName);
  // Whether `fileName` matches one of the ";"-separated patterns of `mask`, ignoring case.
  static bool MatchesIndexMask(const QString& fileName, const QString& mask);
  // Fills the index-file list with the files of `directory` that the current mask (by
  // "All Index file" and `tableName`) lets through; answers their full paths.
  QStringList ListIndexFiles(const QString& directory, const QString& tableName);
  // Adds `path` to the index-file list (a file the mask does not take in).
  void AddIndexFileItem(const QString& path);
  // Full path of the file chosen in the index-file list; empty when none is chosen.
  QString ChosenIndexFile() const;
  // Marks the listed files among `paths` (full paths) "(damaged)", with `reasons` (one a
  // path) as their tips; unmarks the others.
  void MarkDamagedFiles(const QStringList& paths, const QStringList& reasons);
  void ClearIndexLists();
  void SetTypeButton(TypeButton button);
  int TypeButtonChecked() const { return typeGroup->checkedId(); }

  // Enables or disables the tag editor's boxes, flags, labels, "Save" and "Cancel".
  void EnableTagEditor(bool on);
  bool TagEditorEnabled() const { return tagBox->isEnabled(); }
  // Empties the tag, expression and filter boxes.
  void ClearTagBoxes();

  QButtonGroup* typeGroup;
  QLabel* blockSizeLabel;
  QLineEdit* blockSizeBox;
  QPushButton* createButton;
  QLabel* noticeLabel;
  TDBGrid* fieldGrid;
  QPushButton* upButton;
  QPushButton* downButton;
  QPushButton* addFieldButton;
  QPushButton* deleteFieldButton;

  QCheckBox* allIndexFiles;
  QListWidget* indexFileList;
  QPushButton* newFileButton;
  QPushButton* deleteFileButton;
  QListWidget* tagList;
  QPushButton* newTagButton;
  QPushButton* deleteTagButton;
  QPushButton* reindexButton;

  // The tag editor.
  QLineEdit* indexFileBox;
  QLabel* tagLabel;
  QLineEdit* tagBox;
  QLabel* expressionLabel;
  QLineEdit* expressionBox;
  QLabel* filterLabel;
  QLineEdit* filterBox;
  QCheckBox* uniqueBox;
  QCheckBox* ascendingBox;
  QPushButton* saveButton;
  QPushButton* cancelButton;
  TagEditMode tagEditMode = TagEditMode::NewFile;
};

}  // namespace fendral
