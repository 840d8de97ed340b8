// The error texts of the vfork child's fallback message where the C
// library offers no text that is safe to fetch there (see pex_backend.h).
// Its own object file: a program that never refers to the table (glibc
// builds) does not carry it.
//
// The numbers are the platform's macros, never literal values: they differ
// between Linux and FreeBSD (ETXTBSY is 26 on both, but EAGAIN is 11 on
// Linux and 35 on FreeBSD, and the numbers above 34 part ways entirely).
// Those not every system has are taken where defined.  No pair of aliases
// (EAGAIN and EWOULDBLOCK, ENOTSUP and EOPNOTSUPP) is listed, so no number
// appears twice.

#include <errno.h>
#include <stddef.h>

#include "pex/pex_backend.h"

const pex_error_text pex_error_texts[] = {
    // execv, execvp: the program and the path to it.
    {ENOENT, "No such file or directory"},
    {EACCES, "Permission denied"},
    {ENOEXEC, "Exec format error"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {ELOOP, "Too many levels of symbolic links"},
    {ENAMETOOLONG, "File name too long"},
    {ETXTBSY, "Text file busy"},
    {E2BIG, "Argument list too long"},
    {ENOMEM, "Cannot allocate memory"},
    {EPERM, "Operation not permitted"},
    {EFAULT, "Bad address"},
    {EIO, "Input/output error"},
    {ENFILE, "Too many open files in system"},
    {EAGAIN, "Resource temporarily unavailable"},
#ifdef ELIBBAD
    {ELIBBAD, "Accessing a corrupted shared library"},  // Linux: a bad interpreter
#endif
    // dup2, close, and exec too.
    {EBADF, "Bad file descriptor"},
    {EMFILE, "Too many open files"},
    {EINTR, "Interrupted system call"},
    {EINVAL, "Invalid argument"},
    {EBUSY, "Device or resource busy"},
    {ENOSPC, "No space left on device"},
#ifdef EDQUOT
    {EDQUOT, "Disk quota exceeded"},
#endif
};

const size_t pex_error_text_count = sizeof pex_error_texts / sizeof pex_error_texts[0];

const char *pex_error_table_text(int errnum) {
  for (size_t i = 0; i < pex_error_text_count; ++i)
    if (pex_error_texts[i].number == errnum) return pex_error_texts[i].text;
  return nullptr;
}
