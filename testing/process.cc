#include "testing/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>

extern char **environ;

namespace zov_test {

bool run_result::exited() const { return WIFEXITED(wait_status); }
int run_result::exit_code() const { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

namespace {

bool env_name_is(const std::string &entry, const char *name) {
  size_t len = strlen(name);
  return entry.compare(0, len, name) == 0 && entry.size() > len && entry[len] == '=';
}

std::vector<std::string> child_environment(const std::vector<std::string> &extra, bool no_path) {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (env_name_is(entry, "PATH") || env_name_is(entry, "ZOV_EXEC_PREFIX") ||
        entry.rfind("ZOV_STAND_IN_", 0) == 0)
      continue;
    env.push_back(entry);
  }
  bool has_path = false;
  for (const std::string &entry : extra) has_path = has_path || env_name_is(entry, "PATH");
  if (!has_path && !no_path) env.push_back("PATH=/nonexistent/zov-test-path");
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// Reads both pipes to their ends without letting either fill up.  With a
// deadline (group > 0), the process group is killed once it has passed;
// the pipes then reach their ends as its members die.  True when it had to
// be killed.
bool drain(int out_fd, int err_fd, std::string *out, std::string *err, pid_t group,
           int timeout_seconds) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string *sinks[2] = {out, err};
  int open_count = 2;
  bool killed = false;
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_seconds;
  while (open_count > 0) {
    int wait_ms = -1;
    if (group > 0 && !killed) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      long left = (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1000000;
      if (left <= 0) {
        kill(-group, SIGKILL);
        killed = true;
      } else {
        wait_ms = (int)left;
      }
    }
    int ready = poll(fds, 2, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, (size_t)n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  return killed;
}

// A mount namespace of this process's own, with an empty tmpfs over /proc.
// Root needs nothing more; anyone else gets the rights inside a user
// namespace of their own.  False with errno set when the system refuses.
bool hide_proc_here() {
#ifndef __linux__
  errno = ENOSYS;  // mount namespaces are Linux's
  return false;
#else
  int flags = CLONE_NEWNS | (geteuid() == 0 ? 0 : CLONE_NEWUSER);
  if (unshare(flags) != 0) return false;
  // Nothing mounted here may reach the namespace the tests run in.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  return mount("zov-test-no-proc", "/proc", "tmpfs", MS_NOSUID | MS_NODEV, "size=4k") == 0;
#endif
}

// In the forked child of run_program: the start-up state the options ask
// for, then the program.
[[noreturn]] void exec_as_asked(const std::string &path, char **argv, char **envp,
                                const run_options &options, int out_fd, int err_fd) {
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (options.stderr_reader_gone) {
    int gone[2];
    if (pipe(gone) != 0) _exit(124);
    close(gone[0]);
    dup2(gone[1], 2);
  }
  if (options.hide_proc && !hide_proc_here()) _exit(123);
  // Nothing but 0, 1 and 2 reaches the program, so any other descriptor
  // the tool sees was leaked by the program itself.
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0 && null_fd != 0) dup2(null_fd, 0);
  closefrom(3);
  if (options.timeout_seconds > 0) setpgid(0, 0);
  if (options.stack_limit > 0) {
    rlimit limit;
    getrlimit(RLIMIT_STACK, &limit);
    limit.rlim_cur = (rlim_t)options.stack_limit;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < limit.rlim_cur)
      limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_STACK, &limit) != 0) _exit(122);
  }
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(120);
  // An ignored disposition survives exec: that is the point of the option.
  signal(SIGCHLD, options.ignore_sigchld ? SIG_IGN : SIG_DFL);
  signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(path.c_str(), argv, envp);
  _exit(121);
}

}  // namespace

bool can_hide_proc(std::string *why) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int error = hide_proc_here() ? 0 : errno;
    if (error == 0 && access("/proc/self/exe", F_OK) == 0) error = EEXIST;
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(0);
  }
  close(report[1]);
  int error = -1;
  ssize_t got = read(report[0], &error, sizeof error);
  close(report[0]);
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == (ssize_t)sizeof error && error == 0) return true;
  *why = "no mount namespace with an empty /proc can be made here (" +
         std::string(got == (ssize_t)sizeof error && error > 0 ? strerror(error) : "no answer") +
         ")";
  return false;
}

run_result run_program(const std::string &path, const std::vector<std::string> &argv,
                       const run_options &options) {
  arg_vector args(options.empty_argv ? std::vector<std::string>{} : argv);
  arg_vector env(child_environment(options.env, options.no_path));

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe2 failed");

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_as_asked(path, args.get(), env.get(), options, out_pipe[1], err_pipe[1]);
  // Set from both sides, so the group exists before any kill.
  if (options.timeout_seconds > 0) setpgid(pid, pid);
  close(out_pipe[1]);
  close(err_pipe[1]);
  run_result result;
  result.timed_out = drain(out_pipe[0], err_pipe[0], &result.out, &result.err,
                           options.timeout_seconds > 0 ? pid : 0, options.timeout_seconds);
  while (waitpid(pid, &result.wait_status, 0) < 0 && errno == EINTR) {
  }
  // Whatever of the group is still about (it closed its pipes early).
  if (options.timeout_seconds > 0) kill(-pid, SIGKILL);
  return result;
}

bool run_command(const std::vector<std::string> &argv, std::string *log, const std::string &cwd) {
  arg_vector args(argv);
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(out_pipe[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(120);
    execvp(args.get()[0], args.get());
    _exit(121);
  }
  close(out_pipe[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) output.append(buffer, (size_t)n);
  close(out_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (log != nullptr) *log = output;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int run_in_subprocess(int (*body)(void *), void *data) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body(data));
  int status = -1;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

bool has_no_children() {
  int status;
  return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

}  // namespace zov_test
