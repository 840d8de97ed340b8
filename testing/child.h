// Every test binary doubles as the child program its tests start:
// "<self> --pex-child MODE ARGS..." runs one of the small modes in
// child.cc instead of the tests, so that a child can report its own
// arguments, environment and descriptors, or exit, die or wait as asked.
#pragma once

#include <initializer_list>
#include <string>

#include "testing/process.h"

namespace zov_test {

// Absolute path of the running test binary (given by the build, in main.cc).
const std::string &self_path();

// argv for "<self> --pex-child MODE ARGS...".
arg_vector child_args(std::initializer_list<std::string> mode_and_args);

// For main(): when argv asks for a child mode, runs it and never returns.
void run_child_mode_if_asked(int argc, char **argv);

// Runs the child mode argv asks for (argv[2] on), then exits: one
// definition per system (child.cc, child_windows.cc).
[[noreturn]] void run_child_mode(int argc, char **argv);

}  // namespace zov_test
