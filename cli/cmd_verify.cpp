// fendral-cli verify and repair: the table doctor. (Being built.)
#include "cli_common.h"

namespace fendral::cli {

int CmdVerify(const Arguments&) { throw UsageError{"verify is not available yet"}; }
int CmdRepair(const Arguments&) { throw UsageError{"repair is not available yet"}; }

}  // namespace fendral::cli
