#include "tv_browsepage.h"

#include <QHBoxLayout>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "tv_apptext.h"

namespace fendral {

namespace {
constexpr int kDamagedRole = Qt::UserRole + 1;  // an entry that names a damaged index file
}  // namespace

TBrowsePage::TBrowsePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("BrowsePage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);

  auto* top = new QHBoxLayout;
  navigator = new TTolvernNavigator(this);
  navigator->SetFlat(true);
  navigator->SetConfirmDelete(false);
  navigator->SetAlign(alLeft);
  top->addWidget(navigator);
  auto makeBox = [this, top](const QString& text, const QString& hint, bool checked) {
    auto* box = new QCheckBox(text, this);
    box->setToolTip(hint);
    box->setChecked(checked);
    top->addWidget(box);
    return box;
  };
  allMemoBox = makeBox(tr("All memo"), tr("Visible all memo"), false);
  deletedBox = makeBox(tr("Deleted records"), tr("Visible Deleted Records"), true);
  dosBox = makeBox(tr("Dos"), tr("Change code 866 <-> 1251"), true);
  exactCountBox = makeBox(tr("Exact count"), tr("Exact count ON or OFF"), false);
  filterPanelBox = makeBox(tr("Filter"), tr("Visible filter panel"), false);
  filterPanelBox->setObjectName(QStringLiteral("FilterPanelBox"));
  tagLabel = new QLabel(tr("Available Index Tag"), this);
  tagSelector = new QComboBox(this);
  tagSelector->setObjectName(QStringLiteral("TagSelector"));
  tagSelector->setMinimumContentsLength(12);
  tagSelector->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  tagLabel->setBuddy(tagSelector);
  top->addWidget(tagLabel);
  top->addWidget(tagSelector);
  noticeLabel = new QLabel(this);
  noticeLabel->setObjectName(QStringLiteral("BrowseNotice"));
  noticeLabel->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  top->addWidget(noticeLabel);
  top->addStretch();
  layout->addLayout(top);

  filterPanel = new QWidget(this);
  auto* filterRow = new QHBoxLayout(filterPanel);
  filterRow->setContentsMargins(0, 0, 0, 0);
  auto* filterLabel = new QLabel(tr("Filter expression"), filterPanel);
  filterEdit = new QLineEdit(filterPanel);
  filterEdit->setObjectName(QStringLiteral("FilterEdit"));
  filterEdit->setToolTip(tr("Filter expression"));
  filterLabel->setBuddy(filterEdit);
  filterOnBox = new QCheckBox(tr("Filter"), filterPanel);
  filterOnBox->setObjectName(QStringLiteral("FilterOnBox"));
  filterOnBox->setToolTip(tr("Filter ON or OFF"));
  filterRow->addWidget(filterLabel);
  filterRow->addWidget(filterEdit, 1);
  filterRow->addWidget(filterOnBox);
  filterPanel->hide();
  layout->addWidget(filterPanel);

  splitter = new QSplitter(Qt::Horizontal, this);
  grid = new TBrowseGrid(splitter);
  memoView = new TMemoView(splitter);
  memoView->setObjectName(QStringLiteral("MemoView"));
  splitter->addWidget(grid);
  splitter->addWidget(memoView);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 1);
  memoView->hide();
  layout->addWidget(splitter, 1);

  connect(allMemoBox, &QCheckBox::toggled, this, [this](bool on) {
    if (on) OpenAllMemoWindows();
  });
  connect(deletedBox, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_) return;
      table_->SetUseDeleted(on);
      RefreshTable();
    });
  });
  connect(dosBox, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_ || !table_->Active()) return;
      table_->SetTranslateASCII(on);
      RefreshTable();
    });
    // The box and the code-page panel show the decoding in use, also when it stayed.
    if (OnDosChanged) OnDosChanged();
  });
  connect(exactCountBox, &QCheckBox::clicked, this, [this](bool on) {
    Guard([&] {
      if (!table_ || !table_->Active()) return;
      table_->SetExactCount(on);
      RefreshTable();
    });
  });
  connect(filterPanelBox, &QCheckBox::toggled, filterPanel, &QWidget::setVisible);
  connect(filterOnBox, &QCheckBox::clicked, this, &TBrowsePage::ApplyFilter);
  // Enter applies a changed expression while the filter is on.
  connect(filterEdit, &QLineEdit::returnPressed, this, [this] {
    if (filterOnBox->isChecked()) ApplyFilter(true);
  });
  connect(grid, &TBrowseGrid::TitleClicked, this, &TBrowsePage::AddFilterTerm);
  connect(tagSelector, &QComboBox::activated, this, &TBrowsePage::ChooseTag);
}

