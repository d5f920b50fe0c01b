#include "kx6_glbl.h"

namespace tolvern {

std::string LogicalTrueChars = "TtYyJj";
std::string LogicalFalseChars = "FfNn";
uint16_t MemoLockWaitTotal = 2000;
uint16_t MemoLockWaitStep = 50;

}  // namespace tolvern
