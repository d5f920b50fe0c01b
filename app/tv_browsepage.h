// The "Browse" page: the grid over the browsed table with its navigator bar, the check
// boxes that choose what the grid shows ("All memo", "Deleted records", "Dos", "Exact
// count", "Filter"), the filter panel, the index-order selector and the memo panel.
//
// The page works on the dataset it is given; what cannot be done is reported through
// OnError (a message box) or OnStatusText (the status bar).
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
  // Applies a tag chosen in the selector and reddens the title of its column.
  void ChooseTag(int entry);
  // Switches "Dos" (as a click would).
  void ToggleDos() { dosBox->click(); }
  // Extends the filter text by the term for the current record's `fieldName`.
  void AddFilterTerm(const QString& fieldName);
  // Sets the typed filter and switches it on or off; a filter that does not compile
  // leaves the previous one in force.
  void ApplyFilter(bool on);

  std::function<void(const std::exception&)> OnError;
  std::function<void(const QString&)> OnStatusText;
  // "Dos" was clicked: the decoding in use may have changed.
  std::function<void()> OnDosChanged;

  TTolvernNavigator* navigator;
  TBrowseGrid* grid;
  TMemoView* memoView;
  QSplitter* splitter;
  QCheckBox* allMemoBox;
  QCheckBox* deletedBox;
  QCheckBox* dosBox;
  QCheckBox* exactCountBox;
  QCheckBox* filterPanelBox;
  QWidget* filterPanel;
  QLineEdit* filterEdit;
  QCheckBox* filterOnBox;
  QLabel* tagLabel;
  QComboBox* tagSelector;
  QLabel* noticeLabel;

 private:
  void Guard(const std::function<void()>& work);
  void OpenAllMemoWindows();
  void RefreshTable();

  TTolvernDataSet* table_ = nullptr;
  TDataSource* source_ = nullptr;
  std::vector<QPointer<QWidget>> memoWindows_;
};

}  // namespace fendral
