// What the path tests of this folder share: a scratch tree, texts written
// against it, and PATH and the working directory put back after each test.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "pathsearch/path_rules.h"
#include "testing/files.h"

namespace zov_test {

inline bool host_is_windows() { return path_list_separator == ';'; }

// A malloc'ed result as a string, freed; nullopt for null.
inline std::optional<std::string> take(char *text) {
  if (text == nullptr) return std::nullopt;
  std::string copy = text;
  free(text);
  return copy;
}

class PathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char *path = getenv("PATH")) saved_path_ = path;
    saved_cwd_ = current_dir();
  }
  void TearDown() override {
    if (saved_path_)
      set_env("PATH", *saved_path_);
    else
      unset_env("PATH");
    change_dir(saved_cwd_);
  }

  // "@" in a text stands for the scratch root.
  std::string At(const char *text) const {
    std::string out;
    for (const char *p = text; *p; p++) {
      if (*p == '@')
        out += root_;
      else
        out += *p;
    }
    return out;
  }
  // A list written with ':' between entries, with the host's separator in
  // its place, then "@" filled in (a Windows root holds a ':' of its own).
  std::string AtList(const char *text) const {
    std::string list = text;
    for (char &c : list)
      if (c == ':') c = path_list_separator;
    return At(list.c_str());
  }
  void Dirs(const std::string &path) const { make_dirs(path); }
  void File(const std::string &path, int mode) const { write_file(path, "", mode); }
  // A program the PATH search takes: executable, under the host's program
  // file name (".exe" on Windows).
  void Program(const std::string &path) const { File(path + host_program_suffix, 0755); }
  // A file of the program's name that the PATH search must pass over: not
  // executable on POSIX; on Windows, without ".exe", it is no program.
  void NotProgram(const std::string &path) const { File(path, 0644); }
  // PATH set to a list, or unset for null.  False when the host cannot
  // hold the value (an empty one on Windows), PATH then unset.
  bool SetPath(const char *list) const {
    if (list == nullptr) {
      unset_env("PATH");
      return true;
    }
    return set_env("PATH", AtList(list));
  }

  scratch_dir scratch_;
  // Canonical, so that relocated_prefix's canonical paths match it as text.
  const std::string root_ = scratch_.path();
  std::optional<std::string> saved_path_;
  std::string saved_cwd_;
};

// Windows' full-path call writes '\\' where a test's text may have '/':
// both name the same directory, so results are compared with either
// separator as '/'.
inline std::optional<std::string> same_separators(std::optional<std::string> path) {
  if (path && host_is_windows())
    for (char &c : *path)
      if (c == '\\') c = '/';
  return path;
}

}  // namespace zov_test
