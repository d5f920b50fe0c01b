#include "tv_browsepage.h"

#include <QHBoxLayout>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "tv_apperror.h"
#include "tv_apptext.h"
#include "tv_commandtext.h"
#include "tv_log.h"

namespace fendral {

namespace {
constexpr int kDamagedRole = Qt::UserRole + 1;  // an entry that names a damaged index file
}  // namespace

TBrowsePage::TBrowsePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("BrowsePage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);

  auto* top = new QHBoxLayout;
  navigator_ = new TTolvernNavigator(this);
  navigator_->SetFlat(true);
  navigator_->SetConfirmDelete(false);
  navigator_->SetAlign(alLeft);
  navigator_->setObjectName(QStringLiteral("Navigator"));
  top->addWidget(navigator_);
  auto makeBox = [this, top](const QString& text, const QString& hint, bool checked) {
    auto* box = new QCheckBox(text, this);
    box->setToolTip(hint);
    box->setChecked(checked);
    top->addWidget(box);
    return box;
  };
  allMemoBox_ = makeBox(tr("All memo"), tr("Visible all memo"), false);
  deletedBox_ = makeBox(tr("Deleted records"), tr("Visible Deleted Records"), true);
  dosBox_ = makeBox(tr("Dos"), tr("Change code 866 <-> 1251"), true);
  exactCountBox_ = makeBox(tr("Exact count"), tr("Exact count ON or OFF"), false);
  filterPanelBox_ = makeBox(tr("Filter"), tr("Visible filter panel"), false);
  filterPanelBox_->setObjectName(QStringLiteral("FilterPanelBox"));
  allMemoBox_->setObjectName(QStringLiteral("AllMemoBox"));
  deletedBox_->setObjectName(QStringLiteral("DeletedBox"));
  dosBox_->setObjectName(QStringLiteral("DosBox"));
  exactCountBox_->setObjectName(QStringLiteral("ExactCountBox"));
  tagLabel_ = new QLabel(tr("Available Index Tag"), this);
  tagLabel_->setObjectName(QStringLiteral("TagLabel"));
  tagSelector_ = new QComboBox(this);
  tagSelector_->setObjectName(QStringLiteral("TagSelector"));
  tagSelector_->setMinimumContentsLength(12);
  tagSelector_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  tagLabel_->setBuddy(tagSelector_);
  top->addWidget(tagLabel_);
  top->addWidget(tagSelector_);
  noticeLabel_ = new QLabel(this);
  noticeLabel_->setObjectName(QStringLiteral("BrowseNotice"));
  noticeLabel_->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  top->addWidget(noticeLabel_);
  top->addStretch();
  layout->addLayout(top);

  filterPanel_ = new QWidget(this);
  auto* filterRow = new QHBoxLayout(filterPanel_);
  filterRow->setContentsMargins(0, 0, 0, 0);
  auto* filterLabel = new QLabel(tr("Filter expression"), filterPanel_);
  filterEdit_ = new QLineEdit(filterPanel_);
  filterEdit_->setObjectName(QStringLiteral("FilterEdit"));
  filterEdit_->setToolTip(tr("Filter expression"));
  filterLabel->setBuddy(filterEdit_);
  filterOnBox_ = new QCheckBox(tr("Filter"), filterPanel_);
  filterOnBox_->setObjectName(QStringLiteral("FilterOnBox"));
  filterOnBox_->setToolTip(tr("Filter ON or OFF"));
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filterEdit_, 1);
  filterRow->addWidget(filterOnBox_);
  filterPanel_->hide();
  layout->addWidget(filterPanel_);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  grid_ = new TBrowseGrid(splitter_);
  grid_->setFocusPolicy(Qt::StrongFocus);
  memoView_ = new TMemoView(splitter_);
  memoView_->setObjectName(QStringLiteral("MemoView"));
  splitter_->addWidget(grid_);
  splitter_->addWidget(memoView_);
  splitter_->setStretchFactor(0, 3);
  splitter_->setStretchFactor(1, 1);
  memoView_->hide();
  layout->addWidget(splitter_, 1);

  connect(allMemoBox_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) OpenAllMemoWindows();
  });
  connect(deletedBox_, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_) return;
      table_->SetUseDeleted(on);
      RefreshTable();
    });
  });
  connect(dosBox_, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_ || !table_->Active()) return;
      table_->SetTranslateASCII(on);
      RefreshTable();
    });
    // The box and the code-page panel show the decoding in use, also when it stayed.
    emit dosChanged();
  });
  connect(exactCountBox_, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_ || !table_->Active()) return;
      table_->SetExactCount(on);
      RefreshTable();
    });
  });
  connect(filterPanelBox_, &QCheckBox::toggled, filterPanel_, &QWidget::setVisible);
  connect(filterOnBox_, &QCheckBox::clicked, this, &TBrowsePage::ApplyFilter);
  // Enter applies a changed expression while the filter is on.
  connect(filterEdit_, &QLineEdit::returnPressed, this, [this] {
    if (filterOnBox_->isChecked()) ApplyFilter(true);
  });
  connect(grid_, &TBrowseGrid::TitleClicked, this, &TBrowsePage::AddFilterTerm);
  connect(tagSelector_, &QComboBox::activated, this, &TBrowsePage::ChooseTag);
  ConnectNavigator();
}

