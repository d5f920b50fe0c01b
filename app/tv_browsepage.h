// The "Browse" page: the grid over the browsed table with its navigator bar, the check
// boxes that choose what the grid shows ("All memo", "Deleted records", "Dos", "Exact
// count", "Filter"), the filter panel, the index-order selector and the memo panel.
//
// The page keeps its controls to itself and works on the dataset it is given. What
// cannot be done is reported through errorRaised (a message box) or statusMessage (the
// status bar); what the window does for it (find, copy a record) is asked by a signal.
// The navigator's delete button toggles the delete mark.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSplitter>
#include <QWidget>
#include <functional>
#include <vector>

#include "Tolvern6DB.h"
#include "tv_appdialogs.h"
#include "tv_browsegrid.h"
#include "tv_memoview.h"
#include "tv_navigator.h"

namespace fendral {

class TBrowsePage : public QWidget {
  Q_OBJECT

 public:
  explicit TBrowsePage(QWidget* parent = nullptr);
  void SetTable(TTolvernDataSet* table, TDataSource* source);

  // Fills the tag selector: an empty entry (natural order), then every tag of the open
  // index files; enabled only when there are tags.
  void FillTags();
  void ClearTags();
  // Adds an entry that cannot be chosen for each of `fileNames`: "NAME (damaged)".
  void MarkDamagedFiles(const QStringList& fileNames);
  // Binds the memo panel to `fieldName` and shows it (empty: hides it).
  void ShowMemo(const QString& fieldName);
  // Shows the table's last memo field in the memo panel (none: hides it).
  void ShowTableMemo();
  // Applies a tag chosen in the selector and reddens the title of its column.
  void ChooseTag(int entry);
  // Switches "Dos" (as a click would).
  void ToggleDos() { dosBox_->click(); }
  // Extends the filter text by the term for the current record's `fieldName`.
  void AddFilterTerm(const QString& fieldName);
  // Sets the typed filter and switches it on or off; a filter that does not compile
  // leaves the previous one in force.
  void ApplyFilter(bool on);

  // The table's rows are read again (after the table changed behind the dataset's back).
  void ReloadRows() { grid_->Reload(); }
  void FocusGrid() { grid_->setFocus(); }
  // The grid, for the window's keys and for tests (columns, rows, selection).
  TBrowseGrid* Grid() const { return grid_; }
  // The red notice beside the check boxes (empty: none).
  void SetNotice(const QString& text) { noticeLabel_->setText(text); }
  QString Notice() const { return noticeLabel_->text(); }
  // "Dos": whether the table's text is decoded with the DOS code page.
  bool DosChecked() const { return dosBox_->isChecked(); }
  void ShowDos(bool on) { dosBox_->setChecked(on); }
  // The questions of the navigator (delete confirmation) go to `dialogs`.
  void SetDialogs(TAppDialogs* dialogs);
  // F8: the navigator's delete button toggles the current record's delete mark; while
  // deleted records are shown the next record becomes current.
  void ToggleDeleteMark();
  // Asks for a record number and goes there; 0 and numbers beyond the count do nothing.
  void GotoRecord();
  // Posts the record being edited (what a cell holds first), or starts editing it.
  void EditOrPost();
  // Appends a new record holding the current record's values, left in insert state.
  void CopyRecord();
  // Cancels the record's edit; false when no edit was open.
  bool CancelEdit();
  // Before the window closes: an edit is posted (a new record nothing was typed into is
  // dropped); when the post fails the user is told and asked whether to discard the
  // changes. False when the user keeps the record.
  bool SettleEdit();

 signals:
  void errorRaised(const QString& text);
  void statusMessage(const QString& text);
  // "Dos" was clicked: the decoding in use may have changed.
  void dosChanged();
  // The navigator's find and copy buttons.
  void findRequested();
  void copyRecordRequested();

 private:
  void Guard(const std::function<void()>& work);
  void OpenAllMemoWindows();
  void RefreshTable();
  void ConnectNavigator();

  TTolvernNavigator* navigator_;
  TBrowseGrid* grid_;
  TMemoView* memoView_;
  QSplitter* splitter_;
  QCheckBox* allMemoBox_;
  QCheckBox* deletedBox_;
  QCheckBox* dosBox_;
  QCheckBox* exactCountBox_;
  QCheckBox* filterPanelBox_;
  QWidget* filterPanel_;
  QLineEdit* filterEdit_;
  QCheckBox* filterOnBox_;
  QLabel* tagLabel_;
  QComboBox* tagSelector_;
  QLabel* noticeLabel_;
  bool deletedBefore_ = false;  // the record was marked before the delete button acted

  TTolvernDataSet* table_ = nullptr;
  TAppDialogs* dialogs_ = nullptr;
  TDataSource* source_ = nullptr;
  std::vector<QPointer<QWidget>> memoWindows_;
};

}  // namespace fendral
