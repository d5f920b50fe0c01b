// The keys the main window handles before its controls: F2 edit/post, F3 and Shift+F7
// find next, F5 go to record, F7 and Ctrl+F find, F8 toggle the delete mark, Shift+F8
// switch "Dos", F9 switch pages, Ctrl+Insert copy the record (in the grid), Esc
// cancel/close (on the structure page: cancel only). While work runs no key acts; Esc asks
// the work to stop.
#pragma once

#include <QKeyEvent>
#include <QWidget>

namespace fendral {

class TMainWindow;

// True when `event`, meant for `receiver` in `window`, was handled (and is consumed).
bool HandleWindowKey(TMainWindow& window, QKeyEvent& event, QWidget* receiver);

// Installed on the application for the life of `window`: every key meant for a control of
// `window` passes HandleWindowKey first; a dialog's keys stay the dialog's.
class TWindowKeys : public QObject {
 public:
  explicit TWindowKeys(TMainWindow& window);
  ~TWindowKeys() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TMainWindow& window_;
};

}  // namespace fendral
