// The window's scopes: the busy cursor, and clean-up at the end of a scope (ScopeExit).
#pragma once

#include <QApplication>

#include "tv_scopeexit.h"

namespace fendral {

// Shows the busy cursor for the life of the scope (window's thread only).
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace fendral
