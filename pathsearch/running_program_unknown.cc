// The running program's path on a POSIX system that offers no way to ask:
// callers fall back on what they were told.

#include "pathsearch/pathsearch.h"

char *running_program_path() { return nullptr; }
