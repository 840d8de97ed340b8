// The programs' entry point on Windows (linked with -municode): the C
// runtime's split of the UTF-16 command line, and its UTF-16 environment,
// both made UTF-8 for the driver.  The narrow forms the runtime makes
// itself go through the ANSI code page, which loses every character
// outside it ("Zoë" under a CJK code page, CJK names under 1252).

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "frontend/frontend.h"
#include "support/support.h"
#include "support/wide_text.h"

namespace {

char **utf8_vector(wchar_t **wide, size_t count) {
  char **vector = (char **)must_calloc(count + 1, sizeof(char *));
  for (size_t i = 0; i < count; ++i) vector[i] = utf8_from_wide(wide[i]);
  return vector;
}

// Windows names variables without regard to case (getenv finds "Path" for
// PATH), and cmd.exe and PowerShell keep the case the user typed, so
// "zov_trace" is ZOV_TRACE there.  The driver compares names byte by byte,
// as POSIX asks, so the front-end's own are spelled in capitals here.
void capitalize_own_names(char **environment) {
  for (char **entry = environment; *entry != nullptr; ++entry) {
    char *e = *entry;
    if (_strnicmp(e, "ZOV_", 4) != 0) continue;
    for (char *p = e; *p != '\0' && *p != '='; ++p)
      if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
  }
}

}  // namespace

// The driver reads the environment through the runtime's narrow one
// (getenv included), so the UTF-8 copy takes its place.
int wmain(int argc, wchar_t **wargv) {
  // The messages are the same bytes as on POSIX: no "\r" put in front of
  // each "\n".
  _setmode(_fileno(stderr), _O_BINARY);
  size_t variables = 0;
  while (_wenviron != nullptr && _wenviron[variables] != nullptr) ++variables;
  if (_wenviron != nullptr) {
    _environ = utf8_vector(_wenviron, variables);
    capitalize_own_names(_environ);
  }
  char **argv = utf8_vector(wargv, argc > 0 ? (size_t)argc : 0);
  return frontend_main(&frontend_this_program, argc, argv);
}
