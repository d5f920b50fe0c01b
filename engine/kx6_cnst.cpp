#include "kx6_cnst.h"

namespace tolvern {

std::string FormatMessage(const char* pattern, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < args.size()) out += args[next];
      ++next;
      ++p;
    } else if (*p == '%' && p[1] == '%') {
      out += '%';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace tolvern
