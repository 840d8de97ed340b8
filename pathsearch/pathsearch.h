// Path search: ordered lists of directory prefixes with file lookup along
// them, and the computation of where a configured directory lies relative
// to the running program.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

// ---- Search lists ---------------------------------------------------------
//
// A prefix takes part in a lookup by plain concatenation with the name, so a
// prefix naming a directory ends in '/'.  An empty prefix makes names
// relative to the current directory.  Lists only grow; an all-zero
// search_path is an empty list.  Every add copies its text (must_strdup).

struct search_dir {
  char *dir_text;
  search_dir *next_dir;
  // strlen(dir_text), noted when the node is linked in: every lookup
  // copies the text, and would otherwise measure it first.  With the other
  // noted lengths it saves some 1,300 instructions a run (bench/README.md;
  // a musl run takes about 7,200 in all).
  size_t dir_len;
};

struct search_path {
  search_dir *head;
  // Length of the longest prefix ever added, so one buffer fits every
  // candidate of a lookup.
  int32_t longest_len;
};

// When on, the operations below describe what they do on stderr.
extern bool search_trace;
void search_path_set_trace(bool flag);

// Looks name up along the list for an access() mode (R_OK, X_OK, ...).
// An absolute name is checked with access() alone, the list unused.  Any
// other name is tried under each prefix in order; a candidate must stat,
// not be a directory, and pass access().  Returns a new string (caller
// owns) or null.
char *search_path_find(search_path *list, const char *name, int mode);

// search_path_find, except that a candidate that is the running program's
// own file (is_running_program) is passed over like a missing one and the
// search goes on.  A program that looks up the tool it stands in front of
// must never find, and so run, itself.
char *search_path_find_not_self(search_path *list, const char *name, int mode);

void search_path_add(search_path *list, const char *text, bool at_front);
void search_path_append(search_path *list, const char *text);
void search_path_prepend(search_path *list, const char *text);

// Appends one prefix per ':'-separated component of the text: an empty
// component becomes "./", others get a trailing '/' unless they have one.
void search_path_from_string(const char *text, search_path *list);
// search_path_from_string of getenv(name); nothing when it is unset.
void search_path_from_env(const char *name, search_path *list);

// ---- Relocated prefixes -----------------------------------------------------
//
// Everything below uses the system allocator and turns every failure,
// allocation included, into a null result; nothing prints or exits.

// Where target_dir lies for a program run as progname, given that it was
// configured to live in bin_dir: the program's directory, then "../" for
// each bin_dir component below the part bin_dir and target_dir share, then
// the rest of target_dir.  Null when the program runs from bin_dir itself,
// when the two directories share no leading component, when the program
// cannot be located at all (an empty progname), or on any failure.
// A progname without '/' is looked for along $PATH first.  The result is
// malloc'ed; free it with free().
char *relocated_prefix(const char *progname, const char *bin_dir, const char *target_dir);
// The same without resolving symbolic links in the program's path.
char *relocated_prefix_unresolved(const char *progname, const char *bin_dir,
                                  const char *target_dir);
// relocated_prefix for count target directories of one program: results[i]
// is what relocated_prefix(progname, bin_dir, target_dirs[i]) gives, but
// the program is looked for along $PATH and resolved only once.
void relocated_prefixes(const char *progname, const char *bin_dir, const char *const *target_dirs,
                        int count, char **results);

// Where a program name without '/' lies along $PATH, found as
// relocated_prefix finds it: a new malloc'ed path, or null when PATH is
// not set, no entry holds an executable regular file of that name, or
// memory runs out.
char *program_along_path(const char *name);

// ---- The running program ------------------------------------------------------

// The running program's own file as the operating system names it (Linux:
// /proc/self/exe; FreeBSD: the KERN_PROC_PATHNAME sysctl), malloc'ed; null
// where the system cannot tell (Linux without /proc, other systems).
char *running_program_path();

// The file to take as the running program's own where the system cannot
// tell: the one the program located itself by.  The pointer is kept, not
// copied; null takes the fallback away.
void set_running_program_fallback(const char *path);

// Whether st, from stat of some file, describes the running program's own
// file (same device and inode): by the system's answer, else by the
// fallback file.  False when neither can be had.
bool is_running_program(const struct stat *st);

// Whether the file at path is the running program's own by the system's
// answer alone: 1 it is, 0 it is not (or does not stat), -1 the system
// cannot tell.
int system_says_running_program(const char *path);

// Splits a path into components, each ending with its whole run of '/'
// (the last one may have none); joined in order they give the path back.
// Returns a null-terminated array of malloc'ed strings, or null; *count
// (when count is non-null) is written only on success.  An empty path gives
// an empty list: count 0, just the terminator.
char **split_path_components(const char *path, int32_t *count);
// Frees what split_path_components returned (null is accepted).
void free_path_components(char **components);

// realpath() of the path as a new string, or a copy of the path when it
// cannot be resolved; null only when the copy cannot be allocated.
char *resolve_real_path(const char *path);

// Pointers into the argument: just after the last '/' (base_name_dos: '/'
// or '\\', after stepping over a leading drive letter and colon).
const char *base_name(const char *path);
const char *base_name_posix(const char *path);
const char *base_name_dos(const char *path);
