// The window's side of the table doctor: "Check table" runs the check on the worker and
// shows its findings in their list; "Repair..." (from the menu or the list) runs the
// repair, whose report the window shows before it opens the table again. A finding's
// record is shown in the browse page when the user asks for it.
#pragma once

#include <QObject>

#include "tv_appdialogs.h"
#include "tv_findingsdialog.h"

namespace fendral {

class TMainWindow;

class TTableDoctor : public QObject {
  Q_OBJECT

 public:
  TTableDoctor(TMainWindow& window, TAppDialogs& dialogs);

  // Database > "Check table"; nothing happens while no table is open or work runs.
  void Check();
  // The same once the window's current event is over (from a message the window shows
  // in the middle of opening the table).
  void CheckSoon();
  // Database > "Repair..." and the list's button.
  void Repair();
  // Shows record `recno` in the browse page; the list stays open.
  void ShowRecord(qint64 recno);

  // The table was closed: its findings no longer apply.
  void TableClosed();
  // While work runs the list answers nothing (the worker has the table).
  void SetBusy(bool busy);

  TFindingsDialog* Findings() const { return findings_; }

 private:
  TMainWindow& window_;
  TAppDialogs& dialogs_;
  TFindingsDialog* findings_;
};

}  // namespace fendral
