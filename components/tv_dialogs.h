// The questions the components ask the user go through this interface, so that the
// window can answer them with Qt dialogs and tests without any.
#pragma once

#include <QString>

namespace fendral {

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // An OK/Cancel question; true for OK.
  virtual bool Confirm(const QString& caption, const QString& text) = 0;
};

// Answers every question with Cancel: without a window nothing is overwritten unasked.
class TNoDialogs : public IDialogs {
 public:
  bool Confirm(const QString&, const QString&) override { return false; }
};

}  // namespace fendral
