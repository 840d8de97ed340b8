#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathsearch/pathsearch.h"
#include "testing/files.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

std::vector<std::string> prefixes(const search_path &list) {
  std::vector<std::string> texts;
  for (search_dir *d = list.head; d != nullptr; d = d->next_dir) texts.push_back(d->dir_text);
  return texts;
}

// Lists are never freed by the program; the tests free theirs so that
// LeakSanitizer keeps watching everything else.
void free_list(search_path *list) {
  while (search_dir *d = list->head) {
    list->head = d->next_dir;
    free(d->dir_text);
    free(d);
  }
  list->longest_len = 0;
}

class SearchPathTest : public ::testing::Test {
 protected:
  void TearDown() override {
    search_path_set_trace(false);
    free_list(&list_);
  }

  std::string Dir(const std::string &name) {
    std::string path = root_ + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
  }
  std::string File(const std::string &name, mode_t mode) {
    std::string path = root_ + "/" + name;
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode));
    chmod(path.c_str(), mode);
    return path;
  }
  // search_path_find's result as a string ("" for null), freed.
  std::string Find(const char *name, int mode) {
    char *found = search_path_find(&list_, name, mode);
    std::string text = found ? found : "";
    free(found);
    return text;
  }

  zov_test::scratch_dir scratch_;
  const std::string root_ = scratch_.path();
  search_path list_{};
};

TEST_F(SearchPathTest, AbsoluteNamesAreCheckedAloneWithTheirTrace) {
  const std::string missing = root_ + "/missing";
  search_path_set_trace(true);

  CaptureStderr();
  EXPECT_EQ(Find("tool", X_OK), "");
  EXPECT_EQ(GetCapturedStderr(), "Looking for 'tool'\n  - failed: no entries in prefix list\n");

  CaptureStderr();
  EXPECT_EQ(Find(missing.c_str(), F_OK), "");
  EXPECT_EQ(GetCapturedStderr(), "Looking for '" + missing +
                                     "'\n  - failed to locate using absolute path\n"
                                     "  - failed: no entries in prefix list\n");

  // A directory passes: access alone decides for an absolute name.
  CaptureStderr();
  EXPECT_EQ(Find(root_.c_str(), X_OK), root_);
  EXPECT_EQ(GetCapturedStderr(), "Looking for '" + root_ + "'\n  - found: absolute path\n");

  // With entries, the no-entries line is left out.
  search_path_append(&list_, (root_ + "/").c_str());
  const std::string gone = root_ + "/gone";
  CaptureStderr();
  EXPECT_EQ(Find(gone.c_str(), F_OK), "");
  EXPECT_EQ(GetCapturedStderr(),
            "Looking for '" + gone + "'\n  - failed to locate using absolute path\n");
}

TEST_F(SearchPathTest, RelativeNamesTakeTheFirstAcceptableCandidate) {
  Dir("d1");
  Dir("d1/tool");  // a directory: never accepted
  Dir("d2");
  File("d2/tool", 0644);  // readable but not executable
  Dir("d3");
  const std::string d3_tool = File("d3/tool", 0755);
  Dir("d4");
  const std::string d4_tool = File("d4/tool", 0755);
  for (const char *d : {"/d1/", "/d2/", "/d3/", "/d4/"})
    search_path_append(&list_, (root_ + d).c_str());

  search_path_set_trace(true);
  CaptureStderr();
  EXPECT_EQ(Find("tool", X_OK), d3_tool);
  EXPECT_EQ(GetCapturedStderr(), "Looking for 'tool'\n") << "success is silent";
  search_path_set_trace(false);

  EXPECT_EQ(Find("tool", R_OK), root_ + "/d2/tool") << "the mode decides";
  search_path_prepend(&list_, (root_ + "/d4/").c_str());
  EXPECT_EQ(Find("tool", X_OK), d4_tool) << "a prepended prefix is tried first";
  EXPECT_EQ(Find("absent", F_OK), "");
}

