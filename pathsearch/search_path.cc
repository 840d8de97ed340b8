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

char *search_path_find(search_path *list, const char *name, int mode) {
  // One buffer that fits every candidate.  Sized in size_t so that no
  // length can wrap it around to something too small.
  size_t size = (size_t)list->longest_len + strlen(name) + 1;
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
      str_join_into(candidate, dir->dir_text, name, (char *)nullptr);
      struct stat st;
      if (stat(candidate, &st) == 0 && !S_ISDIR(st.st_mode) && access(candidate, mode) == 0)
        return candidate;
    }
  }

  if (search_trace && list->head == nullptr)
    fprintf(stderr, "  - failed: no entries in prefix list\n");
  free(candidate);
  return nullptr;
}

void search_path_add(search_path *list, const char *text, bool at_front) {
  search_dir **place = &list->head;
  if (!at_front) {
    while (*place != nullptr) place = &(*place)->next_dir;
  }

  // longest_len sizes every lookup's buffer, so a prefix it cannot record
  // is refused like any allocation that cannot be had.
  size_t length = strlen(text);
  if (length > (size_t)INT32_MAX) alloc_failed(length + 1);
  if ((int32_t)length > list->longest_len) list->longest_len = (int32_t)length;

  search_dir *node = (search_dir *)must_malloc(sizeof(search_dir));
  node->dir_text = must_strdup(text);
  node->next_dir = *place;
  *place = node;
}

void search_path_append(search_path *list, const char *text) {
  search_path_add(list, text, false);
}

void search_path_prepend(search_path *list, const char *text) {
  search_path_add(list, text, true);
}

void search_path_from_string(const char *text, search_path *list) {
  // Room for the longest component, an added '/' and the terminator, or
  // for "./" and its terminator.
  char *prefix = (char *)must_malloc(strlen(text) + 3);
  if (search_trace)
    fprintf(stderr, "Convert string '%s' into prefixes, separator = '%c'\n", text, ':');

  const char *start = text;
  for (;;) {
    const char *end = strchr(start, ':');
    size_t length = end != nullptr ? (size_t)(end - start) : strlen(start);
    if (length == 0) {
      strcpy(prefix, "./");
    } else {
      memcpy(prefix, start, length);
      if (start[length - 1] != '/') prefix[length++] = '/';
      prefix[length] = '\0';
    }
    if (search_trace) fprintf(stderr, "  - add prefix: %s\n", prefix);
    search_path_append(list, prefix);
    if (end == nullptr) break;
    start = end + 1;
  }
  free(prefix);
}

void search_path_from_env(const char *name, search_path *list) {
  const char *value = getenv(name);
  if (value != nullptr) search_path_from_string(value, list);
}
