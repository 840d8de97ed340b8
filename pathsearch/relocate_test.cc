#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathsearch/pathsearch.h"
#include "testing/files.h"

namespace {

constexpr const char kBin[] = "/usr/local/bin/";
constexpr const char kLib[] = "/usr/local/lib/zov/";

std::optional<std::string> take(char *text) {
  if (text == nullptr) return std::nullopt;
  std::string copy = text;
  free(text);
  return copy;
}

// A scratch tree, plus PATH and the current directory put back afterwards.
class RelocateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char *path = getenv("PATH")) saved_path_ = path;
    char *cwd = getcwd(nullptr, 0);
    saved_cwd_ = cwd;
    free(cwd);
  }
  void TearDown() override {
    if (saved_path_)
      setenv("PATH", saved_path_->c_str(), 1);
    else
      unsetenv("PATH");
    EXPECT_EQ(chdir(saved_cwd_.c_str()), 0);
  }

  // "@" in a text stands for the scratch root.
  std::string At(const char *text) {
    std::string out;
    for (const char *p = text; *p; p++) {
      if (*p == '@')
        out += root_;
      else
        out += *p;
    }
    return out;
  }
  // Creates every missing directory of a path below the root.
  void Dirs(const std::string &path) {
    for (size_t slash = root_.size() + 1; slash != std::string::npos;
         slash = path.find('/', slash + 1))
      mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
  }
  void File(const std::string &path, mode_t mode) {
    Dirs(path.substr(0, path.rfind('/')));
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode));
    chmod(path.c_str(), mode);
  }

  zov_test::scratch_dir scratch_;
  // Canonical, so that relocated_prefix's canonical paths match it as text.
  const std::string root_ = scratch_.path();
  std::optional<std::string> saved_path_;
  std::string saved_cwd_;
};

TEST_F(RelocateTest, RelocatedPrefixCases) {
  File(At("@/opt/x/bin/zov-ar"), 0755);
  File(At("@/opt/y/bin/zov-ar"), 0755);
  Dirs(At("@/usr/bin"));
  ASSERT_EQ(symlink(At("@/opt/x/bin/zov-ar").c_str(), At("@/usr/bin/zov-ar").c_str()), 0);
  Dirs(At("@/d1/zov-ar"));        // a directory of that name
  File(At("@/d2/zov-ar"), 0644);  // not executable
  File(At("@/cwd_with/zov-ar"), 0755);
  Dirs(At("@/cwd_without"));

  // path: PATH's value, null for unset.  cwd: where to run, null for here.
  // want: null for a null result.  "@" is the scratch root throughout.
  struct Case {
    const char *program;
    const char *want;
    bool resolve = true;
    const char *path = nullptr;
    const char *cwd = nullptr;
    const char *bin = kBin;
    const char *target = kLib;
  };
  const Case cases[] = {
      {.program = "/opt/x/bin/zov-ar", .want = "/opt/x/bin/../lib/zov/"},
      {.program = "/opt/x/bin/zov-ar",
       .want = "/opt/x/bin/../libexec/zov/",
       .target = "/usr/local/libexec/zov/"},
      {.program = "/usr/local/bin/zov-ar", .want = nullptr},
      {.program = "/a/b/c/bin/zov-ar", .want = "/a/b/c/bin/../lib/zov/"},
      {.program = "/usr/bin/zov-ar", .want = "/usr/bin/../lib/zov/", .resolve = false},
      {.program = "@/usr/bin/zov-ar", .want = "@/opt/x/bin/../lib/zov/"},
      {.program = "@/usr/bin/zov-ar", .want = "@/usr/bin/../lib/zov/", .resolve = false},
      {.program = "zov-ar", .want = "@/opt/y/bin/../lib/zov/", .path = "@/opt/y/bin:/usr/bin"},
      // A directory, then a non-executable file, are passed over.
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
      {.program = "zov-ar", .want = "../lib/zov/", .cwd = "@/cwd_without"},
      {.program = "zov-ar", .want = "../lib/zov/", .path = "@/d1:@/d2", .cwd = "@/cwd_without"},
      {.program = "/usr//local/bin/zov-ar",
       .want = "/usr//local/bin/../lib/zov/",
       .resolve = false},
      {.program = "/opt/x/bin/zov-ar", .want = "/opt/x/bin/", .target = kBin},
      {.program = "/opt/x/bin/zov-ar", .want = "/opt/x/bin/../", .target = "/usr/local/"},
      {.program = "/opt/x/bin/zov-ar", .want = nullptr, .target = "opt/zov/"},
      {.program = nullptr, .want = nullptr},
      {.program = "/opt/x/bin/zov-ar", .want = nullptr, .bin = nullptr},
      {.program = "/opt/x/bin/zov-ar", .want = nullptr, .target = nullptr},
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
                 (k.path ? At(k.path) : "(unset)") + " target=" + (k.target ? k.target : "(null)"));
    if (k.path)
      setenv("PATH", At(k.path).c_str(), 1);
    else
      unsetenv("PATH");
    ASSERT_EQ(chdir(k.cwd ? At(k.cwd).c_str() : saved_cwd_.c_str()), 0);

    const char *name = k.program ? program.c_str() : nullptr;
    auto got = take(k.resolve ? relocated_prefix(name, k.bin, k.target)
                              : relocated_prefix_unresolved(name, k.bin, k.target));
    if (k.want)
      EXPECT_EQ(got, At(k.want));
    else
      EXPECT_EQ(got, std::nullopt);

    // Several targets at once: each result is what its own call gives.
    if (k.resolve) {
      const char *targets[3] = {k.target, "/usr/local/libexec/zov/", nullptr};
      char *several[3];
      relocated_prefixes(name, k.bin, targets, 3, several);
      EXPECT_EQ(take(several[0]), got);
      EXPECT_EQ(take(several[1]), take(relocated_prefix(name, k.bin, targets[1])));
      EXPECT_EQ(take(several[2]), std::nullopt);
    }
  }
}