TEST_F(SearchPathTest, NamesWithDirectoriesAndLinks) {
  Dir("sub");
  const std::string tool = File("sub/tool", 0755);
  ASSERT_EQ(symlink(tool.c_str(), (root_ + "/link").c_str()), 0);
  ASSERT_EQ(symlink((root_ + "/nowhere").c_str(), (root_ + "/dangling").c_str()), 0);
  search_path_append(&list_, (root_ + "/").c_str());

  EXPECT_EQ(Find("sub/tool", X_OK), tool);
  EXPECT_EQ(Find("link", X_OK), root_ + "/link");
  EXPECT_EQ(Find("dangling", F_OK), "");

  // An empty prefix leaves the name relative to the current directory.
  char *cwd = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  search_path_prepend(&list_, "");
  EXPECT_EQ(Find("sub/tool", X_OK), "sub/tool");
  ASSERT_EQ(chdir(cwd), 0);
  free(cwd);
}

TEST_F(SearchPathTest, AddsCopyTextUnchangedAndTrackTheLongest) {
  char text[] = "a/";
  search_path_append(&list_, text);
  text[0] = 'z';
  search_path_append(&list_, "/usr/local/bin/");
  search_path_append(&list_, "no-slash");
  search_path_prepend(&list_, "");
  EXPECT_EQ(prefixes(list_), (std::vector<std::string>{"", "a/", "/usr/local/bin/", "no-slash"}));
  EXPECT_EQ(list_.longest_len, 15);
}

TEST_F(SearchPathTest, FromStringAddsEveryComponent) {
  struct Case {
    const char *text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"", {"./"}},
      {"/a:b/:", {"/a/", "b/", "./"}},
      {":x::/", {"./", "x/", "./", "/"}},
      {"/usr/bin:/usr/bin", {"/usr/bin/", "/usr/bin/"}},
  };
  for (const Case &k : cases) {
    search_path list{};
    search_path_from_string(k.text, &list);
    EXPECT_EQ(prefixes(list), k.want) << "'" << k.text << "'";
    free_list(&list);
  }

  search_path_set_trace(true);
  CaptureStderr();
  search_path_from_string("/a:b/:", &list_);
  EXPECT_EQ(GetCapturedStderr(),
            "Convert string '/a:b/:' into prefixes, separator = ':'\n"
            "  - add prefix: /a/\n  - add prefix: b/\n  - add prefix: ./\n");
  EXPECT_EQ(list_.longest_len, 3);
}

TEST_F(SearchPathTest, FromEnvIgnoresAnUnsetVariable) {
  const char *var = "ZOV_SEARCH_PATH_TEST_VAR";
  unsetenv(var);
  search_path_set_trace(true);
  CaptureStderr();
  search_path_from_env(var, &list_);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(list_.head, nullptr);

  setenv(var, "", 1);
  search_path_set_trace(false);
  search_path_from_env(var, &list_);
  EXPECT_EQ(prefixes(list_), std::vector<std::string>{"./"});
  unsetenv(var);
}

TEST_F(SearchPathTest, TraceOffPrintsNothing) {
  CaptureStderr();
  search_path_from_string("/x:", &list_);
  search_path_prepend(&list_, "/y/");
  EXPECT_EQ(Find("nothing-here", F_OK), "");
  EXPECT_EQ(Find("/nothing/here", F_OK), "");
  search_path list{};
  EXPECT_EQ(search_path_find(&list, "x", F_OK), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "");
}

}  // namespace

namespace {

// The running program itself (here: this test) is passed over by
// search_path_find_not_self, like a missing file, and the search goes on;
// search_path_find takes it.
TEST_F(SearchPathTest, NotSelfPassesOverTheRunningProgram) {
  char *own = running_program_path();
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";
  std::string self = own;
  free(own);
  Dir("self");
  Dir("other");
  ASSERT_EQ(symlink(self.c_str(), (root_ + "/self/tool").c_str()), 0);
  const std::string other = File("other/tool", 0755);
  search_path_append(&list_, (root_ + "/self/").c_str());

  auto find_not_self = [&] {
    char *found = search_path_find_not_self(&list_, "tool", X_OK);
    std::string text = found ? found : "";
    free(found);
    return text;
  };
  EXPECT_EQ(find_not_self(), "");
  EXPECT_EQ(Find("tool", X_OK), root_ + "/self/tool");

  search_path_append(&list_, (root_ + "/other/").c_str());
  search_path_set_trace(true);
  CaptureStderr();
  EXPECT_EQ(find_not_self(), other);
  EXPECT_EQ(GetCapturedStderr(), "Looking for 'tool'\n  - passed over: " + root_ +
                                     "/self/tool is this program itself\n");
}

}  // namespace
