// Scratch directories, whole-file helpers, and the test process's own
// working directory and environment, the same calls on every host.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

namespace zov_test {

// A fresh directory under $TMPDIR (or /tmp), as a canonical path (so the
// paths the programs print can be predicted as text), removed with
// everything in it when the object goes, unreadable subdirectories
// included.
class scratch_dir {
 public:
  scratch_dir();
  // For death tests in gtest's "threadsafe" style, which run the test body
  // again in a fresh process: the first process makes the directory and
  // names it in the environment variable `shared_as`; a process that finds
  // the variable set uses that directory and leaves its removal to the one
  // that made it.
  explicit scratch_dir(const char *shared_as);
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;

  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  // The names directly inside, in no particular order.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
  const char *shared_as_ = nullptr;
  bool owned_ = true;
};

// Creates the directory and every missing one above it.
void make_dirs(const std::string &path);
// Writes `text` to `path` (its directory created first) and gives it `mode`.
void write_file(const std::string &path, const std::string &text, int mode = 0644);
// The file's bytes; "" when it cannot be read.
std::string read_file(const std::string &path);
// Reads a stream to its end.
std::string read_all(FILE *stream);
// True when something, even a dangling symbolic link, is at `path`.
bool file_exists(const std::string &path);
// Copies contents and sets mode; the target's directory is created.
void copy_file(const std::string &from, const std::string &to, int mode = 0755);
void make_symlink(const std::string &target, const std::string &link);

// The working directory, and moving it (a failure to move is the test's).
std::string current_dir();
void change_dir(const std::string &path);

// Sets or removes a variable of the test process's own environment.
// Windows' C runtime cannot hold an empty value (setting one removes the
// variable): set_env then removes it and says false.
bool set_env(const char *name, const std::string &value);
void unset_env(const char *name);

}  // namespace zov_test
