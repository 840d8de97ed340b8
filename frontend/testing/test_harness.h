// Shared pieces of the front-end tests: temporary trees, running a program
// with a chosen argument vector, environment and start-up state, and
// reading what the stand-in tool recorded.
#pragma once

#include <string>
#include <vector>

namespace zov_test {

// A fresh directory under $TMPDIR (or /tmp), as a canonical path, removed
// with everything in it when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir &) = delete;
  temp_dir &operator=(const temp_dir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

void make_dirs(const std::string &path);
void write_file(const std::string &path, const std::string &text, int mode = 0644);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
// Copies contents and sets mode; the parent directory is created.
void copy_file(const std::string &from, const std::string &to, int mode = 0755);
void make_symlink(const std::string &target, const std::string &link);

struct run_options {
  // "NAME=value" entries set for the child, after the test's own
  // environment has been cleared of PATH, ZOV_EXEC_PREFIX and the stand-in
  // variables.  PATH defaults to a directory that does not exist.
  std::vector<std::string> env;
  std::string cwd;              // empty: the test's own
  bool ignore_sigchld = false;  // start the child with SIGCHLD set to SIG_IGN
  bool empty_argv = false;      // exec with an empty argument vector
  bool no_path = false;         // PATH not set at all (env must not set it either)
  // For a program that might start itself again and again.  Both bounds
  // hold for root, whom RLIMIT_NPROC does not stop:
  //  - stack_limit (bytes, 0: unchanged) becomes RLIMIT_STACK, which on
  //    Linux caps what the argument vector of every exec below it may
  //    hold at a quarter of it (but at least 128 KiB), so a chain that
  //    lengthens its argument vector at each step ends within a bounded
  //    number of steps;
  //  - timeout_seconds (0: none) runs the program in a process group of
  //    its own, which is killed whole (SIGKILL) when it has not ended by
  //    then.
  unsigned long stack_limit = 0;
  int timeout_seconds = 0;
  // Run in a mount namespace of its own with an empty tmpfs over /proc, as
  // in a chroot or container without /proc (see can_hide_proc).
  bool hide_proc = false;
  // Standard error a pipe whose reader has gone (err then stays empty).
  bool stderr_reader_gone = false;
  bool ignore_sigpipe = false;  // start the child with SIGPIPE set to SIG_IGN
};

// Whether run_options::hide_proc can be had here; when not, *why says why.
bool can_hide_proc(std::string *why);

struct run_result {
  int wait_status = 0;
  std::string out;
  std::string err;
  bool timed_out = false;  // killed after run_options::timeout_seconds
  bool exited() const;
  int exit_code() const;  // -1 unless exited
};

// Executes the file at `path` (no PATH search) with exactly `argv`.
run_result run_program(const std::string &path, const std::vector<std::string> &argv,
                       const run_options &options = {});

// What the stand-in tool wrote: its arguments, and its open descriptors.
struct tool_record {
  bool present = false;
  std::vector<std::string> args;
  std::string fds;
  std::string sigpipe;  // "default", "ignored" or "handled"
};
tool_record read_tool_record(const std::string &path);

// Runs a command to completion with the test's environment; true when it
// exits with 0.  Its output goes to `log` when given.
bool run_command(const std::vector<std::string> &argv, std::string *log = nullptr,
                 const std::string &cwd = "");

}  // namespace zov_test
