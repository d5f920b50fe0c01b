// Runs the window's commands. Prepare runs on the window's thread (it asks the user),
// Execute on a worker thread while the progress dialog shows, and Finish back on the
// window's thread. Until the work has ended nothing of the window's thread reads the
// browsed table: its views hear nothing and the pages show as a greyed picture of how
// they were. Other commands are refused meanwhile.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>

#include "Tolvern6DB.h"
#include "datasource.h"
#include "tv_appdialogs.h"
#include "tv_command.h"
#include "tv_worker.h"

namespace fendral {

class TCommandHost : public QObject {
  Q_OBJECT

 public:
  using TAfter = std::function<void(const TCommandOutcome& outcome)>;
  // `window` is closed again once work it was asked to close during has stopped; `pages`
  // is greyed while work runs. None is owned.
  TCommandHost(QWidget& window, QWidget& pages, TTolvernDataSet& table, TDataSource& source,
               TAppDialogs& dialogs);
  ~TCommandHost() override;

  // Called after a successful Prepare and before the work: the table is made ready for the
  // worker (an edit posted). An error it throws is shown and nothing runs.
  std::function<void()> BeforeWork;
  // Called after Finish with the outcome and what Execute ended with (the window reopens,
  // closes or reads the table again).
  std::function<void(const TCommandOutcome& outcome, std::exception_ptr error)> AfterWork;
  // The window enables or disables what may start commands.
  std::function<void(bool busy)> BusyChanged;

  // Runs `command` and returns at once; `after` follows AfterWork (not after a failure of
  // Finish). Dropped while other work runs.
  void Run(std::unique_ptr<TCommand> command, TAfter after = {});
  // True from a command's start to the end of its Finish.
  bool Busy() const { return busy_; }
  TWorkRunner& Worker() { return *worker_; }
  // Esc while work runs: asks the work to stop, as the dialog's "Cancel" does.
  void Cancel() { worker_->Cancel(); }
  // The user closes the window while work runs: asked, the work is cancelled (which leaves
  // every file as it was) and the window closes once it has stopped.
  void CloseAsked();
  // Stops running work and waits for it (the window goes).
  void Stop() { worker_->Stop(); }

 private:
  void End(TCommand& command, std::exception_ptr error, const TAfter& after);
  void SetBusy(bool busy);
  // Runs `step`; an error reaches the user in a message box, a silent abort nowhere.
  void Guarded(const std::function<void()>& step);

  QPointer<QWidget> window_;
  QWidget& pages_;
  TTolvernDataSet& table_;
  TDataSource& source_;
  TAppDialogs& dialogs_;
  std::unique_ptr<TWorkRunner> worker_;
  TFrozenView frozenPages_;
  bool busy_ = false;
  bool closeRequested_ = false;       // the user chose to close while work ran
  bool askingToClose_ = false;        // that question is open now
  std::function<void()> endPending_;  // the work's end, told once the question is answered
};

}  // namespace fendral
