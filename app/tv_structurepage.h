// The "Structure DBF" page: the field list of the browsed table (the in-memory structure
// table), its variant, the memo block size, and the index files and tags of the table's
// directory with the editor of one tag.
//
// The page keeps its controls to itself. It edits the field list (rows added, removed,
// moved and renumbered, checked before a table is made), lists the index files and shows
// the tags of the one chosen, and tells the window through signals what the user asked
// for that writes files: a new table (createRequested), a rebuilt one (modifyRequested),
// a tag to build, a tag or an index file to delete, a reindex. Which of create and modify
// the create button does is the page's mode, never its caption.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "Tolvern6DB.h"
#include "datasource.h"
#include "dbgrid.h"
#include "memtable.h"
#include "tv_structuretype.h"

namespace fendral {

class TAppDialogs;

class TStructurePage : public QWidget {
  Q_OBJECT

 public:
  // Positions of the "DBF Type" radio group.
  enum TypeButton { kClipper = 0, kDBaseIII = 1, kDBaseIV = 2, kFoxPro = 3 };
  // What "Save" does with the tag editor's contents: write a new index file holding the
  // tag, or add the tag to the chosen index file.
  enum class TagEditMode { NewFile, AddToFile };
  // What the create button does: make the new table being defined, or rebuild the open one.
  enum class Mode { Create, Modify };

  explicit TStructurePage(QWidget* parent = nullptr);
  ~TStructurePage() override;

  // Whether a field of type `letter` can be given another type, width or decimals here
  // (the types of the "DBF Type" pick list). A field of another type is shown with its
  // own letter and can be moved, renamed or removed, but keeps its type and width.
  static bool EditableType(const QString& letter);
  // The mask of the index-file list: every index file when `all`, otherwise the index
  // files named like `tableName` ("sales.dbf" -> "sales.cdx;sales.mdx;sales.ndx;sales.ntx").
  static QString IndexMask(bool all, const QString& tableName);
  // Whether `fileName` matches one of the ";"-separated patterns of `mask`, ignoring case.
  static bool MatchesIndexMask(const QString& fileName, const QString& mask);

  // What the page works on: the structure table (columns Field, Name, DBF Type, Len, Dec
  // and Origin, the field a row came from) through `source`, the browsed table, and the
  // dialogs it asks for a new index file's name. Null unbinds. None is owned.
  void SetFieldTable(TMemTable* rows, TDataSource* source);
  void SetTable(TTolvernDataSet* table) { table_ = table; }
  void SetDialogs(TAppDialogs* dialogs) { dialogs_ = dialogs; }

  // --- The mode and the table's kind
  void SetMode(Mode mode);
  Mode GetMode() const { return mode_; }
  void SetTypeButton(TypeButton button);
  int TypeButtonChecked() const;
  // Chooses the "DBF Type" the open table is, by the lock protocol its files call for
  // (NTX -> Clipper, CDX or FPT -> FoxPro, MDX or dBase IV -> dBase IV, else dBase III),
  // and remembers it as the open table's kind.
  void ShowOpenTableType(tolvern::TkxLokProtocol protocol);
  // The kind chosen against the kind the open table is (-1 before a table was opened).
  TTableTypeChange TypeChange() const;
  // The memo block size box: enabled or not, and the size shown (0: left as it is).
  void ShowMemoBlockSize(bool enabled, int size);
  // The box shows the open table's memo block size (disabled while its memo file is not open).
  void ShowTableMemoBlockSize();
  QString BlockSizeText() const;
  // The red notice beside the create button (empty: none).
  void SetNotice(const QString& text);
  QString Notice() const;
  // The "Reindex" button.
  void SetReindexEnabled(bool on);

  // --- The field list
  // One row per field of the open table, as stored, each with the field it came from.
  void ShowFields();
  // The field list of a new table: one unposted row "NewName", "N", `seededLength`, 0.
  void SeedNewTable(int seededLength);
  // Empties the field list, the index lists and the tag editor; "All Index file" off.
  void Clear();
  // Whether the field list differs from what was shown or seeded.
  bool FieldListChanged();
  // Posts a pending row and checks every row; selects the first cell the table cannot be
  // made with (saying why through statusMessage) and answers false there.
  bool ValidateFields();
  // The rows as "NAME;T;LEN;DEC" lines, in their order.
  QStringList FieldLines();
  // The new table the page describes, to be written at `path` in `codePage`; throws
  // EAppError for a block size that is no whole number from 1 to 65535.
  TNewTableRequest NewTable(const QString& path, const std::string& codePage) const;
  // The create button: checks the field list, then asks for what the mode says.
  void PressCreate();
  // Esc pressed on the page with `receiver` focused: in the field grid the grid answers
  // (false); elsewhere a row being added or edited is cancelled. True when the key is used.
  bool EscapePressed(QWidget* receiver);

