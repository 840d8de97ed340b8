// Helpers shared by the pex tests.  The test binary doubles as the child
// program the tests start: "<self> --pex-child MODE ARGS..." runs one of
// the small modes in pex_test_main.cc instead of the tests, so a child can
// report its own argv, environment and descriptors.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <initializer_list>
#include <set>
#include <string>
#include <vector>

// Absolute path of the running test binary.
const std::string &self_path();

// A null-terminated vector of C strings that owns its texts.
struct arg_vector {
  std::vector<std::string> texts;
  std::vector<char *> pointers;
  arg_vector() = default;
  explicit arg_vector(std::vector<std::string> items);
  arg_vector(const arg_vector &other) : arg_vector(other.texts) {}
  char *const *get() { return pointers.data(); }
};

// argv for "<self> --pex-child MODE ARGS...".
arg_vector child_args(std::initializer_list<std::string> mode_and_args);

// Descriptors open in this process.
std::set<int> open_fds();
// Open descriptors 3 and up that a child would inherit (no FD_CLOEXEC).
std::set<int> inheritable_fds();

// True when this process has no child at all, zombie or running.
bool has_no_children();

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
// Reads a stream to its end.
std::string read_all(FILE *stream);

// A fresh directory under $TMPDIR (or /tmp), removed with its contents.
struct scratch_dir {
  std::string path;
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir &) = delete;
  scratch_dir &operator=(const scratch_dir &) = delete;
  std::string file(const std::string &name) const { return path + "/" + name; }
  std::vector<std::string> entries() const;
};

// Runs body in a forked child and returns its wait status.  For tests that
// change process-wide state (limits, seccomp, signal dispositions, closed
// standard descriptors).  body returns the child's exit code.
int run_in_subprocess(int (*body)(void *), void *data);

// A back-end table that starts no process and opens nothing: descriptors
// and process ids are numbers it hands out (descriptors from 100, ids from
// 1000), every call is logged, and any operation can be made to fail on
// its Nth call.  It notices descriptors closed twice or never handed out,
// and spawns given descriptors that are not open.
struct pex_backend;
struct pex_pipeline;

struct fake_spawn {
  int flags;
  std::string executable;
  char *const *env;
  int in, out, errdes, toclose;
  pid_t pid;
};

struct fake_backend {
  struct fault {
    std::string op;
    int on_call;
    int error;
  };
  std::vector<fault> faults;
  std::vector<std::string> log;
  std::vector<std::string> problems;
  std::set<int> open;
  std::vector<fake_spawn> spawns;
  std::set<pid_t> unwaited;
  std::vector<std::pair<std::string, int>> calls;
  int next_fd = 100;
  pid_t next_pid = 1000;
  int released = 0;

  static const pex_backend table;

  // A pipeline on this back-end (its backend_data points here).
  pex_pipeline *create(int pipeline_flags, const char *temp_base_name = nullptr);
  void fail(const std::string &op, int on_call, int error) {
    faults.push_back({op, on_call, error});
  }
  // Counts the call; true (errno set) when it is to fail.
  bool should_fail(const std::string &op);
  int new_fd();
  void close(int fd);
  // Wait status the fake reports for a child: exit code pid - 999.
  static int status_of(pid_t pid) { return (pid - 999) << 8; }
};
