// The progress dialog of long work: the kind of work in words, the share done as a
// percentage and a "Cancel" button. Esc and the title bar's close button press "Cancel";
// the dialog itself never closes the work, it only asks it to stop (Cancelled) and then
// says that it is stopping until its owner hides it.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace fendral {

class TProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TProgressDialog(QWidget* parent);

  // Starts over for work named `title` (the caption): nothing known yet, "Cancel" enabled.
  void Reset(const QString& title);
  // Shows the kind of work (a kind of TkxProgress; one without words shows the title) and
  // the share done in percent (negative: not known, the bar runs back and forth).
  void ShowProgress(int32_t kind, int percent);
  // The words for a kind of work; empty for a kind that has none.
  static QString KindText(int32_t kind);

  // What the dialog shows now.
  QString KindShown() const;
  int PercentShown() const;  // -1 while the share is not known
  QPushButton* CancelButton() const { return cancelButton_; }
  // What "Cancel" does: says once that the work should stop, and that it is stopping.
  void PressCancel();

 signals:
  // The user pressed "Cancel" (or Esc, or closed the dialog); said once per work.
  void Cancelled();

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QString title_;
  QLabel* kindLabel_;
  QProgressBar* bar_;
  QPushButton* cancelButton_;
  bool cancelled_ = false;
};

}  // namespace fendral
