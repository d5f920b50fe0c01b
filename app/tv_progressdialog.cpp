#include "tv_progressdialog.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "kx6_progress.h"
#include "kx6_verify.h"

namespace fendral {

TProgressDialog::TProgressDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ProgressDialog"));
  setWindowModality(Qt::WindowModal);
  kindLabel_ = new QLabel(this);
  kindLabel_->setObjectName(QStringLiteral("ProgressKind"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ProgressBar"));
  bar_->setRange(0, 100);
  bar_->setFormat(QStringLiteral("%p%"));
  bar_->setMinimumWidth(320);
  kindLabel_->setBuddy(bar_);
  auto* buttons = new QDialogButtonBox(this);
  cancelButton_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  cancelButton_->setObjectName(QStringLiteral("ProgressCancel"));
  connect(cancelButton_, &QPushButton::clicked, this, &TProgressDialog::PressCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(kindLabel_);
  layout->addWidget(bar_);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TProgressDialog::Reset(const QString& title) {
  title_ = title;
  cancelled_ = false;
  setWindowTitle(title);
  cancelButton_->setEnabled(true);
  cancelButton_->setDefault(true);
  ShowProgress(0, -1);
}

QString TProgressDialog::KindText(int32_t kind) {
  switch (kind) {
    case tolvern::kStatusIndexRead:
      return tr("Reading the table");
    case tolvern::kStatusIndexWrite:
      return tr("Writing the index");
    case tolvern::kStatusCopy:
      return tr("Copying records");
    case tolvern::kStatusPack:
      return tr("Packing");
    case tolvern::kStatusSearch:
      return tr("Searching");
    case tolvern::kStatusExport:
      return tr("Exporting");
    case tolvern::kStatusImport:
      return tr("Importing");
    case tolvern::kStatusRebuild:
      return tr("Rebuilding the table");
    case tolvern::kStatusVerify:
      return tr("Checking the table");
    case tolvern::kStatusRepair:
      return tr("Repairing the table");
    default:
      return {};
  }
}

void TProgressDialog::ShowProgress(int32_t kind, int percent) {
  if (cancelled_) return;  // "Cancelling..." stays until the work has stopped
  QString text = KindText(kind);
  if (text.isEmpty()) text = title_;
  if (kindLabel_->text() != text) {
    kindLabel_->setText(text);
    bar_->setAccessibleName(text);
  }
  if (percent < 0) {
    if (bar_->maximum() != 0) bar_->setRange(0, 0);
  } else {
    if (bar_->maximum() != 100) bar_->setRange(0, 100);
    if (bar_->value() != percent) bar_->setValue(std::min(percent, 100));
  }
}

QString TProgressDialog::KindShown() const { return kindLabel_->text(); }

int TProgressDialog::PercentShown() const { return bar_->maximum() == 0 ? -1 : bar_->value(); }

void TProgressDialog::PressCancel() {
  if (cancelled_) return;
  cancelled_ = true;
  cancelButton_->setEnabled(false);
  kindLabel_->setText(tr("Cancelling..."));
  emit Cancelled();
}

void TProgressDialog::reject() { PressCancel(); }

void TProgressDialog::closeEvent(QCloseEvent* event) {
  // The dialog goes when the work has ended, never before.
  event->ignore();
  PressCancel();
}

}  // namespace fendral
