#include "link/open_files.h"

#include <sys/resource.h>

namespace aqled {

long long OpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
  return static_cast<long long>(limit.rlim_cur);
}

long long RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the limit as it was
  }
  return OpenFileLimit();
}

}  // namespace aqled
