#include <sys/resource.h>
#include <unistd.h>

#include "host_os.h"

bool HostOs_IsTerminal(FILE *stream) { return isatty(fileno(stream)) != 0; }

size_t HostOs_DescriptorLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;  // the least POSIX systems give
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < limit.rlim_max) {
    struct rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (1u << 20)) return 1u << 20;
  return static_cast<size_t>(limit.rlim_cur);
}
