#include "tv_worker.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QThread>
#include <algorithm>
#include <utility>

#include "tv_progressdialog.h"

namespace fendral {

namespace {

constexpr int kRefreshMs = 100;  // how often the dialog follows the progress

}  // namespace

// ---------------------------------------------------------------------------------------
// TWorkProgress

void TWorkProgress::Start(int32_t kind, int64_t total) {
  done_.store(0, std::memory_order_relaxed);
  total_.store(total, std::memory_order_relaxed);
  kind_.store(kind, std::memory_order_relaxed);
}

bool TWorkProgress::Step(int64_t done) {
  done_.store(done, std::memory_order_relaxed);
  return !cancelled_.load(std::memory_order_relaxed);
}

int TWorkProgress::Percent() const {
  const int64_t total = total_.load(std::memory_order_relaxed);
  if (total <= 0) return -1;
  const int64_t done = std::clamp<int64_t>(done_.load(std::memory_order_relaxed), 0, total);
  // Two steps so that a total near the top of the range cannot overflow.
  return static_cast<int>(done >= INT64_MAX / 100 ? done / (total / 100 + 1) : done * 100 / total);
}

// ---------------------------------------------------------------------------------------
// TWorkRunner

TWorkRunner::TWorkRunner(QWidget* window) : QObject(window) {
  dialog_ = new TProgressDialog(window);
  connect(dialog_, &TProgressDialog::Cancelled, this, &TWorkRunner::Cancel);
  delay_.setSingleShot(true);
  delay_.setTimerType(Qt::PreciseTimer);
  connect(&delay_, &QTimer::timeout, this, &TWorkRunner::ShowDialog);
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &TWorkRunner::Refresh);
}

void TWorkRunner::Stop() {
  if (!thread_) return;
  delay_.stop();
  refresh_.stop();
  if (dialog_) dialog_->hide();
  ended_ = nullptr;
  disconnect(thread_, nullptr, this, nullptr);
  progress_->Cancel();
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
}

bool TWorkRunner::Run(const QString& title, TWork work, TEnded ended) {
  if (thread_) return false;
  progress_ = std::make_unique<TWorkProgress>();
  error_ = nullptr;
  ended_ = std::move(ended);
  TWorkProgress* progress = progress_.get();
  std::exception_ptr* error = &error_;
  thread_ = QThread::create([work = std::move(work), progress, error] {
    try {
      work(*progress);
    } catch (...) {
      *error = std::current_exception();
    }
  });
  thread_->setObjectName(QStringLiteral("FendralWork"));
  // Emitted on the worker thread; handled on this object's, once its loop gets to it.
  connect(thread_, &QThread::finished, this, &TWorkRunner::ThreadEnded, Qt::QueuedConnection);
  if (dialog_) dialog_->Reset(title);
  delay_.start(std::max(dialogDelayMs_, 0));
  thread_->start();
  return true;
}

void TWorkRunner::Cancel() {
  if (!thread_) return;
  progress_->Cancel();
  if (dialog_) dialog_->PressCancel();  // says it is stopping, once it shows
}

void TWorkRunner::ShowDialog() {
  if (!thread_ || !dialog_) return;
  Refresh();
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
  refresh_.start();
  emit DialogShown();
}

void TWorkRunner::Refresh() {
  if (progress_ && dialog_) dialog_->ShowProgress(progress_->Kind(), progress_->Percent());
}

void TWorkRunner::ThreadEnded() {
  if (!thread_) return;
  delay_.stop();
  refresh_.stop();
  if (dialog_) dialog_->hide();
  thread_->wait();  // it has returned from the work already; this only joins it
  delete thread_;   // and with it the work (and what it holds), on this thread
  thread_ = nullptr;
  const std::exception_ptr error = std::exchange(error_, nullptr);
  const TEnded ended = std::exchange(ended_, nullptr);
  if (ended) ended(error);
}

// ---------------------------------------------------------------------------------------
// TFrozenView

void TFrozenView::Hold(QWidget* widget, const QString& name) {
  Release();
  if (!widget || !widget->isVisible() || !widget->parentWidget()) return;
  QWidget* focus = QApplication::focusWidget();
  if (focus && (focus == widget || widget->isAncestorOf(focus))) focus_ = focus;
  // Grey, and paler than the live widget, so that nobody takes it for something to use.
  QImage image = widget->grab().toImage().convertToFormat(QImage::Format_Grayscale8);
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QColor veil = widget->palette().color(QPalette::Window);
  veil.setAlpha(120);
  QPainter painter(&image);
  painter.fillRect(QRect(QPoint(0, 0), image.size()), veil);
  painter.end();
  picture_ = new QLabel(widget->parentWidget());
  picture_->setObjectName(QStringLiteral("FrozenView"));
  picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture_->setPixmap(QPixmap::fromImage(image));
  picture_->setGeometry(widget->geometry());
  picture_->setEnabled(false);
  picture_->setAccessibleName(name);
  widget_ = widget;
  widget->hide();
  picture_->show();
  picture_->raise();
}

void TFrozenView::Release() {
  if (widget_) widget_->show();
  delete picture_.data();
  if (focus_ && focus_->isVisible()) focus_->setFocus();
  widget_ = nullptr;
  focus_ = nullptr;
}

}  // namespace fendral
