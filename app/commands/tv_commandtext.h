// The texts the commands show belong to the main window's translation context: they are
// the window's words, whichever file says them.
#pragma once

#include <QCoreApplication>

namespace fendral {

struct TWindowText {
  Q_DECLARE_TR_FUNCTIONS(fendral::TMainWindow)
};

}  // namespace fendral
