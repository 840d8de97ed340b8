// What POSIX file systems add to path search and relocation: symbolic
// links, followed where the program is resolved and kept where it is not,
// and realpath's answers.  (Windows' counterpart, drives and full paths,
// is path_drives_windows_test.cc.)

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "pathsearch/path_test_fixture.h"
#include "pathsearch/pathsearch.h"

namespace {

using zov_test::take;
using PathLinks = zov_test::PathTest;

TEST_F(PathLinks, SearchTakesLinksToFilesAndNotDanglingOnes) {
  File(root_ + "/sub/tool", 0755);
  ASSERT_EQ(symlink((root_ + "/sub/tool").c_str(), (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink((root_ + "/nowhere").c_str(), (root_ + "/dangling").c_str()), 0);
  search_path list{};
  search_path_append(&list, (root_ + "/").c_str());
  EXPECT_EQ(take(search_path_find(&list, "link", X_OK)), root_ + "/link");
  EXPECT_EQ(take(search_path_find(&list, "dangling", F_OK)), std::nullopt);

  // A link to the running program is the running program.
  char *own = running_program_path();
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";
  ASSERT_EQ(symlink(own, (root_ + "/self").c_str()), 0);
  free(own);
  EXPECT_EQ(take(search_path_find_not_self(&list, "self", X_OK)), std::nullopt);
  EXPECT_EQ(take(search_path_find(&list, "self", X_OK)), root_ + "/self");
  free(list.head->dir_text);
  free(list.head);
}

// A program reached through a link relocates from where the link leads,
// unless asked not to resolve.
TEST_F(PathLinks, RelocationFollowsLinksOnlyWhenResolving) {
  Program(root_ + "/opt/x/bin/zov-ar");
  Dirs(root_ + "/usr/bin");
  ASSERT_EQ(symlink((root_ + "/opt/x/bin/zov-ar").c_str(), (root_ + "/usr/bin/zov-ar").c_str()), 0);
  const std::string bin = At("@/usr/local/bin/");
  const std::string lib = At("@/usr/local/lib/zov/");
  const std::string program = At("@/usr/bin/zov-ar");
  EXPECT_EQ(take(relocated_prefix(program.c_str(), bin.c_str(), lib.c_str())),
            At("@/opt/x/bin/../lib/zov/"));
  EXPECT_EQ(take(relocated_prefix_unresolved(program.c_str(), bin.c_str(), lib.c_str())),
            At("@/usr/bin/../lib/zov/"));
  // Along PATH too: the link is found, then followed.
  zov_test::set_env("PATH", At("@/usr/bin"));
  EXPECT_EQ(take(relocated_prefix("zov-ar", bin.c_str(), lib.c_str())),
            At("@/opt/x/bin/../lib/zov/"));
}

TEST_F(PathLinks, ResolveRealPathOrCopy) {
  File(root_ + "/real", 0644);
  ASSERT_EQ(symlink("real", (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink("loop", (root_ + "/loop").c_str()), 0);
  zov_test::change_dir(root_);
  EXPECT_EQ(take(resolve_real_path("link")), root_ + "/real");
  EXPECT_EQ(take(resolve_real_path(".//link")), root_ + "/real");
  EXPECT_EQ(take(resolve_real_path("missing/x")), "missing/x");
  EXPECT_EQ(take(resolve_real_path("loop")), "loop");
  EXPECT_EQ(take(resolve_real_path("")), "");
}


// resolve_real_path settles link-free absolute paths itself and leaves the
// rest to realpath: either way the answer must be realpath's, or the copy
// of the argument where realpath fails.
TEST_F(PathLinks, ResolveRealPathAgreesWithRealpath) {
  ASSERT_EQ(mkdir((root_ + "/d").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root_ + "/d/e").c_str(), 0755), 0);
  File(root_ + "/d/f", 0755);
  ASSERT_EQ(symlink("d", (root_ + "/dl").c_str()), 0);
  ASSERT_EQ(symlink("f", (root_ + "/d/fl").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (root_ + "/d/dangling").c_str()), 0);
  const char *cases[] = {
      "@/d/f",         // link-free file
      "@//d///f",      // runs of '/'
      "@/d/e",         // a directory
      "@/d/e/",        // a directory with a trailing '/'
      "@/d/f/",        // a file with a trailing '/': not a directory
      "@/d/f/x",       // a file where a directory belongs
      "@/d/missing",   // no such file
      "@/missing/f",   // no such directory
      "@/dl/f",        // a link in the middle
      "@/d/fl",        // a link at the end
      "@/d/dangling",  // a link to nothing
      "@/d/./f",       // "."
      "@/d/e/../f",    // ".."
      "@/d/f/..",      // ".." after a file
      "@/d/.hidden",   // a name that starts with a dot, missing
      "@/d/...",       // "..." is a name, missing
      "/",             // the root
      "//",
  };
  for (const char *text : cases) {
    std::string path = At(text);
    char *expected = realpath(path.c_str(), nullptr);
    std::string want = expected != nullptr ? expected : path;
    free(expected);
    EXPECT_EQ(take(resolve_real_path(path.c_str())), want) << path;
  }
}

}  // namespace
