#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathsearch/path_test_fixture.h"
#include "pathsearch/pathsearch.h"

namespace {

using zov_test::host_is_windows;
using zov_test::same_separators;
using zov_test::take;

constexpr const char kBin[] = "@/usr/local/bin/";
constexpr const char kLib[] = "@/usr/local/lib/zov/";

using RelocateTest = zov_test::PathTest;

TEST_F(RelocateTest, RelocatedPrefixCases) {
  Program(At("@/opt/x/bin/zov-ar"));
  Program(At("@/opt/y/bin/zov-ar"));
  Dirs(At("@/d1/zov-ar") + host_program_suffix);  // a directory of that name
  NotProgram(At("@/d2/zov-ar"));
  Program(At("@/cwd_with/zov-ar"));
  Dirs(At("@/cwd_without"));

  // path: PATH's value, null for unset.  cwd: where to run, null for here.
  // want: null for a null result.  "@" is the scratch root throughout.
  // want_windows: where Windows gives another text for the same place (its
  // full-path call makes a bare name absolute, where realpath keeps a
  // missing one as it is).
  struct Case {
    const char *program;
    const char *want;
    bool resolve = true;
    const char *path = nullptr;
    const char *cwd = nullptr;
    const char *bin = kBin;
    const char *target = kLib;
    const char *want_windows = nullptr;
  };
  const Case cases[] = {
      {.program = "@/opt/x/bin/zov-ar", .want = "@/opt/x/bin/../lib/zov/"},
      {.program = "@/opt/x/bin/zov-ar",
       .want = "@/opt/x/bin/../libexec/zov/",
       .target = "@/usr/local/libexec/zov/"},
      {.program = "@/usr/local/bin/zov-ar", .want = nullptr},
      {.program = "@/a/b/c/bin/zov-ar", .want = "@/a/b/c/bin/../lib/zov/"},
      {.program = "@/usr/bin/zov-ar", .want = "@/usr/bin/../lib/zov/", .resolve = false},
      {.program = "zov-ar", .want = "@/opt/y/bin/../lib/zov/", .path = "@/opt/y/bin:@/usr/bin"},
      // A directory, then a file that is no program, are passed over.
      {.program = "zov-ar",
       .want = "@/opt/y/bin/../lib/zov/",
       .path = "@/d1:@/d2/:@/opt/y/bin/:@/opt/x/bin"},
      {.program = "zov-ar",
       .want = "./../lib/zov/",
       .resolve = false,
       .path = "",
       .cwd = "@/cwd_with"},
      {.program = "zov-ar",
       .want = "./../lib/zov/",
       .resolve = false,
       .path = "@/d1::@/opt/y/bin",
       .cwd = "@/cwd_with"},
      {.program = "zov-ar",
       .want = "@/cwd_with/../lib/zov/",
       .path = "@/d1::@/opt/y/bin",
       .cwd = "@/cwd_with"},
      {.program = "zov-ar",
       .want = "../lib/zov/",
       .cwd = "@/cwd_without",
       .want_windows = "@/cwd_without/../lib/zov/"},
      {.program = "zov-ar",
       .want = "../lib/zov/",
       .path = "@/d1:@/d2",
       .cwd = "@/cwd_without",
       .want_windows = "@/cwd_without/../lib/zov/"},
      {.program = "@/usr//local/bin/zov-ar",
       .want = "@/usr//local/bin/../lib/zov/",
       .resolve = false},
      {.program = "@/opt/x/bin/zov-ar", .want = "@/opt/x/bin/", .target = kBin},
      {.program = "@/opt/x/bin/zov-ar", .want = "@/opt/x/bin/../", .target = "@/usr/local/"},
      {.program = "@/opt/x/bin/zov-ar", .want = nullptr, .target = "opt/zov/"},
      {.program = nullptr, .want = nullptr},
      {.program = "@/opt/x/bin/zov-ar", .want = nullptr, .bin = nullptr},
      {.program = "@/opt/x/bin/zov-ar", .want = nullptr, .target = nullptr},
      // An empty name locates nothing, with or without a PATH search.
      {.program = "", .want = nullptr, .cwd = "@/cwd_with"},
      {.program = "",
       .want = nullptr,
       .resolve = false,
       .path = "@/opt/y/bin::",
       .cwd = "@/cwd_with"},
  };

  for (const Case &k : cases) {
    std::string program = k.program ? At(k.program) : "(null)";
    SCOPED_TRACE(program + (k.resolve ? "" : " unresolved") + " PATH=" +
                 (k.path ? AtList(k.path) : "(unset)") +
                 " target=" + (k.target ? k.target : "(null)"));
    if (!SetPath(k.path)) {
      printf("Passed over here: PATH=%s (Windows' C runtime cannot hold an empty value)\n",
             k.path);
      continue;
    }
    zov_test::change_dir(k.cwd ? At(k.cwd) : saved_cwd_);

    const char *name = k.program ? program.c_str() : nullptr;
    const std::string bin = k.bin ? At(k.bin) : "";
    const char *bin_dir = k.bin ? bin.c_str() : nullptr;
    const std::string target = k.target ? At(k.target) : "";
    const char *target_dir = k.target ? target.c_str() : nullptr;
    auto got = take(k.resolve ? relocated_prefix(name, bin_dir, target_dir)
                              : relocated_prefix_unresolved(name, bin_dir, target_dir));
    const char *want = host_is_windows() && k.want_windows ? k.want_windows : k.want;
    if (want)
      EXPECT_EQ(same_separators(got), same_separators(At(want)));
    else
      EXPECT_EQ(got, std::nullopt);

    // Several targets at once: each result is what its own call gives.
    if (k.resolve) {
      const std::string libexec = At("@/usr/local/libexec/zov/");
      const char *targets[3] = {target_dir, libexec.c_str(), nullptr};
      char *several[3];
      relocated_prefixes(name, bin_dir, targets, 3, several);
      EXPECT_EQ(take(several[0]), got);
      EXPECT_EQ(take(several[1]), take(relocated_prefix(name, bin_dir, targets[1])));
      EXPECT_EQ(take(several[2]), std::nullopt);
    }
  }
}

// The PATH search buffer is on the stack up to 4031 bytes and on the heap
// beyond.  A PATH of one entry, without a trailing '/', fills the buffer to
// the last byte, so a mis-sized buffer shows under AddressSanitizer.  The
// entry is long text for a short path ("x/../" again and again): Wine
// would reach a directory that deep through a Unix name over PATH_MAX.
TEST_F(RelocateTest, SearchBufferOnEitherSideOfTheStackLimit) {
  const std::string name = std::string("zov-ar") + host_program_suffix;
  const std::string lib = At(kLib);
  const std::string bin = At(kBin);
  Dirs(root_ + "/x");
  for (size_t size : {4031u, 4032u, 4095u}) {
    // size = (length of PATH + 1) + length of name + 1
    size_t entry_length = size - name.size() - 2;
    size_t rest = entry_length - root_.size() - 1;
    size_t hops = (rest - 1) / 5;
    const std::string dir = std::string(rest - 5 * hops, 'd');
    std::string entry = root_ + "/";
    for (size_t i = 0; i < hops; i++) entry += "x/../";
    entry += dir;
    ASSERT_EQ(entry.size(), entry_length);
    SCOPED_TRACE(size);
    zov_test::set_env("PATH", entry);

    // Nothing there yet: the bare name, which nothing in the cwd resolves.
    Dirs(root_ + "/" + dir);
    zov_test::change_dir(root_);
    EXPECT_EQ(take(relocated_prefix_unresolved("zov-ar", bin.c_str(), lib.c_str())),
              "../lib/zov/");

    File(root_ + "/" + dir + "/" + name, 0755);
    EXPECT_EQ(same_separators(take(relocated_prefix("zov-ar", bin.c_str(), lib.c_str()))),
              same_separators(root_ + "/" + dir + "/../lib/zov/"));
    EXPECT_EQ(take(relocated_prefix_unresolved("zov-ar", bin.c_str(), lib.c_str())),
              entry + "/../lib/zov/");
    // Found in the configured bin directory itself.
    EXPECT_EQ(take(relocated_prefix_unresolved("zov-ar", (entry + "/").c_str(), lib.c_str())),
              std::nullopt);
  }
}

TEST(SplitPathComponents, Examples) {
  struct Case {
    const char *path;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"/usr/local/bin/", {"/", "usr/", "local/", "bin/"}},
      {"/opt/x/bin/zov-ar", {"/", "opt/", "x/", "bin/", "zov-ar"}},
      {"//a//b", {"//", "a//", "b"}},
      {"a/b", {"a/", "b"}},
      {"/", {"/"}},
      {"zov-ar", {"zov-ar"}},
      {"a///", {"a///"}},
      {"", {}},  // joining no components gives "" back
  };
  for (const Case &k : cases) {
    int32_t count = -1;
    char **components = split_path_components(k.path, &count);
    ASSERT_NE(components, nullptr) << k.path;
    std::vector<std::string> got;
    for (char **c = components; *c != nullptr; c++) got.push_back(*c);
    EXPECT_EQ(got, k.want) << "'" << k.path << "'";
    EXPECT_EQ(count, (int32_t)k.want.size()) << "'" << k.path << "'";
    free_path_components(components);
  }
  // The count is optional.
  free_path_components(split_path_components("/a/b", nullptr));
  free_path_components(nullptr);
}

