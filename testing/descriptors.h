// The descriptors open in this process, found by asking fcntl about every
// number below the descriptor limit.  Works on every POSIX host (no /proc
// needed) and opens nothing itself, so a leak check built on it can fail
// anywhere.  probe_open_descriptors is inline: the stand-in tool, which
// links nothing of the tests, lists its descriptors with it too.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>

#include <set>
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

// Descriptors open in this process.
std::set<int> open_fds();
// Open descriptors 3 and up that a child would inherit (no FD_CLOEXEC).
std::set<int> inheritable_fds();

}  // namespace zov_test
