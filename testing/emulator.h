// The cross builds run their tests under qemu-user: ctest puts the
// emulator in front of each test binary (cmake/toolchains), and the
// emulator line sets ZOV_TEST_EMULATOR in the guest's environment.
// qemu-user differs from a kernel in ways that belong to the emulator, not
// to this system (the order of a child's environment, seccomp, clone3); a
// test that meets one checks what it still can and prints why.  The same
// binaries booted on a real kernel do not have the variable and check all.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace zov_test {

inline const char *test_emulator() {
  const char *name = getenv("ZOV_TEST_EMULATOR");
  return name != nullptr && *name != '\0' ? name : nullptr;
}

// qemu-user tells of a guest killed by a core-dumping signal on that
// guest's own stderr ("qemu: uncaught target signal 6 (Aborted) - core
// dumped").  Appended to a regular expression for a whole stderr, this
// lets that one line follow under the emulator and nothing elsewhere.
inline std::string emulator_signal_line() {
  if (test_emulator() == nullptr) return "";
  printf("under %s: the emulator's own line about the signal may end stderr\n",
         test_emulator());
  return "(qemu: uncaught target signal [^\n]*\n)?";
}

}  // namespace zov_test
