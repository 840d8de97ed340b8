// Unit tests of the driver's pieces that need no process of their own: the
// -B scan and the tool's argument vector (the mapping of the tool's end is
// exit_status_*_test.cc, per system).

#include "frontend/frontend.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "testing/process.h"

using zov_test::arg_vector;

namespace {

std::vector<std::string> strings_of(char **argv, int count) {
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.push_back(argv[i]);
  return result;
}

TEST(TakeDashBOption, FindsRemovesAndNormalisesTheFirstOne) {
  struct {
    std::vector<std::string> args;
    dash_b_result result;
    std::vector<std::string> left;
    const char *dir;
  } cases[] = {
      {{"zov-nm", "x.o"}, DASH_B_ABSENT, {"zov-nm", "x.o"}, nullptr},
      {{"zov-nm", "-b", "-Y"}, DASH_B_ABSENT, {"zov-nm", "-b", "-Y"}, nullptr},
      {{}, DASH_B_ABSENT, {}, nullptr},
      {{"zov-nm", "-B/opt/x", "a"}, DASH_B_TAKEN, {"zov-nm", "a"}, "/opt/x/"},
      {{"zov-nm", "-B", "/opt/x", "a"}, DASH_B_TAKEN, {"zov-nm", "a"}, "/opt/x/"},
      {{"zov-nm", "-B/opt/x/"}, DASH_B_TAKEN, {"zov-nm"}, "/opt/x/"},
      {{"zov-nm", "-B."}, DASH_B_TAKEN, {"zov-nm"}, "./"},
      {{"zov-nm", "-B/"}, DASH_B_TAKEN, {"zov-nm"}, "/"},
      {{"zov-nm", "-B", "", "a"}, DASH_B_TAKEN, {"zov-nm", "a"}, ""},
      // Whatever follows a separate -B is the directory.
      {{"zov-nm", "-B", "-v", "a"}, DASH_B_TAKEN, {"zov-nm", "a"}, "-v/"},
      // Only the first counts; no end-of-options marker.
      {{"zov-nm", "-Ba", "x", "-Bb"}, DASH_B_TAKEN, {"zov-nm", "x", "-Bb"}, "a/"},
      {{"zov-nm", "--", "-Bd", "x"}, DASH_B_TAKEN, {"zov-nm", "--", "x"}, "d/"},
      // Argument 0 is scanned too.
      {{"-Bd", "x"}, DASH_B_TAKEN, {"x"}, "d/"},
      {{"-B", "d", "x"}, DASH_B_TAKEN, {"x"}, "d/"},
      {{"-Bd"}, DASH_B_TAKEN, {}, "d/"},
      // A lone -B at the end.
      {{"zov-nm", "-B"}, DASH_B_MISSING_DIR, {"zov-nm", "-B"}, nullptr},
      {{"zov-nm", "x", "-B"}, DASH_B_MISSING_DIR, {"zov-nm", "x", "-B"}, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    arg_vector v(c.args);
    int argc = v.argc();
    char *dir = nullptr;
    EXPECT_EQ(take_dash_b_option(&argc, v.get(), &dir), c.result);
    EXPECT_EQ(strings_of(v.get(), argc), c.left);
    EXPECT_EQ(v.get()[argc], nullptr);
    if (c.dir == nullptr) {
      EXPECT_EQ(dir, nullptr);
    } else {
      ASSERT_NE(dir, nullptr);
      EXPECT_STREQ(dir, c.dir);
      if (!v.owns(dir)) free(dir);
    }
  }
}

TEST(BuildToolArgv, PutsThePluginInFrontAndDashesArOperationOnly) {
  frontend_program ar = {"t",  "v",    "/b/", "/l/", "/x/", "ar", "zov-ar",
                         true, "t/v/../../../../t/bin/", "t/v/", "0", "libqel_plugin.so"};
  frontend_program nm = {"t",   "v",    "/b/", "/l/", "/x/", "nm", "zov-nm",
                         false, "t/v/../../../../t/bin/", "t/v/", "0", "libqel_plugin.so"};
  struct {
    const frontend_program *program;
    std::vector<std::string> args;
    std::vector<std::string> user_args;  // what follows the plugin path
  } cases[] = {
      {&nm, {}, {}},
      {&nm, {"zov-nm"}, {}},
      {&nm, {"zov-nm", "rcs", "x.o"}, {"rcs", "x.o"}},
      {&ar, {"zov-ar"}, {}},
      {&ar, {"zov-ar", "rcs", "lib.a", "x.o"}, {"-rcs", "lib.a", "x.o"}},
      {&ar, {"zov-ar", "-rcs", "lib.a"}, {"-rcs", "lib.a"}},
      {&ar, {"zov-ar", "", "lib.a"}, {"-", "lib.a"}},
      {&ar, {"zov-ar", "t", "rcs"}, {"-t", "rcs"}},
      {&ar, {"zov-ar", "@args"}, {"@args"}},
  };
  char tool[] = "/d/ar";
  char plugin[] = "/e/libqel_plugin.so";
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    arg_vector v(c.args);
    int argc = v.argc();
    char **tool_argv = build_tool_argv(c.program, argc, v.get(), tool, plugin);
    int user_count = argc >= 2 ? argc - 1 : 0;
    std::vector<std::string> expected = {tool, "--plugin", plugin};
    expected.insert(expected.end(), c.user_args.begin(), c.user_args.end());
    EXPECT_EQ(strings_of(tool_argv, 3 + user_count), expected);
    // The terminator, and the spare last slot of argc + 4.
    for (int i = 3 + user_count; i <= argc + 3; ++i) EXPECT_EQ(tool_argv[i], nullptr);
    // User arguments are the program's own strings, not copies.
    for (int i = 2; i < argc; ++i) EXPECT_EQ(tool_argv[i + 2], v.get()[i]);
    if (argc >= 2 && !v.owns(v.get()[1])) free(v.get()[1]);
    free(tool_argv);
  }
}

}  // namespace
