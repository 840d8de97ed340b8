// The host's path rules: separators, absolute names, the PATH separator,
// the program suffix and the comparison relocation uses.  Each host checks
// its own table (POSIX on Linux, Windows under Wine).

#include "pathsearch/path_rules.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

bool host_is_windows() { return path_list_separator == ';'; }

struct absolute_case {
  const char *path;
  bool posix;
  bool windows;
};

const absolute_case absolute_cases[] = {
    {"/usr/bin", true, true},  // rooted on the current drive on Windows
    {"C:\\Users", false, true},
    {"C:/Users", false, true},
    {"c:\\x", false, true},
    {"C:x", false, false},  // drive C's working directory
    {"1:\\x", false, false},
    {"\\\\server\\share\\f", false, true},
    {"\\x", false, true},
    {"bin/zov-ar", false, false},
    {"", false, false},
    {"./x", false, false},
};

TEST(PathRules, AbsoluteNames) {
  for (const absolute_case &c : absolute_cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(path_is_absolute(c.path), host_is_windows() ? c.windows : c.posix);
  }
}

TEST(PathRules, Separators) {
  EXPECT_TRUE(path_is_separator('/'));
  EXPECT_EQ(path_is_separator('\\'), host_is_windows());
  EXPECT_FALSE(path_is_separator(':'));
  EXPECT_EQ(path_has_separator("a\\b"), host_is_windows());
  EXPECT_TRUE(path_has_separator("a/b"));
  EXPECT_FALSE(path_has_separator("zov-ar"));
  EXPECT_EQ(path_ends_with_separator("C:\\tc\\"), host_is_windows());
  EXPECT_EQ(path_list_separator, host_is_windows() ? ';' : ':');
}

TEST(PathRules, DirectoryNamesCompare) {
  EXPECT_TRUE(path_texts_equal("/usr/bin/", "/usr/bin/", 9));
  EXPECT_EQ(path_texts_equal("C:\\Tools\\BIN\\", "c:/tools/bin/", 13), host_is_windows());
  EXPECT_FALSE(path_texts_equal("C:\\tools\\bin\\", "C:\\tools\\bim\\", 13));
  EXPECT_FALSE(path_texts_equal("a/", "a-", 2));
}

TEST(PathRules, ProgramFileNames) {
  struct program_case {
    const char *name;
    const char *posix;
    const char *windows;
  } cases[] = {
      {"nm", "nm", "nm.exe"},
      {"mips64-unknown-freebsd14.0-nm", "mips64-unknown-freebsd14.0-nm",
       "mips64-unknown-freebsd14.0-nm.exe"},
      {"nm.exe", "nm.exe", "nm.exe"},
      {"NM.EXE", "NM.EXE", "NM.EXE"},
      {"a.ex", "a.ex", "a.ex.exe"},
  };
  for (const program_case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(path_program_file_name(c.name), host_is_windows() ? c.windows : c.posix);
  }
}

}  // namespace
