// Clean-up that runs when a scope ends, however it ends.
#pragma once

#include <functional>
#include <utility>

#include "tv_log.h"

namespace fendral {

// Runs the function given when the scope ends. The clean-up never ends the program: an
// exception it throws is logged (the error that ended the scope, if any, is the one the
// caller sees) and goes no further. Release() drops the clean-up.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> work) : work_(std::move(work)) {}
  ~ScopeExit() {
    if (!work_) return;
    try {
      work_();
    } catch (...) {
      LogSwallowed("clean-up at the end of a scope");
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  void Release() { work_ = nullptr; }

 private:
  std::function<void()> work_;
};

}  // namespace fendral
