#include "tv_log.h"

#include <exception>

Q_LOGGING_CATEGORY(lcFendral, "fendral")

namespace fendral {

void LogSwallowed(const char* where) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      qCWarning(lcFendral, "%s: %s", where, error.what());
    } catch (...) {
      qCWarning(lcFendral, "%s: an unknown exception", where);
    }
  } catch (...) {
    // Logging itself failed (no exception handled, or out of memory): nothing more to do.
  }
}

}  // namespace fendral
