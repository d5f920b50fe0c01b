// The dialog interface answered by Qt message boxes, for the running program.
#pragma once

#include <QPointer>
#include <QWidget>

#include "tv_dialogs.h"

namespace fendral {

class TQtDialogs : public IDialogs {
 public:
  // Boxes are centred on `parent`'s window (the active window when null).
  explicit TQtDialogs(QWidget* parent = nullptr) : parent_(parent) {}

  // A modal box with OK and Cancel; true for OK.
  bool Confirm(const QString& caption, const QString& text) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace fendral
