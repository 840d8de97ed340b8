// Where a configured directory lies relative to the running program, and
// the path utilities that go with it (splitting a path into components,
// canonical paths, base names).
//
// Everything here uses the system allocator and turns every failure into a
// null result: the caller then keeps its configured directory.

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pathsearch/pathsearch.h"

// A PATH search buffer up to this size lives on the stack, so that the
// usual PATH (well under 4 KiB) costs no allocation; with the few words
// of the frame around it, the buffer then stays within one 4 KiB page.
static constexpr size_t kStackSearchBuffer = 4031;

const char *base_name(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

const char *base_name_posix(const char *path) { return base_name(path); }

const char *base_name_dos(const char *path) {
  // Only ASCII letters make a drive, whatever the locale says.
  char first = path[0];
  if (((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) && path[1] == ':')
    path += 2;
  const char *base = path;
  for (const char *p = path; *p != '\0'; p++)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

void free_path_components(char **components) {
  if (components == nullptr) return;
  for (char **c = components; *c != nullptr; c++) free(*c);
  free(components);
}

static char *copy_range(const char *start, const char *end) {
  size_t length = (size_t)(end - start);
  char *copy = (char *)malloc(length + 1);
  if (copy == nullptr) return nullptr;
  memcpy(copy, start, length);
  copy[length] = '\0';
  return copy;
}

char **split_path_components(const char *path, int32_t *count) {
  size_t runs = 0;
  for (const char *p = path; *p != '\0'; p++)
    if (*p == '/' && (p == path || p[-1] != '/')) runs++;
  // The count is an int32: a path with more components cannot be described.
  if (runs >= (size_t)INT32_MAX) return nullptr;

  // One entry per run, one for a last component without '/', one for the
  // terminator.  An empty path gives an empty list.
  char **components = (char **)malloc((runs + 2) * sizeof(char *));
  if (components == nullptr) return nullptr;

  size_t n = 0;
  bool failed = false;
  const char *start = path;
  const char *p = path;
  while (*p != '\0' && !failed) {
    if (*p != '/') {
      p++;
      continue;
    }
    while (*p == '/') p++;
    components[n] = copy_range(start, p);
    if (components[n] == nullptr) {
      failed = true;
    } else {
      n++;
      start = p;
    }
  }
  // What follows the last run of '/'.
  if (!failed && start != p) {
    components[n] = copy_range(start, p);
    if (components[n] == nullptr)
      failed = true;
    else
      n++;
  }
  components[n] = nullptr;
  if (failed) {
    free_path_components(components);
    return nullptr;
  }
  if (count != nullptr) *count = (int32_t)n;
  return components;
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

// The private copy of the program's path that the computation works on.
static char *copy_program_path(const char *path, bool resolve) {
  return resolve ? resolve_real_path(path) : strdup(path);
}

// Tries a program name without '/' under each entry of path_list (PATH's
// value) as the shell would, in candidate (sized by along_path_size).
// True when an entry holds an executable regular file of that name, which
// candidate then names.
static bool walk_path(const char *name, size_t name_length, const char *path_list,
                      char *candidate) {
  const char *entry = path_list;
  for (;;) {
    size_t length = strcspn(entry, ":");
    const char *end = entry[length] == ':' ? entry + length : nullptr;
    // An empty entry is the current directory.
    if (length == 0) {
      memcpy(candidate, "./", 2);
      length = 2;
    } else {
      memcpy(candidate, entry, length);
      if (entry[length - 1] != '/') candidate[length++] = '/';
    }
    memcpy(candidate + length, name, name_length + 1);

    struct stat st;
    if (access(candidate, X_OK) == 0 && stat(candidate, &st) == 0 && S_ISREG(st.st_mode))
      return true;
    if (end == nullptr) return false;
    entry = end + 1;
  }
}

// The longest entry with a '/' added, or "./", then the name.
static size_t along_path_size(size_t path_length, size_t name_length) {
  return (path_length + 1 > 2 ? path_length + 1 : 2) + name_length + 1;
}

// Looks a program name without '/' up along path_list (PATH's value) as the
// shell would have, and returns the private copy of what was found, or of
// the bare name when no entry holds an executable regular file of that
// name.  Null only when memory runs out.
static char *find_along_path(const char *name, const char *path_list, bool resolve) {
  size_t name_length = strlen(name);
  size_t size = along_path_size(strlen(path_list), name_length);

  char stack_buffer[kStackSearchBuffer];
  char *heap_buffer = nullptr;
  char *candidate = stack_buffer;
  if (size > sizeof stack_buffer) {
    heap_buffer = (char *)malloc(size);
    if (heap_buffer == nullptr) return nullptr;
    candidate = heap_buffer;
  }

  const char *found = walk_path(name, name_length, path_list, candidate) ? candidate : name;
  char *copy = copy_program_path(found, resolve);
  free(heap_buffer);
  return copy;
}

char *program_along_path(const char *name) {
  const char *path_list = getenv("PATH");
  if (path_list == nullptr) return nullptr;
  size_t name_length = strlen(name);
  char *candidate = (char *)malloc(along_path_size(strlen(path_list), name_length));
  if (candidate == nullptr) return nullptr;
  if (walk_path(name, name_length, path_list, candidate)) return candidate;
  free(candidate);
  return nullptr;
}

// Where the program lies: a name without '/' is looked for along PATH
// (when PATH is set), any other is taken as it stands.  Null only when
// memory runs out.
static char *locate_program(const char *progname, bool resolve) {
  // No '/' at all is the same test as a base name that is the whole name,
  // but stops at the first '/', which is the first byte of an absolute
  // path, instead of looking for the last.
  if (strchr(progname, '/') == nullptr) {
    // PATH is read only for a bare name: with a directory part it plays no
    // part, and a run from an explicit path (the usual case) skips the
    // environment scan.
    const char *path_list = getenv("PATH");
    if (path_list != nullptr) return find_along_path(progname, path_list, resolve);
  }
  return copy_program_path(progname, resolve);
}

// The relocation proper, on the program's path as located.  It works on
// the texts in place rather than on component lists: the components of a
// path joined in order give back the path byte for byte, so equal lists of
// leading components are equal leading texts that end where a component
// ends.  The lengths of the program's path and of bin_dir come measured,
// once for all the targets.
static char *relocate_located(const char *program_path, size_t path_length, const char *bin_dir,
                              size_t bin_length, const char *target_dir) {
  // A program path with no components at all (an empty name) cannot be
  // located.
  if (*program_path == '\0') return nullptr;

  // The program's directory: every component but the last, whatever the
  // last one holds.  Back over the last component's run of '/', if any,
  // then over its text.
  size_t dir_length = path_length;
  while (dir_length > 0 && program_path[dir_length - 1] == '/') dir_length--;
  while (dir_length > 0 && program_path[dir_length - 1] != '/') dir_length--;

  // The program lies in the configured bin directory itself: the
  // configured directories stand.
  if (bin_length == dir_length && memcmp(program_path, bin_dir, dir_length) == 0)
    return nullptr;

  // The leading components bin_dir and target_dir share end at the last
  // position up to which both texts agree and where a component ends in
  // both: after a run of '/' (which goes on in neither), or at the end of
  // both.  With no component in common there is no way from one to the
  // other.
  // First how far they agree, then back from there to the last such end.
  size_t i = 0;
  while (bin_dir[i] != '\0' && bin_dir[i] == target_dir[i]) i++;
  size_t shared = 0;
  if (bin_dir[i] == '\0' && target_dir[i] == '\0') {
    shared = i;
  } else {
    for (size_t j = i; j-- > 0;)
      if (bin_dir[j] == '/' && bin_dir[j + 1] != '/' && target_dir[j + 1] != '/') {
        shared = j + 1;
        break;
      }
  }
  if (shared == 0) return nullptr;

  // One "../" out of each bin component below the shared part.  These all
  // start with a character other than '/', so each is one run of such
  // characters.
  size_t ups = 0;
  for (const char *p = bin_dir + shared; *p != '\0'; p++)
    if (*p != '/' && (p == bin_dir + shared || p[-1] == '/')) ups++;

  // The program's directory, the way up, then the rest of target_dir.
  const char *target_rest = target_dir + shared;
  size_t rest_length = strlen(target_rest);
  char *result = (char *)malloc(dir_length + 3 * ups + rest_length + 1);
  if (result == nullptr) return nullptr;
  char *out = result;
  memcpy(out, program_path, dir_length);
  out += dir_length;
  for (size_t up = 0; up < ups; up++, out += 3) memcpy(out, "../", 3);
  memcpy(out, target_rest, rest_length + 1);
  return result;
}

static void relocate(const char *progname, const char *bin_dir, const char *const *target_dirs,
                     int count, char **results, bool resolve) {
  for (int i = 0; i < count; i++) results[i] = nullptr;
  if (progname == nullptr || bin_dir == nullptr) return;

  char *program_path = locate_program(progname, resolve);
  if (program_path == nullptr) return;
  size_t path_length = strlen(program_path);
  size_t bin_length = strlen(bin_dir);
  for (int i = 0; i < count; i++)
    if (target_dirs[i] != nullptr)
      results[i] = relocate_located(program_path, path_length, bin_dir, bin_length, target_dirs[i]);
  free(program_path);
}

char *relocated_prefix(const char *progname, const char *bin_dir, const char *target_dir) {
  char *result;
  relocate(progname, bin_dir, &target_dir, 1, &result, true);
  return result;
}

char *relocated_prefix_unresolved(const char *progname, const char *bin_dir,
                                  const char *target_dir) {
  char *result;
  relocate(progname, bin_dir, &target_dir, 1, &result, false);
  return result;
}

void relocated_prefixes(const char *progname, const char *bin_dir, const char *const *target_dirs,
                        int count, char **results) {
  relocate(progname, bin_dir, target_dirs, count, results, true);
}
