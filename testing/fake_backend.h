// A back-end table for the engine's tests that starts no process and opens
// nothing: descriptors and process ids are numbers it hands out
// (descriptors from 100, ids from 1000), every call is logged, and any
// operation can be made to fail on its Nth call.  It notices descriptors
// closed twice or never handed out, children waited for twice, and spawns
// given descriptors that are not open.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

struct pex_backend;
struct pex_pipeline;

namespace zov_test {

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

}  // namespace zov_test