TEST(BaseName, Examples) {
  using base_fn = const char *(*)(const char *);
  struct Case {
    base_fn fn;
    const char *path;
    const char *want;  // the tail of path the result must point at
    const char *want_windows = nullptr;  // where the host's base_name differs
  };
  const Case cases[] = {
      {base_name, "/usr/local/bin/", ""},
      {base_name, "zov-ar", "zov-ar"},
      {base_name, "/opt/x/bin/zov-ar", "zov-ar"},
      {base_name, "C:a\\b", "C:a\\b", "b"},
      {base_name, "C:\\tc\\bin\\zov-ar.exe", "C:\\tc\\bin\\zov-ar.exe", "zov-ar.exe"},
      {base_name, "a\\b/c", "c"},
      {base_name_posix, "/usr/local/bin/", ""},
      {base_name_posix, "x/y", "y"},
      {base_name_dos, "C:zov", "zov"},
      {base_name_dos, "C:", ""},
      {base_name_dos, "1:x", "1:x"},
      {base_name_dos, "a\\b/c", "c"},
      {base_name_dos, "a/b\\c", "c"},
      {base_name_dos, "z:\\dir\\f.o", "f.o"},
      {base_name_dos, "\xC3\x89:x", "\xC3\x89:x"},  // no ASCII letter, no drive
  };
  for (const Case &k : cases) {
    const char *want = host_is_windows() && k.want_windows ? k.want_windows : k.want;
    const char *got = k.fn(k.path);
    EXPECT_EQ(got, k.path + strlen(k.path) - strlen(want)) << k.path;
    EXPECT_STREQ(got, want) << k.path;
  }
}

// program_along_path finds what relocated_prefix would relocate from, and
// says so when PATH cannot place the name (null), where relocated_prefix
// falls back to the bare name.
TEST_F(RelocateTest, ProgramAlongPath) {
  NotProgram(At("@/a/zov-ar"));  // passed over
  Program(At("@/b/zov-ar"));
  Dirs(At("@/c"));
  struct {
    const char *path;  // null: PATH unset
    const char *cwd;
    const char *found;  // null: not placed
  } cases[] = {
      {nullptr, "@/b", nullptr},
      {"@/a:@/b", "@", "@/b/zov-ar"},
      {"@/a", "@", nullptr},
      {"@/c:", "@/b", "./zov-ar"},
      {"", "@/c", nullptr},  // on Windows, where it cannot be empty: unset
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.path ? k.path : "(unset)");
    SetPath(k.path);
    zov_test::change_dir(At(k.cwd));
    std::optional<std::string> found = take(program_along_path("zov-ar"));
    if (k.found == nullptr)
      EXPECT_EQ(found, std::nullopt);
    else
      EXPECT_EQ(found, At(k.found) + host_program_suffix);
  }
}

}  // namespace
