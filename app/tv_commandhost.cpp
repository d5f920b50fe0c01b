#include "tv_commandhost.h"

#include <QTimer>

#include "db_error.h"
#include "tv_apperror.h"
#include "tv_commandtext.h"

namespace fendral {

TCommandHost::TCommandHost(QWidget& window, QWidget& pages, TTolvernDataSet& table,
                           TDataSource& source, TAppDialogs& dialogs)
    : QObject(&window),
      window_(&window),
      pages_(pages),
      table_(table),
      source_(source),
      dialogs_(dialogs),
      worker_(std::make_unique<TWorkRunner>(&window)) {}

TCommandHost::~TCommandHost() = default;

void TCommandHost::Guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    dialogs_.Message(TWindowText::tr("Fendral"), ErrorText(error));
  }
}

void TCommandHost::Run(std::unique_ptr<TCommand> command, TAfter after) {
  if (busy_ || worker_->Running() || !command) return;
  bool ready = false;
  Guarded([&] {
    if (!command->Prepare(dialogs_)) return;
    if (BeforeWork) BeforeWork();
    ready = true;
  });
  if (!ready) return;
  SetBusy(true);
  std::shared_ptr<TCommand> shared = std::move(command);
  frozenPages_.Hold(&pages_, shared->Title());
  table_.DisableControls();
  // Not even a close and reopen of the table reaches its views from the worker.
  source_.SetEnabled(false);
  if (window_) window_->setCursor(Qt::BusyCursor);
  TTolvernDataSet* table = &table_;
  worker_->Run(
      shared->Title(),
      [shared, table](tolvern::TkxProgress& progress) {
        // The browsed table's own loops report here too.
        table->SetProgress(&progress);
        struct Reset {
          TTolvernDataSet* table;
          ~Reset() { table->SetProgress(nullptr); }
        } reset{table};
        shared->Execute(progress);
      },
      [this, shared, after = std::move(after)](std::exception_ptr error) {
        if (askingToClose_) {
          // The close question is open: its answer comes first.
          endPending_ = [this, shared, after, error] { End(*shared, error, after); };
          return;
        }
        End(*shared, error, after);
      });
}

void TCommandHost::End(TCommand& command, std::exception_ptr error, const TAfter& after) {
  Guarded([&] {
    table_.EnableControls();
    source_.SetEnabled(true);
  });
  frozenPages_.Release();
  if (window_) window_->unsetCursor();
  Guarded([&] {
    TCommandOutcome outcome = command.Finish(dialogs_, error);
    if (AfterWork) AfterWork(outcome, error);
    if (!outcome.message.isEmpty()) dialogs_.Message(TWindowText::tr("Fendral"), outcome.message);
    if (error) {
      try {
        std::rethrow_exception(error);
      } catch (const tolvern::ETolvernCancelled&) {
        outcome.cancelled = true;
        outcome.done = false;
      }
    }
    if (after) after(outcome);
  });
  SetBusy(false);
}

void TCommandHost::SetBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  if (BusyChanged) BusyChanged(busy);
  // The close the user asked for during the work follows once the command is over.
  if (!busy && closeRequested_) {
    QTimer::singleShot(0, this, [this] {
      if (busy_ || !closeRequested_) return;  // more work began: its end
      closeRequested_ = false;
      if (window_) window_->close();
    });
  }
}

void TCommandHost::CloseAsked() {
  if (closeRequested_ || askingToClose_ || !worker_->Running()) return;
  askingToClose_ = true;
  const bool cancel = dialogs_.ConfirmDefaultNo(
      TWindowText::tr("Fendral"), TWindowText::tr("Cancel the work in progress and close?"));
  askingToClose_ = false;
  if (cancel) {
    closeRequested_ = true;
    worker_->Cancel();
  }
  if (endPending_) std::exchange(endPending_, nullptr)();
}

}  // namespace fendral
