// Re-entrant mutual exclusion and millisecond sleep.
#pragma once

#include <cstdint>
#include <mutex>

namespace tolvern::platform {

using RecursiveMutex = std::recursive_mutex;
using RecursiveLock = std::lock_guard<std::recursive_mutex>;

void SleepMs(uint32_t milliseconds);

}  // namespace tolvern::platform
