/* strerror for support_test: the system's, or a null pointer on request.
   glibc's strerror never returns null, so errno_text's fallback can only
   be reached by standing in for it.  Written in C so that the definition
   matches every C library's declaration: glibc declares strerror noexcept
   for C++, musl and FreeBSD do not, and a C++ redefinition must repeat the
   header's noexcept or its absence exactly. */
#define _GNU_SOURCE 1 /* RTLD_NEXT in glibc's and musl's <dlfcn.h> */
#include <dlfcn.h>
#include <locale.h>
#include <string.h>

int zov_test_strerror_gives_null = 0;

char *strerror(int errnum) {
  typedef char *(*strerror_fn)(int);
  static strerror_fn real;
  if (zov_test_strerror_gives_null) return NULL;
  if (real == NULL) real = (strerror_fn)dlsym(RTLD_NEXT, "strerror");
  /* A statically linked test binary (the cross builds) has no later
     definition to find; the locale-taking sibling gives the same text in
     the "C" locale, the one the tests run in. */
  if (real == NULL) {
    static locale_t c_locale;
    if (c_locale == (locale_t)0) c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return strerror_l(errnum, c_locale);
  }
  return real(errnum);
}
