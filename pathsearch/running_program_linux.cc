// The running program's path on Linux: the kernel's link to the file it
// started.  Without /proc (a chroot, a build sandbox, a container that
// does not mount it) there is none, and callers fall back on what they
// were told.

#include <stdlib.h>
#include <unistd.h>

#include "pathsearch/pathsearch.h"

char *running_program_path() {
  // readlink does not say whether it cut the text short, so a full buffer
  // is tried again bigger.
  for (size_t size = 256; size <= ((size_t)1 << 20); size *= 2) {
    char *path = (char *)malloc(size);
    if (path == nullptr) return nullptr;
    ssize_t length = readlink("/proc/self/exe", path, size);
    if (length > 0 && (size_t)length < size) {
      path[length] = '\0';
      return path;
    }
    free(path);
    if (length <= 0) return nullptr;
  }
  return nullptr;
}
