/* strerror for support_test on Windows: msvcrt's text, or a null pointer on
   request (msvcrt's strerror never returns null either).  This definition
   takes the place of the import library's in the test binary, so the text
   comes from msvcrt's own table of them. */
#include <stdlib.h>
#include <string.h>

int zov_test_strerror_gives_null = 0;

char *strerror(int errnum) {
  static char unknown[] = "Unknown error";
  if (zov_test_strerror_gives_null) return NULL;
  if (errnum < 0 || errnum >= _sys_nerr) return unknown;
  return (char *)_sys_errlist[errnum];
}
