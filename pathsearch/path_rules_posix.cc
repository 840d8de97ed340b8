// Path rules of POSIX systems (Linux, FreeBSD): '/' alone separates, an
// absolute name starts with it, PATH is split at ':', and names compare
// byte for byte.

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pathsearch/path_rules.h"
#include "pathsearch/pathsearch.h"

const char path_list_separator = ':';
const char host_program_suffix[] = "";

bool path_is_separator(char c) { return c == '/'; }

bool path_is_absolute(const char *path) { return path[0] == '/'; }

bool path_chars_equal(char a, char b) { return a == b; }

const char *base_name(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

int path_stat(const char *path, struct stat *st) { return stat(path, st); }

int path_access(const char *path, int mode) { return access(path, mode); }

bool path_file_identity(const char *path, file_identity *identity) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  identity->volume = (uint64_t)st.st_dev;
  identity->index = (uint64_t)st.st_ino;
  return true;
}

// Whether the component that starts at text is "." or "..".
static bool is_dot_component(const char *text) {
  if (text[0] != '.') return false;
  if (text[1] == '\0' || text[1] == '/') return true;
  return text[1] == '.' && (text[2] == '\0' || text[2] == '/');
}

// The canonical form of the usual program path, one that is absolute and
// free of symbolic links, "." and "..": /usr/local/bin/zov-ar.  That form
// is the path itself, and whether the path is of that kind is settled by
// the one readlink per component that realpath makes as well ("not a
// link" for every one), without realpath's own work on the text (some 200
// instructions per component in musl's).  Anything else gives null, and
// realpath then settles it from the start: a link, a missing or
// unreachable component, a file where a directory belongs, a relative
// path, "." or "..", a run of '/' or a trailing one, a path too long.  So
// the answer is always realpath's.  It saves some 1,100 instructions a run
// (bench/README.md; a musl run takes about 7,200 in all).
static char *plain_real_path(const char *path) {
  if (path[0] != '/') return nullptr;
  size_t length = strlen(path);
  if (length >= PATH_MAX) return nullptr;
  char *result = (char *)malloc(length + 1);
  if (result == nullptr) return nullptr;
  memcpy(result, path, length + 1);

  // Each leading part in turn, cut off in place at the '/' after it, then
  // the whole; end is at the '/' before the component.
  size_t end = 0;
  for (;;) {
    const char *component = result + end + 1;
    if (*component == '\0' || *component == '/' || is_dot_component(component)) break;
    end++;
    // Most bytes of a name lie above '/' (letters, digits, '_'): one
    // comparison passes those.
    for (unsigned char c; (c = (unsigned char)result[end]) > '/' || (c != '/' && c != '\0');)
      end++;
    char cut = result[end];
    result[end] = '\0';
    char target;
    bool plain = readlink(result, &target, 1) < 0 && errno == EINVAL;
    result[end] = cut;
    if (!plain) break;
    if (cut == '\0') return result;
  }
  free(result);
  return nullptr;
}

char *resolve_real_path(const char *path) {
  if (char *plain = plain_real_path(path)) return plain;
  // realpath allocates the result itself (POSIX 2008, FreeBSD's too),
  // rather than filling a PATH_MAX buffer on the stack (4 KiB on Linux,
  // 1 KiB on FreeBSD; fresh stack pages touched) that would then be
  // copied once more.  The result can be no longer either way: every step
  // of the resolution hands the path so far to the system, which refuses
  // one that reaches PATH_MAX.
  if (char *resolved = realpath(path, nullptr)) return resolved;
  return strdup(path);
}

