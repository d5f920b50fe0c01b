#include "tv_statuspanels.h"

#include "tv_apptext.h"
#include "tv_commandtext.h"

namespace fendral {

namespace {

QLabel* Panel(QStatusBar& bar, const char* name) {
  auto* label = new QLabel(&bar);
  label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

TStatusPanels::TStatusPanels(QStatusBar& bar)
    : record_(Panel(bar, "RecordPanel")),
      stamp_(Panel(bar, "StampPanel")),
      lock_(Panel(bar, "LockPanel")),
      codePage_(Panel(bar, "CodePagePanel")) {
  record_->setMinimumWidth(record_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 20);
  codePage_->setToolTip(TWindowText::tr("Code page of the table's text"));
  bar.addWidget(record_);
  bar.addWidget(stamp_, 1);
  bar.addPermanentWidget(codePage_);
  bar.addPermanentWidget(lock_);
}

void TStatusPanels::ShowPosition(TTolvernDataSet& table) {
  const int recno = table.IsEmpty() ? 0 : table.RecNo();
  record_->setText(TWindowText::tr("Records: ") + QString::number(recno) + QLatin1Char('/') +
                   QString::number(table.RecordCount()));
}

void TStatusPanels::ShowHeader(TTolvernDataSet& table) {
  int32_t date = 0;
  uint32_t stamp = 0;
  uint32_t user = 0;
  table.GetHeaderInfo(date, stamp, user);
  stamp_->setText(HeaderStampText(date, stamp, user));
}

void TStatusPanels::ShowCodePage(TTolvernDataSet& table) {
  codePage_->setText(table.Active() ? QString::fromStdString(table.CodePageInUse()) : QString());
}

void TStatusPanels::ShowLockProtocol(tolvern::TkxLokProtocol protocol) {
  lock_->setText(LockProtocolName(protocol));
}

void TStatusPanels::Clear() {
  for (QLabel* panel : {record_, stamp_, lock_, codePage_}) panel->clear();
}

QString TStatusPanels::Text(int panel) const {
  switch (panel) {
    case 0:
      return record_->text();
    case 1:
      return stamp_->text();
    case 2:
      return lock_->text();
    case 3:
      return codePage_->text();
    default:
      return {};
  }
}

}  // namespace fendral
