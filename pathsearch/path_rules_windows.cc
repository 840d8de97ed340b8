// Path rules of Windows: '\\' and '/' both separate, drives and UNC names
// are absolute, PATH is split at ';', programs end in ".exe", and
// directory names compare without regard to case (ASCII letters: the
// file system's own folding of other letters is not known here).
//
// Every probe widens its UTF-8 name and calls the UTF-16 interface, so
// that a user name like "Zoë" or a CJK folder reaches the file system
// unchanged, whatever the ANSI code page.

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include "pathsearch/path_rules.h"
#include "pathsearch/pathsearch.h"
#include "support/wide_text.h"

const char path_list_separator = ';';
const char host_program_suffix[] = ".exe";

bool path_is_separator(char c) { return c == '/' || c == '\\'; }

static bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "C:\x", "C:/x", "\\server\share\x" and a rooted "\x" (the current
// drive's root) all name the same file from any working directory on
// that drive; "C:x" is relative to drive C's working directory.
bool path_is_absolute(const char *path) {
  if (path_is_separator(path[0])) return true;
  return is_ascii_letter(path[0]) && path[1] == ':' && path_is_separator(path[2]);
}

static char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// After the last separator of either kind.
const char *base_name(const char *path) {
  const char *base = path;
  for (const char *p = path; *p != '\0'; p++)
    if (path_is_separator(*p)) base = p + 1;
  return base;
}

bool path_chars_equal(char a, char b) {
  if (path_is_separator(a)) return path_is_separator(b);
  return ascii_lower(a) == ascii_lower(b);
}

// The attributes of a name, through its wide form; false with errno set.
static bool attributes_of(const char *path, WIN32_FILE_ATTRIBUTE_DATA *data) {
  wchar_t *wide = wide_from_utf8_or_null(path);
  if (wide == nullptr) {
    errno = ENOMEM;
    return false;
  }
  BOOL ok = GetFileAttributesExW(wide, GetFileExInfoStandard, data);
  DWORD error = GetLastError();
  free(wide);
  if (!ok) errno = error == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  return ok != 0;
}

// Only what the path search reads: the file's type and size.
int path_stat(const char *path, struct stat *st) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!attributes_of(path, &data)) return -1;
  memset(st, 0, sizeof *st);
  bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  st->st_mode = directory ? (_S_IFDIR | 0755) : (_S_IFREG | 0644);
  st->st_size = (decltype(st->st_size))(((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow);
  return 0;
}

// Windows has no execute bit: a file the search found under its program
// name (with ".exe") is a program.  Writing is refused for a read-only
// file; a directory takes every mode, as on POSIX with rwx.
int path_access(const char *path, int mode) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!attributes_of(path, &data)) return -1;
  bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((mode & 2) != 0 && !directory && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = EACCES;
    return -1;
  }
  return 0;
}

bool path_file_identity(const char *path, file_identity *identity) {
  wchar_t *wide = wide_from_utf8_or_null(path);
  if (wide == nullptr) return false;
  // No access asked for: only the file's information is read, and a file
  // another process holds open is still reached.
  HANDLE file = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  free(wide);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!ok) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  return true;
}

// The full path, with "." and ".." folded away and the working directory
// in front of a relative name; a copy of the name when that fails.
char *resolve_real_path(const char *path) {
  wchar_t *wide = wide_from_utf8_or_null(path);
  if (wide != nullptr) {
    DWORD size = GetFullPathNameW(wide, 0, nullptr, nullptr);
    wchar_t *full = size > 0 ? (wchar_t *)malloc(size * sizeof(wchar_t)) : nullptr;
    DWORD length = full != nullptr ? GetFullPathNameW(wide, size, full, nullptr) : 0;
    char *result = length > 0 && length < size ? utf8_from_wide_or_null(full) : nullptr;
    free(full);
    free(wide);
    if (result != nullptr) return result;
  }
  return strdup(path);
}
