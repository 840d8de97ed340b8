// Argument vectors and running programs from the tests: a program with a
// chosen argument vector, environment and start-up state; a command to
// completion; a test body in a forked subprocess.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zov_test {

// A null-terminated vector of C strings that owns its texts, mutable as
// the one main() receives.
struct arg_vector {
  std::vector<std::string> texts;
  std::vector<char *> pointers;

  arg_vector() : pointers{nullptr} {}
  explicit arg_vector(std::vector<std::string> items);
  arg_vector(const arg_vector &other) : arg_vector(other.texts) {}
  arg_vector &operator=(const arg_vector &other);

  int argc() const { return (int)texts.size(); }
  char **get() { return pointers.data(); }
  // True when p points into one of the texts (not a copy made elsewhere).
  bool owns(const char *p) const;

 private:
  void point();  // pointers made to point at texts again
};

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

// Executes the file at `path` (no PATH search) with exactly `argv`, its
// standard input /dev/null and no descriptor but 0, 1 and 2 open.
run_result run_program(const std::string &path, const std::vector<std::string> &argv,
                       const run_options &options = {});

// Runs a command to completion with the test's environment; true when it
// exits with 0.  Its output goes to `log` when given.
bool run_command(const std::vector<std::string> &argv, std::string *log = nullptr,
                 const std::string &cwd = "");

// Runs body in a forked child and returns its wait status.  For tests that
// change process-wide state (limits, seccomp, signal dispositions, closed
// standard descriptors).  body returns the child's exit code.
int run_in_subprocess(int (*body)(void *), void *data);

// True when this process has no child at all, zombie or running.
bool has_no_children();

}  // namespace zov_test
