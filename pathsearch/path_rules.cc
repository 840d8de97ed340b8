// What the two systems' path rules share: helpers built on the host's
// separator and comparison rules.

#include "pathsearch/path_rules.h"

#include <string.h>

#include "support/support.h"

bool path_has_separator(const char *path) {
  for (const char *p = path; *p != '\0'; ++p)
    if (path_is_separator(*p)) return true;
  return false;
}

bool path_ends_with_separator(const char *path) {
  size_t length = strlen(path);
  return length > 0 && path_is_separator(path[length - 1]);
}

bool path_texts_equal(const char *a, const char *b, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (!path_chars_equal(a[i], b[i])) return false;
  return true;
}

const char *path_program_file_name(const char *name) {
  size_t suffix_length = strlen(host_program_suffix);
  if (suffix_length == 0) return name;
  size_t length = strlen(name);
  if (length >= suffix_length &&
      path_texts_equal(name + length - suffix_length, host_program_suffix, suffix_length))
    return name;
  return str_join(name, host_program_suffix, (char *)nullptr);
}
