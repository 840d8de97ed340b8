// main() of every test binary: the tests, or the child mode a test started
// the binary in (testing/child.h).  Built into each binary on its own,
// since the binary's path comes from the build.

#include <gtest/gtest.h>

#include "testing/child.h"

namespace zov_test {

// From the build: /proc/self/exe is Linux's alone.
const std::string &self_path() {
  static const std::string path = ZOV_TEST_SELF;
  return path;
}

}  // namespace zov_test

int main(int argc, char **argv) {
  zov_test::run_child_mode_if_asked(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