void TBrowsePage::ConnectNavigator() {
  navigator_->OnError = [this](TTolvernNavigator&, const std::exception& error) {
    emit errorRaised(QString::fromUtf8(error.what()));
  };
  navigator_->BeforeAction = [this](TTolvernNavigator&, TTolvernNavigateBtn button) {
    if (button == nbDelete) deletedBefore_ = table_ && table_->Active() && table_->IsDeleted();
  };
  navigator_->OnClick = [this](TTolvernNavigator&, TTolvernNavigateBtn button) {
    if (button != nbDelete || !table_ || !table_->Active()) return;
    // The delete button toggles: a record that was marked and still is gets recalled.
    if (deletedBefore_ && table_->IsDeleted()) table_->RecallRecord();
    grid_->Reload();
  };
  navigator_->OnFindClick = [this](TDataSet&) { emit findRequested(); };
  navigator_->OnCopyClick = [this](TDataSet&) { emit copyRecordRequested(); };
}

void TBrowsePage::SetDialogs(TAppDialogs* dialogs) {
  dialogs_ = dialogs;
  navigator_->SetDialogs(dialogs);
}

namespace {

bool Editing(const TTolvernDataSet& table) {
  return table.Active() && (table.State() == dsEdit || table.State() == dsInsert);
}

}  // namespace

void TBrowsePage::GotoRecord() {
  QString answer;
  if (!dialogs_->InputText(TWindowText::tr("Goto Record"), TWindowText::tr("Number record:"),
                           answer))
    return;
  bool ok = false;
  const int number = answer.trimmed().toInt(&ok);
  if (!ok) throw EAppError(TWindowText::tr("'%1' is not a valid integer value").arg(answer));
  // 0 and numbers beyond the count name no record: nothing happens.
  if (number >= 1 && number <= table_->Handler()->RecordCount()) table_->SetRecNo(number);
}

void TBrowsePage::EditOrPost() {
  // A cell being typed in is written into the record first.
  if (grid_->Editing()) FocusGrid();
  if (Editing(*table_)) {
    table_->Post();
    ReloadRows();
  } else {
    table_->Edit();
  }
}

void TBrowsePage::CopyRecord() {
  const bool shown = isVisible();
  if (grid_->Editing()) FocusGrid();
  table_->CopyRecord();
  if (shown) FocusGrid();
}

bool TBrowsePage::CancelEdit() {
  if (!Editing(*table_)) return false;
  table_->Cancel();
  ReloadRows();
  return true;
}

bool TBrowsePage::SettleEdit() {
  if (!Editing(*table_)) return true;
  if (grid_->Editing()) FocusGrid();
  try {
    // A new record nothing was typed into is no work: it is not added.
    if (table_->State() == dsInsert && !table_->Modified())
      table_->Cancel();
    else
      table_->Post();
    ReloadRows();
    return true;
  } catch (const std::exception& error) {
    if (!dynamic_cast<const EAbort*>(&error))
      dialogs_->Message(TWindowText::tr("Fendral"), ErrorText(error));
  }
  int32_t recno = 0;
  try {
    recno = table_->State() == dsInsert ? table_->Handler()->RecordCount() + 1 : table_->RecNo();
  } catch (const std::exception&) {
    LogSwallowed("numbering the record the user is asked about");
  }
  if (!dialogs_->ConfirmDefaultNo(TWindowText::tr("Fendral"),
                                  TWindowText::tr("Discard the changes to record %1?").arg(recno)))
    return false;
  Guard([&] { table_->Cancel(); });
  return true;
}

void TBrowsePage::ToggleDeleteMark() {
  if (!table_ || !table_->Active()) return;
  navigator_->BtnClick(nbDelete);
  if (deletedBox_->isChecked()) table_->Next();
}

void TBrowsePage::SetTable(TTolvernDataSet* table, TDataSource* source) {
  table_ = table;
  source_ = source;
  grid_->SetTable(table, source);
  navigator_->SetDataSource(source);
  memoView_->SetDataSource(source);
}

void TBrowsePage::Guard(const std::function<void()>& work) {
  try {
    work();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    emit errorRaised(QString::fromUtf8(error.what()));
  }
}

void TBrowsePage::RefreshTable() {
  if (table_ && table_->Active()) table_->Refresh();
}

