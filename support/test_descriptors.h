// For the tests and their helper programs: the descriptors open in this
// process, found by asking fcntl about every number below the descriptor
// limit.  Works on every POSIX host (no /proc needed), opens nothing
// itself, so a leak check built on it can fail anywhere.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>

#include <vector>

namespace zov_test {

inline std::vector<int> probe_open_descriptors() {
  // A new descriptor takes the lowest free number, so unless something
  // places one high on purpose (dup2, F_DUPFD) they all lie low; the cap
  // keeps a limit of millions, or none at all, from costing a second per
  // listing (much more under an emulator).
  const rlim_t cap = 1 << 16;
  rlim_t limit = cap;
  rlimit r;
  if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY && r.rlim_cur < cap)
    limit = r.rlim_cur;
  std::vector<int> fds;
  for (int fd = 0; (rlim_t)fd < limit; ++fd)
    if (fcntl(fd, F_GETFD) != -1) fds.push_back(fd);
  return fds;
}

}  // namespace zov_test
