// Search lists: ordered directory prefixes and file lookup along them.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pathsearch/pathsearch.h"
#include "support/support.h"

bool search_trace = false;

void search_path_set_trace(bool flag) { search_trace = flag; }

static char *find(search_path *list, const char *name, int mode, bool pass_over_self) {
  // One buffer that fits every candidate.  Sized in size_t so that no
  // length can wrap it around to something too small.
  size_t name_size = strlen(name) + 1;
  size_t size = (size_t)list->longest_len + name_size;
  if (search_trace) fprintf(stderr, "Looking for '%s'\n", name);
  char *candidate = (char *)must_malloc(size);

  if (name[0] == '/') {
    // The list plays no part, and neither does stat: a directory is
    // accepted whenever access grants the mode.
    if (access(name, mode) == 0) {
      strcpy(candidate, name);
      if (search_trace) fprintf(stderr, "  - found: absolute path\n");
      return candidate;
    }
    if (search_trace) fprintf(stderr, "  - failed to locate using absolute path\n");
  } else {
    for (search_dir *dir = list->head; dir != nullptr; dir = dir->next_dir) {
      memcpy(candidate, dir->dir_text, dir->dir_len);
      memcpy(candidate + dir->dir_len, name, name_size);
      struct stat st;
      if (stat(candidate, &st) != 0 || S_ISDIR(st.st_mode) || access(candidate, mode) != 0)
        continue;
      if (pass_over_self && is_running_program(&st)) {
        if (search_trace) fprintf(stderr, "  - passed over: %s is this program itself\n", candidate);
        continue;
      }
      return candidate;
    }
  }

  if (search_trace && list->head == nullptr)
    fprintf(stderr, "  - failed: no entries in prefix list\n");
  free(candidate);
  return nullptr;
}

char *search_path_find(search_path *list, const char *name, int mode) {
  return find(list, name, mode, false);
}

char *search_path_find_not_self(search_path *list, const char *name, int mode) {
  return find(list, name, mode, true);
}

// Where a node goes in at the front, or behind the last node.
static search_dir **insertion_place(search_path *list, bool at_front) {
  search_dir **place = &list->head;
  if (!at_front) {
    while (*place != nullptr) place = &(*place)->next_dir;
  }
  return place;
}

// Links a node for text, which becomes the list's own, in at place.
// Returns the place behind the new node.
static search_dir **link_prefix(search_path *list, search_dir **place, char *text,
                                size_t length) {
  if ((int32_t)length > list->longest_len) list->longest_len = (int32_t)length;

  search_dir *node = (search_dir *)must_malloc(sizeof(search_dir));
  node->dir_text = text;
  node->dir_len = length;
  node->next_dir = *place;
  *place = node;
  return &node->next_dir;
}

// longest_len sizes every lookup's buffer, so a prefix it cannot record is
// refused like any allocation that cannot be had.
static void check_prefix_length(size_t length) {
  if (length > (size_t)INT32_MAX) alloc_failed(length + 1);
}

void search_path_add(search_path *list, const char *text, bool at_front) {
  // The copy made here rather than by must_strdup, which would measure
  // the text once more.
  size_t length = strlen(text);
  check_prefix_length(length);
  char *copy = (char *)must_malloc(length + 1);
  memcpy(copy, text, length + 1);
  link_prefix(list, insertion_place(list, at_front), copy, length);
}

void search_path_append(search_path *list, const char *text) {
  search_path_add(list, text, false);
}

void search_path_prepend(search_path *list, const char *text) {
  search_path_add(list, text, true);
}

void search_path_from_string(const char *text, search_path *list) {
  if (search_trace)
    fprintf(stderr, "Convert string '%s' into prefixes, separator = '%c'\n", text, ':');

  // Each prefix is formed straight in the list's own copy, sized exactly,
  // rather than in a work buffer that would then be copied once more.
  // The end of the list is found once: a walk to it for every component
  // would make a long PATH cost the square of its length.
  search_dir **tail = insertion_place(list, false);
  const char *start = text;
  for (;;) {
    // One pass to the separator or the end, not a search and then a
    // measure of the last entry.
    size_t length = strcspn(start, ":");
    const char *end = start[length] == ':' ? start + length : nullptr;
    bool add_slash = length > 0 && start[length - 1] != '/';
    size_t prefix_length = length == 0 ? 2 : length + add_slash;
    check_prefix_length(prefix_length);

    char *prefix = (char *)must_malloc(prefix_length + 1);
    if (length == 0) {
      memcpy(prefix, "./", 2);
    } else {
      memcpy(prefix, start, length);
      if (add_slash) prefix[length] = '/';
    }
    prefix[prefix_length] = '\0';
    if (search_trace) fprintf(stderr, "  - add prefix: %s\n", prefix);
    tail = link_prefix(list, tail, prefix, prefix_length);
    if (end == nullptr) break;
    start = end + 1;
  }
}

void search_path_from_env(const char *name, search_path *list) {
  const char *value = getenv(name);
  if (value != nullptr) search_path_from_string(value, list);
}