void TBrowsePage::FillTags() {
  tagSelector_->clear();
  const int count = table_ && table_->Active() ? table_->GetTagCount() : 0;
  if (count == 0) {
    ClearTags();
    return;
  }
  tagSelector_->addItem(QString());
  for (int n = 1; n <= count; ++n) tagSelector_->addItem(table_->GetTagName(n));
  tagLabel_->setEnabled(true);
  tagSelector_->setEnabled(true);
}

void TBrowsePage::MarkDamagedFiles(const QStringList& fileNames) {
  // The entries of an earlier call go first.
  for (int i = tagSelector_->count() - 1; i >= 0; --i)
    if (tagSelector_->itemData(i, kDamagedRole).toBool()) tagSelector_->removeItem(i);
  if (fileNames.isEmpty()) return;
  if (tagSelector_->count() == 0) tagSelector_->addItem(QString());
  auto* model = qobject_cast<QStandardItemModel*>(tagSelector_->model());
  for (const QString& name : fileNames) {
    tagSelector_->addItem(tr("%1 (damaged)").arg(name));
    tagSelector_->setItemData(tagSelector_->count() - 1, true, kDamagedRole);
    if (model) model->item(tagSelector_->count() - 1)->setEnabled(false);
  }
  tagLabel_->setEnabled(true);
  tagSelector_->setEnabled(true);
}

void TBrowsePage::ClearTags() {
  tagSelector_->clear();
  tagLabel_->setEnabled(false);
  tagSelector_->setEnabled(false);
  grid_->SetMarkedTitle(QString());
}

void TBrowsePage::ChooseTag(int entry) {
  Guard([&] {
    if (!table_ || !table_->Active() || entry < 0) return;
    table_->SetIndexName(entry == 0 ? QString() : tagSelector_->itemText(entry));
    // The title of the column named like the order's tag turns red.
    grid_->SetMarkedTitle(table_->GetCurrentTagName());
  });
}

void TBrowsePage::ShowMemo(const QString& fieldName) {
  memoView_->SetFieldName(fieldName);
  memoView_->setVisible(!fieldName.isEmpty());
}

void TBrowsePage::ShowTableMemo() {
  QString memoField;
  if (table_ && table_->Active())
    for (int i = 0; i < table_->FieldCount(); ++i) {
      TField* field = table_->Field(i);
      if (field->FieldKind() == fkData && field->DataType() == ftMemo)
        memoField = field->FieldName();
    }
  ShowMemo(memoField);
}

void TBrowsePage::AddFilterTerm(const QString& fieldName) {
  if (!filterPanel_->isVisible() || !table_ || !table_->Active()) return;
  Guard([&] {
    TField* field = table_->FieldByName(fieldName);
    const int n = table_->FieldDefs().IndexOf(fieldName);
    const int decimals = n >= 0 ? table_->FieldDefs()[n].Precision : -1;
    const TFilterTerm term = FilterTermFor(
        fieldName, field->DataType(), table_->IsEmpty() ? QVariant() : field->Value(), decimals);
    if (term.text.isEmpty()) {
      emit statusMessage(term.why);
      return;
    }
    filterEdit_->setText(JoinFilter(filterEdit_->text(), term.text));
  });
}

void TBrowsePage::ApplyFilter(bool on) {
  if (!table_ || !table_->Active()) {
    filterOnBox_->setChecked(false);
    return;
  }
  const QString previous = table_->Filter();
  const bool wasOn = table_->Filtered();
  try {
    table_->SetFiltered(false);
    if (on) {
      table_->SetFilter(filterEdit_->text());
      table_->SetFiltered(true);
    }
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    // The filter that did not compile is not kept: the previous one stays in force.
    // Switching on and off again resets the table's own filter state, which the failed
    // compile may have left switched on.
    try {
      table_->SetFilter(previous);
      table_->SetFiltered(true);
      if (!wasOn) table_->SetFiltered(false);
    } catch (const std::exception&) {
    }
    filterOnBox_->setChecked(table_->Filtered());
    emit errorRaised(QString::fromUtf8(error.what()));
  }
}

void TBrowsePage::OpenAllMemoWindows() {
  if (!table_ || !table_->Active()) return;
  for (int i = 0; i < table_->FieldCount(); ++i) {
    TField* field = table_->Field(i);
    if (field->DataType() != ftMemo) continue;
    auto* window = new QWidget(this, Qt::Tool | Qt::WindowStaysOnTopHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(tr("Fields: ") + field->FieldName());
    auto* layout = new QVBoxLayout(window);
    auto* view = new TMemoView(window);
    view->SetDataSource(source_);
    view->SetFieldName(field->FieldName());
    layout->addWidget(view);
    window->resize(360, 240);
    window->show();
    memoWindows_.emplace_back(window);
  }
}

}  // namespace fendral
