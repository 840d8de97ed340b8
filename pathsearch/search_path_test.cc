#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pathsearch/path_rules.h"
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
    zov_test::make_dirs(path);
    return path;
  }
  std::string File(const std::string &name, int mode) {
    std::string path = root_ + "/" + name;
    zov_test::write_file(path, "", mode);
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

bool host_is_windows() { return path_list_separator == ';'; }

// A file the access mode refuses, and that mode: one without execute
// permission on POSIX; on Windows, which has no execute bit (any file
// passes X_OK), a read-only one asked for writing.
struct refusal {
  int file_mode;
  int asked;
};
refusal host_refusal() { return host_is_windows() ? refusal{0444, W_OK} : refusal{0644, X_OK}; }

// The texts below are written with ':' between PATH entries; the host's
// separator takes its place.
std::string with_host_separator(std::string text) {
  for (char &c : text)
    if (c == ':') c = path_list_separator;
  return text;
}

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
  const refusal refused = host_refusal();
  Dir("d1/tool");                         // a directory: never accepted
  File("d2/tool", refused.file_mode);  // there, but refused the mode
  const std::string d3_tool = File("d3/tool", 0755);
  const std::string d4_tool = File("d4/tool", 0755);
  for (const char *d : {"/d1/", "/d2/", "/d3/", "/d4/"})
    search_path_append(&list_, (root_ + d).c_str());

  search_path_set_trace(true);
  CaptureStderr();
  EXPECT_EQ(Find("tool", refused.asked), d3_tool);
  EXPECT_EQ(GetCapturedStderr(), "Looking for 'tool'\n") << "success is silent";
  search_path_set_trace(false);

  EXPECT_EQ(Find("tool", R_OK), root_ + "/d2/tool") << "the mode decides";
  search_path_prepend(&list_, (root_ + "/d4/").c_str());
  EXPECT_EQ(Find("tool", refused.asked), d4_tool) << "a prepended prefix is tried first";
  EXPECT_EQ(Find("absent", F_OK), "");
}

TEST_F(SearchPathTest, NamesWithDirectories) {
  const std::string tool = File("sub/tool", 0755);
  search_path_append(&list_, (root_ + "/").c_str());
  EXPECT_EQ(Find("sub/tool", X_OK), tool);

  // An empty prefix leaves the name relative to the current directory.
  const std::string cwd = zov_test::current_dir();
  zov_test::change_dir(root_);
  search_path_prepend(&list_, "");
  EXPECT_EQ(Find("sub/tool", X_OK), "sub/tool");
  zov_test::change_dir(cwd);
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
    const std::string text = with_host_separator(k.text);
    search_path list{};
    search_path_from_string(text.c_str(), &list);
    EXPECT_EQ(prefixes(list), k.want) << "'" << text << "'";
    free_list(&list);
  }
  // Windows: a component that ends in '\\' is a directory already.
  if (host_is_windows()) {
    search_path list{};
    search_path_from_string("C:\\tc\\bin\\;C:\\tc\\lib", &list);
    EXPECT_EQ(prefixes(list), (std::vector<std::string>{"C:\\tc\\bin\\", "C:\\tc\\lib/"}));
    free_list(&list);
  }

  search_path_set_trace(true);
  CaptureStderr();
  search_path_from_string(with_host_separator("/a:b/:").c_str(), &list_);
  EXPECT_EQ(GetCapturedStderr(),
            with_host_separator("Convert string '/a:b/:' into prefixes, separator = ':'\n") +
                "  - add prefix: /a/\n  - add prefix: b/\n  - add prefix: ./\n");
  EXPECT_EQ(list_.longest_len, 3);
}

TEST_F(SearchPathTest, FromEnvIgnoresAnUnsetVariable) {
  const char *var = "ZOV_SEARCH_PATH_TEST_VAR";
  zov_test::unset_env(var);
  search_path_set_trace(true);
  CaptureStderr();
  search_path_from_env(var, &list_);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(list_.head, nullptr);

  // Set but empty: the current directory.
  if (!zov_test::set_env(var, "")) {
    printf("An empty variable cannot be set here (Windows' C runtime removes it instead).\n");
    return;
  }
  search_path_set_trace(false);
  search_path_from_env(var, &list_);
  EXPECT_EQ(prefixes(list_), std::vector<std::string>{"./"});
  zov_test::unset_env(var);
}

TEST_F(SearchPathTest, TraceOffPrintsNothing) {
  CaptureStderr();
  search_path_from_string(with_host_separator("/x:").c_str(), &list_);
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
// search_path_find takes it.  The test's own directory is the first entry,
// so no second name for the file is needed (Windows gives one only to an
// administrator, or as a hard link that pins the scratch directory).
TEST_F(SearchPathTest, NotSelfPassesOverTheRunningProgram) {
  char *own = running_program_path();
  if (own == nullptr) GTEST_SKIP() << "this system does not tell a program its own path";
  const std::string self = own;
  free(own);
  const std::string name = base_name(self.c_str());
  const std::string own_dir = self.substr(0, self.size() - name.size());
  const std::string other = File("other/" + name, 0755);
  search_path_append(&list_, own_dir.c_str());

  auto find_not_self = [&] {
    char *found = search_path_find_not_self(&list_, name.c_str(), X_OK);
    std::string text = found ? found : "";
    free(found);
    return text;
  };
  EXPECT_EQ(find_not_self(), "");
  EXPECT_EQ(Find(name.c_str(), X_OK), self);

  search_path_append(&list_, (root_ + "/other/").c_str());
  search_path_set_trace(true);
  CaptureStderr();
  EXPECT_EQ(find_not_self(), other);
  EXPECT_EQ(GetCapturedStderr(), "Looking for '" + name + "'\n  - passed over: " + self +
                                     " is this program itself\n");
}

}  // namespace
