// The running program's path on Windows: the module file name the system
// loaded it from.  Argument 0 is whatever the caller wrote (a bare name, a
// name without ".exe", a path with either separator), so it locates
// nothing reliably.

#include <stdlib.h>
#include <windows.h>

#include "pathsearch/pathsearch.h"
#include "support/wide_text.h"

char *running_program_path() {
  // The name is cut short, with no error, when the buffer is too small:
  // grow it until the answer fits, up to the longest path Windows has.
  for (DWORD size = 260; size <= 32768 * 2; size *= 2) {
    wchar_t *path = (wchar_t *)malloc(size * sizeof(wchar_t));
    if (path == nullptr) return nullptr;
    DWORD length = GetModuleFileNameW(nullptr, path, size);
    if (length > 0 && length < size) {
      char *result = utf8_from_wide_or_null(path);
      free(path);
      return result;
    }
    free(path);
    if (length == 0) return nullptr;
  }
  return nullptr;
}
