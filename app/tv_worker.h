// Long work off the window's thread.
//
// TWorkRunner runs one piece of work at a time on a thread of its own and tells its owner,
// on the owner's thread, when the work has ended and how. Meanwhile the owner's event loop
// runs as usual: nothing here waits or pumps events. After a short delay the runner shows
// the progress dialog (the kind of work, a percentage, "Cancel") and keeps it current from
// the shared TWorkProgress, which the work reports to and asks whether to go on.
//
// TFrozenView covers a widget with a greyed picture of how it last looked and hides it, so
// that nothing paints from (or reads through) the data behind it while the work has it.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include "kx6_progress.h"
#include "tv_progressdialog.h"

class QThread;

namespace fendral {

// Progress that one thread reports and another reads and cancels. Step answers false once
// Cancel was called; everything else is read as it stands.
class TWorkProgress final : public tolvern::TkxProgress {
 public:
  void Start(int32_t kind, int64_t total) override;
  bool Step(int64_t done) override;
  void Finish() override {}

  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
  // The kind of the last Start; 0 before the first.
  int32_t Kind() const { return kind_.load(std::memory_order_relaxed); }
  // The share done in percent (0 to 100); -1 while the total is not known.
  int Percent() const;

 private:
  std::atomic<int32_t> kind_{0};
  std::atomic<int64_t> total_{0};
  std::atomic<int64_t> done_{0};
  std::atomic<bool> cancelled_{false};
};

class TWorkRunner : public QObject {
  Q_OBJECT

 public:
  // The work a runner runs: on the worker thread, reporting to (and asking) `progress`.
  using TWork = std::function<void(tolvern::TkxProgress& progress)>;
  // Told on the owner's thread when the work has ended: what it threw, or null.
  using TEnded = std::function<void(std::exception_ptr error)>;

  static constexpr int kDialogDelayMs = 300;

  // The progress dialog is a window-modal child of `window`.
  explicit TWorkRunner(QWidget* window);
  ~TWorkRunner() override { Stop(); }

  // Cancels running work and waits until it has stopped; its end is told nobody. For an
  // owner that goes away (and takes what the work uses with it).
  void Stop();

  // Starts `work` on a new thread; false (and nothing started) while other work runs.
  bool Run(const QString& title, TWork work, TEnded ended);
  bool Running() const { return thread_ != nullptr; }
  // Asks the running work to stop (as "Cancel" does); it ends at its next step.
  void Cancel();
  bool CancelRequested() const { return progress_ && progress_->Cancelled(); }

  // How long work runs before its dialog shows (for tests and benchmarks; default 300 ms).
  void SetDialogDelay(int ms) { dialogDelayMs_ = ms; }
  TProgressDialog* Dialog() const { return dialog_; }

 signals:
  // The progress dialog was just shown.
  void DialogShown();

 private:
  void ShowDialog();
  void Refresh();
  void ThreadEnded();

  QPointer<TProgressDialog> dialog_;
  QTimer delay_;
  QTimer refresh_;
  int dialogDelayMs_ = kDialogDelayMs;
  QThread* thread_ = nullptr;
  std::unique_ptr<TWorkProgress> progress_;
  std::exception_ptr error_;  // written by the worker, read after it has ended
  TEnded ended_;
};

class TFrozenView {
 public:
  TFrozenView() = default;
  ~TFrozenView() = default;  // the picture is a child of the widget's parent
  TFrozenView(const TFrozenView&) = delete;
  TFrozenView& operator=(const TFrozenView&) = delete;

  // Shows a greyed picture of `widget` in its place and hides it (a hidden widget is
  // left as it is); `name` is what the picture is called for screen readers. The focus,
  // when it was inside, comes back with Release.
  void Hold(QWidget* widget, const QString& name);
  // Shows the widget again, as it was, and drops the picture.
  void Release();
  bool Holding() const { return !widget_.isNull(); }
  QLabel* Picture() const { return picture_; }

 private:
  QPointer<QWidget> widget_;
  QPointer<QLabel> picture_;
  QPointer<QWidget> focus_;
};

}  // namespace fendral
