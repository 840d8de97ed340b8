// The temporary directory and uniquely named temporary files.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "support/support.h"

// Chosen on the first call of temp_dir and kept, unchanged and never
// freed, until the process exits.
static char *chosen_temp_dir = nullptr;

static bool usable_dir(const char *dir) { return dir != nullptr && temp_dir_usable(dir); }

const char *temp_dir(void) {
  if (chosen_temp_dir != nullptr) return chosen_temp_dir;

  // The variables are used exactly as set: an empty one fails the test
  // and is passed over.  Then the system's own directories.
  const char *choice = nullptr;
  const char *variables[] = {getenv("TMPDIR"), getenv("TMP"), getenv("TEMP")};
  for (const char *candidate : variables) {
    if (usable_dir(candidate)) {
      choice = candidate;
      break;
    }
  }
  for (const char *const *system = temp_system_dirs(); choice == nullptr && *system != nullptr;
       ++system)
    if (usable_dir(*system)) choice = *system;
  if (choice == nullptr) choice = ".";

  // The '/' goes on whatever the choice ends with: "/tmp/" becomes "/tmp//".
  size_t length = strlen(choice);
  char *dir = (char *)must_malloc(length + 2);
  memcpy(dir, choice, length);
  dir[length] = '/';
  dir[length + 1] = '\0';
  chosen_temp_dir = dir;
  return chosen_temp_dir;
}

char *temp_file_make(const char *prefix, const char *suffix) {
  const char *dir = temp_dir();
  if (prefix == nullptr) prefix = "cc";
  if (suffix == nullptr) suffix = "";

  size_t suffix_length = strlen(suffix);
  char *name = str_join(dir, prefix, "XXXXXX", suffix, (char *)nullptr);
  int fd = temp_file_create_unique(name, (int)suffix_length);
  if (fd == -1) {
    int err = errno;
    fprintf(stderr, "Cannot create temporary file in %s: %s\n", dir, strerror(err));
    abort();
  }
  if (close(fd) != 0) abort();
  return name;
}

char *temp_file_make_suffixed(const char *suffix) { return temp_file_make(nullptr, suffix); }
