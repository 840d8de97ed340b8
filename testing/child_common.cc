// What the child modes of child.cc and child_windows.cc share: the
// argument vector that asks for one, and the check in main() that runs it.

#include <string.h>

#include <string>
#include <vector>

#include "testing/child.h"

namespace zov_test {

arg_vector child_args(std::initializer_list<std::string> mode_and_args) {
  std::vector<std::string> items{self_path(), "--pex-child"};
  items.insert(items.end(), mode_and_args);
  return arg_vector(std::move(items));
}

void run_child_mode_if_asked(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "--pex-child") == 0) run_child_mode(argc, argv);
}

}  // namespace zov_test
