// The host's rules for file names and the file-system probes the path
// search makes, one implementation per system (path_rules_posix.cc,
// path_rules_windows.cc), chosen by the build.  Shared code asks these
// instead of spelling out '/', ':' or a call that only one system has.
//
// Texts are UTF-8 everywhere; on Windows the probes widen them to UTF-16
// themselves, so that no name passes through the ANSI code page.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

// What separates the entries of PATH: ':' on POSIX, ';' on Windows.
extern const char path_list_separator;

// What a program's file name ends in: "" on POSIX, ".exe" on Windows.
extern const char host_program_suffix[];

// Whether c separates directory components: '/'; on Windows '\\' as well.
bool path_is_separator(char c);

// Whether the path names a file regardless of the working directory:
// "/..." on POSIX; on Windows a drive ("C:\x", "C:/x"), a UNC name
// ("\\server\share\x") or a name rooted on the current drive ("\x").
bool path_is_absolute(const char *path);

// Whether two bytes of directory names are the same for the host: equal
// bytes on POSIX; on Windows ASCII letters without regard to case, and any
// separator the same as any other.
bool path_chars_equal(char a, char b);

// stat and access of a UTF-8 name.  The access mode is the POSIX bits
// (R_OK 4, W_OK 2, X_OK 1, F_OK 0); on Windows execute means a program
// file (by its suffix) and read a file that can be opened.
int path_stat(const char *path, struct stat *st);
int path_access(const char *path, int mode);

// What tells one file from another, by path: device and inode on POSIX,
// volume and file index on Windows (whose stat fills no inode).  False
// when the file cannot be reached.
struct file_identity {
  uint64_t volume;
  uint64_t index;
};
bool path_file_identity(const char *path, file_identity *identity);

// ---- Shared, built on the rules above (path_rules.cc) ------------------------

// Whether the text holds a separator anywhere.
bool path_has_separator(const char *path);

// Whether the text ends with a separator.
bool path_ends_with_separator(const char *path);

// The first `length` bytes of two paths are the same by path_chars_equal.
bool path_texts_equal(const char *a, const char *b, size_t length);

// A program's file name for the host: name followed by host_program_suffix,
// unless it already ends in that suffix (without regard to case).  Returns
// name itself or a new string from must_malloc.
const char *path_program_file_name(const char *name);
