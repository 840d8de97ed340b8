// Temporary files and the file operations that differ per system, on
// POSIX systems: access() decides, mkstemps names.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

// "e" (O_CLOEXEC) is in FreeBSD's fopen from 10.0 on, and in glibc's and
// musl's.
FILE *file_open_stream(const char *path, const char *mode) {
  char with_cloexec[8];
  size_t length = strlen(mode);
  if (length + 2 > sizeof with_cloexec) return fopen(path, mode);
  memcpy(with_cloexec, mode, length);
  with_cloexec[length] = 'e';
  with_cloexec[length + 1] = '\0';
  return fopen(path, with_cloexec);
}

int file_remove(const char *path) { return remove(path); }
