// Support library: allocation that never returns null, string joining,
// error-number text, the exit hook, and temporary files.
//
// Everything here is process-global and single-threaded.  The allocators
// end the process (message on stderr, status 1) instead of returning null,
// so callers never check their results.
#pragma once

#include <stddef.h>
#include <stdio.h>

#define ZOV_SENTINEL __attribute__((sentinel))

// Name printed in front of the out-of-memory message; "" (never null) until
// set_alloc_program_name is called.  The pointer is stored, not copied.
extern const char *alloc_program_name;
void set_alloc_program_name(const char *name);

// Called with the exit status by exit_with_hook just before exit(); null
// means no hook.
extern void (*exit_hook)(int status);

[[noreturn]] void exit_with_hook(int status);

// Prints "\n<name>: out of memory allocating <size> bytes\n" (no "<name>: "
// while the name is empty) and exits 1 through exit_with_hook.
[[noreturn]] void alloc_failed(size_t size);

// A size (or count) of 0 is treated as 1, so a usable block always comes
// back; must_realloc(p, 0) resizes to 1 byte instead of freeing.  A failed
// must_calloc whose count times size overflows reports SIZE_MAX bytes.
void *must_malloc(size_t size);
void *must_calloc(size_t count, size_t size);
void *must_realloc(void *old_block, size_t size);
char *must_strdup(const char *text);

// strerror(errnum), or "undocumented error #<n>" in a static buffer that the
// next such fallback call overwrites.  Never null.
const char *errno_text(int errnum);

// The str_join family: the variable arguments are strings ended by a null
// pointer, joined in order with nothing between them.  Pass (char *) nullptr
// for the end marker.  An empty list (the first argument already null) is
// valid, though the sentinel check warns about such a call.
size_t str_join_length(const char *first, ...) ZOV_SENTINEL;
// Joins into dest, which the caller sized (str_join_length + 1); returns dest.
char *str_join_into(char *dest, ...) ZOV_SENTINEL;
// Joins into the caller-owned buffer str_join_buffer points at.
extern char *str_join_buffer;
char *str_join_shared(const char *first, ...) ZOV_SENTINEL;
// One must_malloc of exactly the joined length plus 1.
char *str_join(const char *first, ...) ZOV_SENTINEL;
// As str_join, then frees old; old may itself be one of the parts.
char *str_rejoin(char *old, ...) ZOV_SENTINEL;

// Temporary files.
//
// temp_dir picks, once per process, the first of $TMPDIR, $TMP, $TEMP and
// the system's directories (temp_system_dirs) that temp_dir_usable accepts
// (else "."), and returns it with one '/' appended.  The result is
// owned here and never changes afterwards.
const char *temp_dir(void);

// Creates a new empty file named <temp_dir><prefix>XXXXXX<suffix> and
// returns its name (caller frees).  A null prefix means "cc", a null suffix
// "".  Never fails: a file that cannot be created prints a message and
// aborts.
char *temp_file_make(const char *prefix, const char *suffix);
char *temp_file_make_suffixed(const char *suffix);

// What differs per system (support/temp_file_posix.cc, temp_file_windows.cc):
// Whether dir may hold temporary files (POSIX: access with R_OK | W_OK |
// X_OK; Windows: an existing directory).
bool temp_dir_usable(const char *dir);
// The directories tried after TMPDIR, TMP and TEMP, null-terminated:
// "/tmp/", "/var/tmp", "/usr/tmp", "/tmp" on POSIX; the system's
// temporary directory (GetTempPathW) on Windows.
const char *const *temp_system_dirs(void);
// mkstemps: replaces the six 'X' before the last suffix_length bytes of
// name_template with characters that make the name new, creates the file
// (readable and writable by the user alone, inherited by no child) and
// returns its open descriptor; -1 with errno set when it cannot.
int temp_file_create_unique(char *name_template, int suffix_length);
// fopen of a file that no child inherits (POSIX: close-on-exec, mode "e";
// Windows: "N", and the name widened from UTF-8).  mode is fopen's,
// without either.
FILE *file_open_stream(const char *path, const char *mode);
// remove, of a UTF-8 name on Windows as well.
int file_remove(const char *path);
