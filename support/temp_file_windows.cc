// Temporary files and the file operations that differ per system, on
// Windows, which has no mkstemps: the name is made here and the file
// created with O_EXCL through the UTF-16 interface, so that a temporary
// directory under a user name like "Zoë" is reached.

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include "support/support.h"
#include "support/wide_text.h"

bool temp_dir_usable(const char *dir) {
  if (dir[0] == '\0') return false;
  wchar_t *wide = wide_from_utf8(dir);
  DWORD attributes = GetFileAttributesW(wide);
  free(wide);
  // A folder's read-only attribute does not keep files from being made in
  // it (Explorer uses it for other things), so only being a folder counts.
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// GetTempPathW's answer (TMP, TEMP, USERPROFILE or the Windows directory,
// already ending in '\\'), read once.
const char *const *temp_system_dirs(void) {
  static const char *dirs[2] = {nullptr, nullptr};
  static bool asked = false;
  if (!asked) {
    asked = true;
    wchar_t path[MAX_PATH + 2];
    DWORD length = GetTempPathW(MAX_PATH + 2, path);
    if (length > 0 && length < MAX_PATH + 2) dirs[0] = utf8_from_wide(path);
  }
  return dirs;
}

// Letters and digits only: a name the file system stores as given, with
// no case folding that could make two names one.  (Case-insensitive file
// systems see "cca" and "ccA" as one name; O_EXCL then asks for another.)
static const char name_characters[] = "abcdefghijklmnopqrstuvwxyz0123456789";

static unsigned long long next_random(unsigned long long *state) {
  // xorshift64*: enough to make a clash with another process unlikely;
  // O_EXCL makes a clash harmless.
  *state ^= *state >> 12;
  *state ^= *state << 25;
  *state ^= *state >> 27;
  return *state * 2685821657736338717ULL;
}

int temp_file_create_unique(char *name_template, int suffix_length) {
  size_t length = strlen(name_template);
  if (suffix_length < 0 || length < (size_t)suffix_length + 6) {
    errno = EINVAL;
    return -1;
  }
  char *letters = name_template + length - suffix_length - 6;
  for (int i = 0; i < 6; ++i)
    if (letters[i] != 'X') {
      errno = EINVAL;
      return -1;
    }
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  unsigned long long state =
      ((unsigned long long)counter.QuadPart ^ ((unsigned long long)GetCurrentProcessId() << 32)) |
      1;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    unsigned long long bits = next_random(&state);
    for (int i = 0; i < 6; ++i, bits /= 36) letters[i] = name_characters[bits % 36];
    wchar_t *wide = wide_from_utf8(name_template);
    int fd = _wopen(wide, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
    int error = errno;
    free(wide);
    if (fd >= 0) return fd;
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

FILE *file_open_stream(const char *path, const char *mode) {
  wchar_t wide_mode[8];
  size_t length = 0;
  for (; mode[length] != '\0' && length + 2 < sizeof wide_mode / sizeof wide_mode[0]; ++length)
    wide_mode[length] = (wchar_t)mode[length];
  wide_mode[length++] = L'N';  // not inherited
  wide_mode[length] = L'\0';
  wchar_t *wide = wide_from_utf8(path);
  FILE *stream = _wfopen(wide, wide_mode);
  int saved_errno = errno;
  free(wide);
  errno = saved_errno;
  return stream;
}

int file_remove(const char *path) {
  wchar_t *wide = wide_from_utf8(path);
  int result = _wremove(wide);
  int saved_errno = errno;
  free(wide);
  errno = saved_errno;
  return result;
}
