// What Windows adds to path search and relocation: drive letters and UNC
// names, '\\' beside '/', full paths in place of realpath (no link is
// followed), and directory names that compare without regard to case.
// (POSIX's counterpart, symbolic links, is path_links_posix_test.cc.)

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathsearch/path_test_fixture.h"
#include "pathsearch/pathsearch.h"

namespace {

using zov_test::take;
using PathDrives = zov_test::PathTest;

TEST_F(PathDrives, ResolveGivesTheFullPath) {
  zov_test::change_dir(root_);
  struct {
    const char *path;
    const char *want;  // "@" is the scratch root, the working directory
  } cases[] = {
      {"C:\\a\\.\\b\\..\\c/d", "C:\\a\\c\\d"},
      {"c:/x//y/", "c:\\x\\y\\"},
      {"\\\\server\\share\\a\\..\\b", "\\\\server\\share\\b"},
      {"sub\\tool.exe", "@\\sub\\tool.exe"},  // need not exist
      {".\\x\\..\\y", "@\\y"},
      {"", ""},  // no full path: the copy
  };
  for (const auto &k : cases) EXPECT_EQ(take(resolve_real_path(k.path)), At(k.want)) << k.path;
}

TEST(PathDrivesSplit, EitherSeparatorEndsAComponent) {
  struct {
    const char *path;
    std::vector<std::string> want;
  } cases[] = {
      {"C:\\tc\\bin\\", {"C:\\", "tc\\", "bin\\"}},
      {"\\\\server\\share\\x", {"\\\\", "server\\", "share\\", "x"}},
      {"a/\\b\\/c", {"a/\\", "b\\/", "c"}},
  };
  for (const auto &k : cases) {
    char **components = split_path_components(k.path, nullptr);
    ASSERT_NE(components, nullptr) << k.path;
    std::vector<std::string> got;
    for (char **c = components; *c != nullptr; c++) got.push_back(*c);
    EXPECT_EQ(got, k.want) << k.path;
    free_path_components(components);
  }
}

// Relocation compares the program's directory with the configured bin
// directory, and the configured directories with each other, as Windows
// compares names: 'C:\Tools\BIN\' is 'c:/tools/bin/'.
TEST_F(PathDrives, RelocationByWindowsNames) {
  struct {
    const char *program;
    bool resolve;
    const char *bin;
    const char *target;
    const char *want;  // null: no relocation
  } cases[] = {
      {"C:\\Tools\\BIN\\zov-ar.exe", false, "c:/tools/bin/", "c:/tools/lib/zov/", nullptr},
      {"C:/Tools/BIN/zov-ar.exe", true, "c:\\tools\\bin\\", "c:\\tools\\lib\\zov\\", nullptr},
      {"D:\\tc\\bin\\zov-ar.exe", false, "C:/zov/bin/", "C:/zov/lib/zov/",
       "D:\\tc\\bin\\../lib/zov/"},
      {"D:/tc/bin/zov-ar.exe", true, "C:/zov/bin/", "C:/zov/lib/zov/", "D:\\tc\\bin\\../lib/zov/"},
      // Shared without regard to case: up one, not up to the drive.
      {"D:\\tc\\bin\\zov-ar.exe", false, "C:/ZOV/bin/", "c:/zov/libexec/",
       "D:\\tc\\bin\\../libexec/"},
      // Different drives share no component.
      {"D:\\tc\\bin\\zov-ar.exe", false, "C:/zov/bin/", "E:/zov/lib/", nullptr},
      {"\\\\srv\\tc\\bin\\zov-ar.exe", false, "C:/zov/bin/", "C:/zov/lib/",
       "\\\\srv\\tc\\bin\\../lib/"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(std::string(k.program) + " bin=" + k.bin + " target=" + k.target);
    auto got = take(k.resolve ? relocated_prefix(k.program, k.bin, k.target)
                              : relocated_prefix_unresolved(k.program, k.bin, k.target));
    EXPECT_EQ(got, k.want ? std::optional<std::string>(k.want) : std::nullopt);
  }
}

// Along a PATH of Windows names: ';' between entries, a name found with
// ".exe", an entry that ends in '\\' taken as it stands.
TEST_F(PathDrives, RelocationAlongWindowsPath) {
  Program(root_ + "\\tc\\bin\\zov-ar");
  ASSERT_TRUE(zov_test::set_env("PATH", "C:\\nonexistent;" + root_ + "\\tc\\bin\\"));
  EXPECT_EQ(take(relocated_prefix_unresolved("zov-ar", "C:/zov/bin/", "C:/zov/lib/")),
            root_ + "\\tc\\bin\\../lib/");
  EXPECT_EQ(take(program_along_path("ZOV-AR.EXE")), root_ + "\\tc\\bin\\ZOV-AR.EXE");
}

}  // namespace
