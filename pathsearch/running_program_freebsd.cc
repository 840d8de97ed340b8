// The running program's path on FreeBSD: the kernel's record of the
// executable, through the KERN_PROC_PATHNAME sysctl of this process (-1).
// FreeBSD-specific: /proc is seldom mounted there, so it is not read.

#include <stdlib.h>
// (sys/types.h first: FreeBSD's sys/sysctl.h needs it.)
#include <sys/types.h>
#include <sys/sysctl.h>

#include "pathsearch/pathsearch.h"

char *running_program_path() {
  int mib[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};
  size_t size = 0;
  if (sysctl(mib, 4, nullptr, &size, nullptr, 0) != 0 || size == 0) return nullptr;
  char *path = (char *)malloc(size);
  if (path == nullptr) return nullptr;
  if (sysctl(mib, 4, path, &size, nullptr, 0) != 0 || size == 0 || path[0] == '\0') {
    free(path);
    return nullptr;
  }
  path[size - 1] = '\0';
  return path;
}
