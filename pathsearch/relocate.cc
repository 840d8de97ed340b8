// Where a configured directory lies relative to the running program, and
// the path utilities that computation is made of.
//
// Everything here uses the system allocator and turns every failure into a
// null result: the caller then keeps its configured directory.

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pathsearch/pathsearch.h"

// A PATH search buffer up to this size lives on the stack.
static constexpr size_t kStackSearchBuffer = 4031;

const char *base_name(const char *path) {
  const char *base = path;
  for (const char *p = path; *p != '\0'; p++)
    if (*p == '/') base = p + 1;
  return base;
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

char *resolve_real_path(const char *path) {
#ifdef PATH_MAX
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr) return strdup(resolved);
#else
  // No fixed limit on this system: let realpath size its own result.
  if (char *resolved = realpath(path, nullptr)) return resolved;
#endif
  return strdup(path);
}

// The private copy of the program's path that the computation splits.
static char *copy_program_path(const char *path, bool resolve) {
  return resolve ? resolve_real_path(path) : strdup(path);
}

// Looks a program name without '/' up along path_list (PATH's value) as the
// shell would have, and returns the private copy of what was found, or of
// the bare name when no entry holds an executable regular file of that
// name.  Null only when memory runs out.
static char *find_along_path(const char *name, const char *path_list, bool resolve) {
  size_t path_length = strlen(path_list);
  size_t name_length = strlen(name);
  // The longest entry with a '/' added, or "./", then the name.
  size_t size = (path_length + 1 > 2 ? path_length + 1 : 2) + name_length + 1;

  char stack_buffer[kStackSearchBuffer];
  char *heap_buffer = nullptr;
  char *candidate = stack_buffer;
  if (size > sizeof stack_buffer) {
    heap_buffer = (char *)malloc(size);
    if (heap_buffer == nullptr) return nullptr;
    candidate = heap_buffer;
  }

  const char *found = name;
  const char *entry = path_list;
  for (;;) {
    const char *end = strchr(entry, ':');
    size_t length = end != nullptr ? (size_t)(end - entry) : strlen(entry);
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
    if (access(candidate, X_OK) == 0 && stat(candidate, &st) == 0 && S_ISREG(st.st_mode)) {
      found = candidate;
      break;
    }
    if (end == nullptr) break;
    entry = end + 1;
  }

  char *copy = copy_program_path(found, resolve);
  free(heap_buffer);
  return copy;
}

static size_t total_length(char *const *components, int32_t from, int32_t to) {
  size_t total = 0;
  for (int32_t i = from; i < to; i++) total += strlen(components[i]);
  return total;
}

static char *append_components(char *out, char *const *components, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; i++) {
    size_t length = strlen(components[i]);
    memcpy(out, components[i], length);
    out += length;
  }
  return out;
}

// The program's directory (its first np - 1 components), then "../" out of
// each bin component below the part bin shares with target, then the rest
// of target.
static char *join_relocated(char *const *program, int32_t np, char *const *bin, int32_t nb,
                            char *const *target, int32_t nt) {
  int32_t common = 0;
  while (common < nb && common < nt && strcmp(bin[common], target[common]) == 0) common++;
  if (common == 0) return nullptr;

  int32_t ups = nb - common;
  size_t length = total_length(program, 0, np - 1) + 3 * (size_t)ups +
                  total_length(target, common, nt);
  char *result = (char *)malloc(length + 1);
  if (result == nullptr) return nullptr;

  char *out = append_components(result, program, 0, np - 1);
  for (int32_t i = 0; i < ups; i++, out += 3) memcpy(out, "../", 3);
  out = append_components(out, target, common, nt);
  *out = '\0';
  return result;
}

static bool same_components(char *const *a, char *const *b, int32_t n) {
  for (int32_t i = 0; i < n; i++)
    if (strcmp(a[i], b[i]) != 0) return false;
  return true;
}

static char *relocate(const char *progname, const char *bin_dir, const char *target_dir,
                      bool resolve) {
  if (progname == nullptr || bin_dir == nullptr || target_dir == nullptr) return nullptr;

  const char *path_list = getenv("PATH");
  char *program_path = base_name(progname) == progname && path_list != nullptr
                           ? find_along_path(progname, path_list, resolve)
                           : copy_program_path(progname, resolve);
  if (program_path == nullptr) return nullptr;

  int32_t np = 0, nb = 0, nt = 0;
  char **program = split_path_components(program_path, &np);
  free(program_path);
  char **bin = program != nullptr ? split_path_components(bin_dir, &nb) : nullptr;

  char *result = nullptr;
  char **target = nullptr;
  // A program path with no components at all (an empty name) cannot be
  // located; one with the bin directory's exact components is where it
  // was configured to be.  Either way the configured directory stands.
  if (bin != nullptr && np > 0 && !(np - 1 == nb && same_components(program, bin, nb))) {
    target = split_path_components(target_dir, &nt);
    if (target != nullptr) result = join_relocated(program, np, bin, nb, target, nt);
  }

  free_path_components(program);
  free_path_components(bin);
  free_path_components(target);
  return result;
}

char *relocated_prefix(const char *progname, const char *bin_dir, const char *target_dir) {
  return relocate(progname, bin_dir, target_dir, true);
}

char *relocated_prefix_unresolved(const char *progname, const char *bin_dir,
                                  const char *target_dir) {
  return relocate(progname, bin_dir, target_dir, false);
}
