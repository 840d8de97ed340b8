// Temporary files on POSIX systems: access() decides, mkstemps names.

#include <stdlib.h>
#include <unistd.h>

#include "support/support.h"

bool temp_dir_usable(const char *dir) { return access(dir, R_OK | W_OK | X_OK) == 0; }

const char *const *temp_system_dirs(void) {
  static const char *const dirs[] = {"/tmp/", "/var/tmp", "/usr/tmp", "/tmp", nullptr};
  return dirs;
}

int temp_file_create_unique(char *name_template, int suffix_length) {
  return mkstemps(name_template, suffix_length);
}
