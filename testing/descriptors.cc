#include "testing/descriptors.h"

namespace zov_test {

std::set<int> open_fds() {
  std::vector<int> fds = probe_open_descriptors();
  return std::set<int>(fds.begin(), fds.end());
}

std::set<int> inheritable_fds() {
  std::set<int> fds;
  for (int fd : open_fds()) {
    int flags = fcntl(fd, F_GETFD);
    if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) fds.insert(fd);
  }
  return fds;
}

}  // namespace zov_test
