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

#include "pathsearch/path_rules.h"
#include "pathsearch/pathsearch.h"
#include "support/support.h"

// A PATH search buffer up to this size lives on the stack, so that the
// usual PATH (well under 4 KiB) costs no allocation; with the few words
// of the frame around it, the buffer then stays within one 4 KiB page.
static constexpr size_t kStackSearchBuffer = 4031;

// base_name is the host's (path_rules_posix.cc, path_rules_windows.cc).

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
    if (path_is_separator(*p) && (p == path || !path_is_separator(p[-1]))) runs++;
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
    if (!path_is_separator(*p)) {
      p++;
      continue;
    }
    while (path_is_separator(*p)) p++;
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
  const char separators[2] = {path_list_separator, '\0'};
  const char *entry = path_list;
  for (;;) {
    size_t length = strcspn(entry, separators);
    const char *end = entry[length] == path_list_separator ? entry + length : nullptr;
    // An empty entry is the current directory.
    if (length == 0) {
      memcpy(candidate, "./", 2);
      length = 2;
    } else {
      memcpy(candidate, entry, length);
      if (!path_is_separator(entry[length - 1])) candidate[length++] = '/';
    }
    memcpy(candidate + length, name, name_length + 1);

    struct stat st;
    if (path_access(candidate, X_OK) == 0 && path_stat(candidate, &st) == 0 &&
        S_ISREG(st.st_mode))
      return true;
    if (end == nullptr) return false;
    entry = end + 1;
  }
}

// The name a program's file has along PATH: progname with the host's
// program suffix (".exe" on Windows) unless it has it.  *owned is what to
// free afterwards (null when progname is the name); null when memory runs
// out.
static const char *program_file_name(const char *progname, char **owned) {
  *owned = nullptr;
  size_t suffix_length = strlen(host_program_suffix);
  size_t length = strlen(progname);
  if (suffix_length == 0 ||
      (length >= suffix_length &&
       path_texts_equal(progname + length - suffix_length, host_program_suffix, suffix_length)))
    return progname;
  *owned = (char *)malloc(length + suffix_length + 1);
  if (*owned == nullptr) return nullptr;
  memcpy(*owned, progname, length);
  memcpy(*owned + length, host_program_suffix, suffix_length + 1);
  return *owned;
}

// The longest entry with a '/' added, or "./", then the name.
static size_t along_path_size(size_t path_length, size_t name_length) {
  return (path_length + 1 > 2 ? path_length + 1 : 2) + name_length + 1;
}

// Looks a program name without '/' up along path_list (PATH's value) as the
// shell would have, and returns the private copy of what was found, or of
// the bare name when no entry holds an executable regular file of that
// name.  Null only when memory runs out.
static char *find_along_path(const char *progname, const char *path_list, bool resolve) {
  char *suffixed = nullptr;
  const char *name = program_file_name(progname, &suffixed);
  if (name == nullptr) return nullptr;
  size_t name_length = strlen(name);
  size_t size = along_path_size(strlen(path_list), name_length);

  char stack_buffer[kStackSearchBuffer];
  char *heap_buffer = nullptr;
  char *candidate = stack_buffer;
  if (size > sizeof stack_buffer) {
    heap_buffer = (char *)malloc(size);
    if (heap_buffer == nullptr) {
      free(suffixed);
      return nullptr;
    }
    candidate = heap_buffer;
  }

  const char *found = walk_path(name, name_length, path_list, candidate) ? candidate : progname;
  char *copy = copy_program_path(found, resolve);
  free(heap_buffer);
  free(suffixed);
  return copy;
}

char *program_along_path(const char *progname) {
  const char *path_list = getenv("PATH");
  if (path_list == nullptr) return nullptr;
  char *suffixed = nullptr;
  const char *name = program_file_name(progname, &suffixed);
  if (name == nullptr) return nullptr;
  size_t name_length = strlen(name);
  char *candidate = (char *)malloc(along_path_size(strlen(path_list), name_length));
  bool found = candidate != nullptr && walk_path(name, name_length, path_list, candidate);
  free(suffixed);
  if (found) return candidate;
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
  if (!path_has_separator(progname)) {
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
  while (dir_length > 0 && path_is_separator(program_path[dir_length - 1])) dir_length--;
  while (dir_length > 0 && !path_is_separator(program_path[dir_length - 1])) dir_length--;

  // The program lies in the configured bin directory itself: the
  // configured directories stand.  (On Windows the names compare without
  // regard to case, and either separator matches the other.)
  if (bin_length == dir_length && path_texts_equal(program_path, bin_dir, dir_length))
    return nullptr;

  // The leading components bin_dir and target_dir share end at the last
  // position up to which both texts agree and where a component ends in
  // both: after a run of '/' (which goes on in neither), or at the end of
  // both.  With no component in common there is no way from one to the
  // other.
  // First how far they agree, then back from there to the last such end.
  size_t i = 0;
  while (bin_dir[i] != '\0' && path_chars_equal(bin_dir[i], target_dir[i])) i++;
  size_t shared = 0;
  if (bin_dir[i] == '\0' && target_dir[i] == '\0') {
    shared = i;
  } else {
    for (size_t j = i; j-- > 0;)
      if (path_is_separator(bin_dir[j]) && !path_is_separator(bin_dir[j + 1]) &&
          !path_is_separator(target_dir[j + 1])) {
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
    if (!path_is_separator(*p) && (p == bin_dir + shared || path_is_separator(p[-1]))) ups++;

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
