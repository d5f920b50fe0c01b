#include "platform/pf_sync.h"

#include <chrono>
#include <thread>

namespace tolvern::platform {

void SleepMs(uint32_t milliseconds) {
  // sleep_for resumes after a signal until the whole interval has passed.
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace tolvern::platform