void TBrowsePage::SetTable(TTolvernDataSet* table, TDataSource* source) {
  table_ = table;
  source_ = source;
  grid->SetTable(table, source);
  navigator->SetDataSource(source);
  memoView->SetDataSource(source);
}

void TBrowsePage::Guard(const std::function<void()>& work) {
  try {
    work();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    if (OnError) OnError(error);
  }
}

void TBrowsePage::RefreshTable() {
  if (table_ && table_->Active()) table_->Refresh();
}

void TBrowsePage::FillTags() {
  tagSelector->clear();
  const int count = table_ && table_->Active() ? table_->GetTagCount() : 0;
  if (count == 0) {
    ClearTags();
    return;
  }
  tagSelector->addItem(QString());
  for (int n = 1; n <= count; ++n) tagSelector->addItem(table_->GetTagName(n));
  tagLabel->setEnabled(true);
  tagSelector->setEnabled(true);
}

void TBrowsePage::MarkDamagedFiles(const QStringList& fileNames) {
  // The entries of an earlier call go first.
  for (int i = tagSelector->count() - 1; i >= 0; --i)
    if (tagSelector->itemData(i, kDamagedRole).toBool()) tagSelector->removeItem(i);
  if (fileNames.isEmpty()) return;
  if (tagSelector->count() == 0) tagSelector->addItem(QString());
  auto* model = qobject_cast<QStandardItemModel*>(tagSelector->model());
  for (const QString& name : fileNames) {
    tagSelector->addItem(tr("%1 (damaged)").arg(name));
    tagSelector->setItemData(tagSelector->count() - 1, true, kDamagedRole);
    if (model) model->item(tagSelector->count() - 1)->setEnabled(false);
  }
  tagLabel->setEnabled(true);
  tagSelector->setEnabled(true);
}

void TBrowsePage::ClearTags() {
  tagSelector->clear();
  tagLabel->setEnabled(false);
  tagSelector->setEnabled(false);
  grid->SetMarkedTitle(QString());
}

void TBrowsePage::ChooseTag(int entry) {
  Guard([&] {
    if (!table_ || !table_->Active() || entry < 0) return;
    table_->SetIndexName(entry == 0 ? QString() : tagSelector->itemText(entry));
    // The title of the column named like the order's tag turns red.
    grid->SetMarkedTitle(table_->GetCurrentTagName());
  });
}

void TBrowsePage::ShowMemo(const QString& fieldName) {
  memoView->SetFieldName(fieldName);
  memoView->setVisible(!fieldName.isEmpty());
}

void TBrowsePage::AddFilterTerm(const QString& fieldName) {
  if (!filterPanel->isVisible() || !table_ || !table_->Active()) return;
  Guard([&] {
    TField* field = table_->FieldByName(fieldName);
    const int n = table_->FieldDefs().IndexOf(fieldName);
    const int decimals = n >= 0 ? table_->FieldDefs()[n].Precision : -1;
    const TFilterTerm term = FilterTermFor(
        fieldName, field->DataType(), table_->IsEmpty() ? QVariant() : field->Value(), decimals);
    if (term.text.isEmpty()) {
      if (OnStatusText) OnStatusText(term.why);
      return;
    }
    filterEdit->setText(JoinFilter(filterEdit->text(), term.text));
  });
}

void TBrowsePage::ApplyFilter(bool on) {
  if (!table_ || !table_->Active()) {
    filterOnBox->setChecked(false);
    return;
  }
  const QString previous = table_->Filter();
  const bool wasOn = table_->Filtered();
  try {
    table_->SetFiltered(false);
    if (on) {
      table_->SetFilter(filterEdit->text());
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
    filterOnBox->setChecked(table_->Filtered());
    if (OnError) OnError(error);
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