// The PATH search buffer is on the stack up to 4031 bytes and on the heap
// beyond.  A PATH of one entry, without a trailing '/', fills the buffer to
// the last byte, so a mis-sized buffer shows under AddressSanitizer.
TEST_F(RelocateTest, SearchBufferOnEitherSideOfTheStackLimit) {
  const std::string name = "zov-ar";
  for (size_t size : {4031u, 4032u, 4095u}) {
    // size = (length of PATH + 1) + length of name + 1
    size_t entry_length = size - name.size() - 2;
    std::string entry = root_;
    while (entry.size() < entry_length) {
      size_t left = entry_length - entry.size();
      size_t part = std::min<size_t>(200, left - 1);
      if (left - part - 1 == 1) part--;  // "/" alone cannot end it
      entry += "/" + std::string(part, 'd');
    }
    ASSERT_EQ(entry.size(), entry_length);
    SCOPED_TRACE(size);
    setenv("PATH", entry.c_str(), 1);

    // Nothing there yet: the bare name, which nothing in the cwd resolves.
    Dirs(entry);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    EXPECT_EQ(take(relocated_prefix_unresolved(name.c_str(), kBin, kLib)), "../lib/zov/");

    File(entry + "/" + name, 0755);
    EXPECT_EQ(take(relocated_prefix(name.c_str(), kBin, kLib)), entry + "/../lib/zov/");
    EXPECT_EQ(take(relocated_prefix_unresolved(name.c_str(), kBin, kLib)), entry + "/../lib/zov/");
    // Found in the configured bin directory itself.
    EXPECT_EQ(take(relocated_prefix_unresolved(name.c_str(), (entry + "/").c_str(), kLib)),
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
  };
  const Case cases[] = {
      {base_name, "/usr/local/bin/", ""},
      {base_name, "zov-ar", "zov-ar"},
      {base_name, "/opt/x/bin/zov-ar", "zov-ar"},
      {base_name, "C:a\\b", "C:a\\b"},
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
    const char *got = k.fn(k.path);
    EXPECT_EQ(got, k.path + strlen(k.path) - strlen(k.want)) << k.path;
    EXPECT_STREQ(got, k.want) << k.path;
  }
}

TEST_F(RelocateTest, ResolveRealPathOrCopy) {
  File(root_ + "/real", 0644);
  ASSERT_EQ(symlink("real", (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink("loop", (root_ + "/loop").c_str()), 0);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_EQ(take(resolve_real_path("link")), root_ + "/real");
  EXPECT_EQ(take(resolve_real_path(".//link")), root_ + "/real");
  EXPECT_EQ(take(resolve_real_path("missing/x")), "missing/x");
  EXPECT_EQ(take(resolve_real_path("loop")), "loop");
  EXPECT_EQ(take(resolve_real_path("")), "");
}

}  // namespace

namespace {

// program_along_path finds what relocated_prefix would relocate from, and
// says so when PATH cannot place the name (null), where relocated_prefix
// falls back to the bare name.
TEST_F(RelocateTest, ProgramAlongPath) {
  File(At("@/a/zov-ar"), 0644);  // not executable: passed over
  File(At("@/b/zov-ar"), 0755);
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
      {"", "@/c", nullptr},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.path ? k.path : "(unset)");
    if (k.path != nullptr)
      setenv("PATH", At(k.path).c_str(), 1);
    else
      unsetenv("PATH");
    ASSERT_EQ(chdir(At(k.cwd).c_str()), 0);
    std::optional<std::string> found = take(program_along_path("zov-ar"));
    if (k.found == nullptr)
      EXPECT_EQ(found, std::nullopt);
    else
      EXPECT_EQ(found, At(k.found));
  }
}

}  // namespace

// resolve_real_path settles link-free absolute paths itself and leaves the
// rest to realpath: either way the answer must be realpath's, or the copy
// of the argument where realpath fails.
TEST_F(RelocateTest, ResolveRealPathAgreesWithRealpath) {
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
