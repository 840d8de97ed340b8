// getenv for zov-ar, zov-nm and zov-ranlib when they are linked statically
// against musl (built with ZOV_LIBC_MUSL only; elsewhere this file compiles
// to nothing).
//
// Why: every run looks up ZOV_EXEC_PREFIX, which is normally not set, so
// the lookup walks the whole environment.  musl's getenv calls strncmp
// for each entry, some thirty instructions apiece: 1,400 for a shell's
// forty variables, as much as the rest of the program's own work.  Here an
// entry whose first byte differs costs a few instructions, inline.
//
// A statically linked program that defines getenv itself takes the C
// library's out of the link, as with the allocator (program_heap.cc); the
// library's own callers then use this one.  The semantics are musl's: a
// name that is empty or holds '=' is never found.

#include <stddef.h>

#ifdef ZOV_LIBC_MUSL

extern char **environ;

extern "C" char *getenv(const char *name) {
  if (name[0] == '\0' || environ == nullptr) return nullptr;
  for (char **entry = environ; *entry != nullptr; entry++) {
    const char *text = *entry;
    if (text[0] != name[0]) continue;
    // Stops at the first difference, so never beyond the end of a shorter
    // entry: its terminator differs from the name's byte there.
    size_t same = 1;
    while (name[same] != '\0' && text[same] == name[same]) same++;
    if (name[same] == '\0' && text[same] == '=') {
      // Only now, for a name that matched: one that holds '=' names no
      // variable.
      for (const char *p = name; *p != '\0'; p++)
        if (*p == '=') return nullptr;
      return const_cast<char *>(text + same + 1);
    }
  }
  return nullptr;
}

#endif  // ZOV_LIBC_MUSL
