#include "tv_tabledoctor.h"

#include <QStatusBar>
#include <QTimer>

#include "Unit1.h"
#include "tv_apperror.h"
#include "tv_commandtext.h"
#include "tv_doctorcommands.h"

namespace fendral {

TTableDoctor::TTableDoctor(TMainWindow& window, TAppDialogs& dialogs)
    : QObject(&window), window_(window), dialogs_(dialogs) {
  findings_ = new TFindingsDialog(&window);
  findings_->hide();
  connect(findings_, &TFindingsDialog::recordChosen, this, &TTableDoctor::ShowRecord);
  connect(findings_, &TFindingsDialog::repairRequested, this, &TTableDoctor::Repair);
}

void TTableDoctor::Check() {
  if (window_.Busy() || !window_.Table1().Active()) return;
  auto command = std::make_unique<TCheckTableCommand>(window_.Table1());
  const TCheckTableCommand* check = command.get();
  window_.RunCommand(std::move(command), [this, check](const TCommandOutcome& outcome) {
    if (outcome.done)
      findings_->ShowFindings(check->TablePath(), check->Findings(), check->Summary());
  });
}

void TTableDoctor::CheckSoon() { QTimer::singleShot(0, this, &TTableDoctor::Check); }

void TTableDoctor::Repair() {
  if (window_.Busy() || !window_.Table1().Active()) return;
  // What the list shows is about the table before the repair.
  findings_->hide();
  window_.RunCommand(std::make_unique<TRepairTableCommand>(window_.Table1()));
}

void TTableDoctor::ShowRecord(qint64 recno) {
  TTolvernDataSet& table = window_.Table1();
  if (window_.Busy() || !table.Active()) return;
  try {
    if (recno < 1 || recno > table.Handler()->RecordCount()) {
      window_.statusBar()->showMessage(
          TWindowText::tr("Record %1 is not in the table as it is open now").arg(recno), 8000);
      return;
    }
    table.CheckBrowseMode();
    table.SetRecNo(static_cast<int>(recno));
    window_.Pages()->setCurrentWidget(window_.BrowsePage());
    window_.BrowsePage()->FocusGrid();
  } catch (const std::exception& error) {
    dialogs_.Message(TWindowText::tr("Fendral"), ErrorText(error));
  }
}

void TTableDoctor::TableClosed() { findings_->hide(); }

void TTableDoctor::SetBusy(bool busy) { findings_->setEnabled(!busy); }

}  // namespace fendral
