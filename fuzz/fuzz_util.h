// Helpers shared by the fuzz targets.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "pathsearch/path_rules.h"

// assert() vanishes under NDEBUG; a fuzz target must report whatever the
// build type, and abort() is what libFuzzer turns into a saved crash input.
#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);  \
      abort();                                                                    \
    }                                                                             \
  } while (0)

// The input cut at every NUL byte.  NUL is the one byte a C string cannot
// hold, so each field can be any string at all, and seeds stay easy to
// write by hand (printf 'a\0b').  k NUL bytes give k + 1 fields.
inline std::vector<std::string> split_fields(const uint8_t *data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] == 0)
      fields.emplace_back();
    else
      fields.back().push_back((char)data[i]);
  }
  return fields;
}

// A malloc'ed copy of exactly strlen + 1 bytes, so that AddressSanitizer
// catches a read one byte past the terminator.
inline char *exact_copy(const std::string &text) {
  char *copy = (char *)malloc(text.size() + 1);
  memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// What the targets need of the run-time, one file per kind of build
// (runtime_sanitizer.cc, runtime_windows.cc):
// the size the program asked malloc for, as the allocator records it
// (AddressSanitizer's where libFuzzer runs the targets, the C runtime's
// _msize on Windows);
size_t allocated_size(const void *block);
// and the removal of an environment variable (Windows has no unsetenv).
void unset_variable(const char *name);

// Whether the text ends with a separator of the host ('/'; on Windows
// '\\' too).
inline bool ends_with_separator(const std::string &text) {
  return !text.empty() && path_is_separator(text.back());
}

// Path components as the path utilities define them: each runs up to and
// including the whole run of separators that ends it, and the text after
// the last run, when there is any, is the final component.
inline std::vector<std::string> path_components(const std::string &path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = start;
    while (end < path.size() && !path_is_separator(path[end])) end++;
    while (end < path.size() && path_is_separator(path[end])) end++;
    components.push_back(path.substr(start, end - start));
    start = end;
  }
  return components;
}