  // --- Index files and tags
  // Lists the table's index files (by the mask) and `moreFiles`, and opens them all as the
  // table's index files. Emits indexFilesChanged when there was one.
  void OpenIndexFiles(const QStringList& moreFiles);
  // Re-reads the index-file list by the mask; nothing is chosen afterwards.
  void ApplyIndexMask();
  // Makes `path` the table's only index file (the production index aside) and lists its
  // tags. Errors are thrown.
  void ChooseIndexFile(const QString& path);
  // Full path of the file chosen in the index-file list; empty when none is chosen.
  QString ChosenIndexFile() const;
  // Marks the listed files the table found damaged "(damaged)", with the reason as tip.
  void MarkDamagedFiles();
  // After a tag was built into `path`: the list re-read, the file chosen, the editor shut.
  void TagSaved(const QString& path);
  // After a tag of `path` was deleted, or the file itself (`fileDeleted`).
  void TagDeleted(const QString& path);
  void IndexFileDeleted();
  bool TagEditorEnabled() const;
  TagEditMode GetTagEditMode() const { return tagEditMode_; }

 signals:
  // The create button, after the field list passed its checks.
  void createRequested();
  void modifyRequested();
  void reindexRequested();
  // "Save" in the tag editor: the tag to build.
  void saveTagRequested(const fendral::TTagRequest& request);
  void deleteTagRequested(const QString& file, const QString& tag);
  void deleteIndexFileRequested(const QString& file);
  // The table's open index files changed (tags, order and reindex follow).
  void indexFilesChanged();
  // A short note for the status bar; an error for a message box.
  void statusMessage(const QString& text);
  void errorRaised(const QString& text);

 private:
  void BuildControls();
  void ConnectControls();
  void Guard(const std::function<void()>& work);
  void EnableTagEditor(bool on);
  void ClearTagBoxes();
  void ClearIndexLists();
  void ListIndexFiles();
  void AddIndexFileItem(const QString& path);
  void ChooseTag(int row);
  void NewIndexFile();
  void NewTag();
  void SaveTag();
  void DeleteTag();
  void DeleteIndexFile();
  QString TableDirectory() const;

  // Field rows.
  void UpdateMoveButtons();
  void RenumberRows();
  void MoveRow(int delta);
  void AddRow();
  void DeleteRow();
  void RowDoubleClicked();
  void SelectCell(const QString& column);
  const tolvern::DbfFieldInfo* StoredFieldOfRow() const;
  bool OpenTableHasWideCharFields() const;
  QStringList RowLines();
  void RememberFieldList();

  TMemTable* rows_ = nullptr;
  TTolvernDataSet* table_ = nullptr;
  TAppDialogs* dialogs_ = nullptr;
  std::unique_ptr<TDataSource> fieldWatch_;  // tells user changes of the field list
  Mode mode_ = Mode::Create;
  TagEditMode tagEditMode_ = TagEditMode::NewFile;
  int openTableType_ = -1;
  QString chosenIndexFile_;
  QStringList fieldListShown_;    // the field list as filled or seeded
  bool fieldListEdited_ = false;  // a field of the list was set since
  bool fillingFieldList_ = false;

  QButtonGroup* typeGroup_;
  QLabel* blockSizeLabel_;
  QLineEdit* blockSizeBox_;
  QPushButton* createButton_;
  QLabel* noticeLabel_;
  TDBGrid* fieldGrid_;
  QPushButton* upButton_;
  QPushButton* downButton_;
  QPushButton* addFieldButton_;
  QPushButton* deleteFieldButton_;
  QCheckBox* allIndexFiles_;
  QListWidget* indexFileList_;
  QPushButton* newFileButton_;
  QPushButton* deleteFileButton_;
  QListWidget* tagList_;
  QPushButton* newTagButton_;
  QPushButton* deleteTagButton_;
  QPushButton* reindexButton_;
  QLineEdit* indexFileBox_;
  QLabel* tagLabel_;
  QLineEdit* tagBox_;
  QLabel* expressionLabel_;
  QLineEdit* expressionBox_;
  QLabel* filterLabel_;
  QLineEdit* filterBox_;
  QCheckBox* uniqueBox_;
  QCheckBox* ascendingBox_;
  QPushButton* saveButton_;
  QPushButton* cancelButton_;
};

}  // namespace fendral
