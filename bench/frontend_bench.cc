// What a front-end run costs next to running its tool directly.
//
//   zov_bench_frontend wall <front-end> <tool> <plugin> <archive>
//                           [--pairs N] [--any-cpu]
//     Runs "<front-end> <archive>" and "<tool> --plugin <plugin> <archive>"
//     in alternating pairs (which one goes first alternates too), standard
//     output to /dev/null, and prints the median wall time of each and the
//     median of the per-pair ratios.  On one CPU unless --any-cpu.
//
//   zov_bench_frontend rss <program> [argument...]
//     Runs the program a few times and prints its own peak resident memory
//     (Linux: VmHWM, read when the program is about to exit), and what
//     wait4 reports as ru_maxrss.  The latter is no measure of the program
//     alone: the kernel folds into it the peak of every address space the
//     process had, and a process started vfork-style (posix_spawn, or the
//     front-end's tool) begins in its parent's.  So a front-end's
//     ru_maxrss is at least this benchmark's own size, and its tool's
//     ru_maxrss (folded in too, as a waited-for child) at least the
//     front-end's.

#include <fcntl.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/ptrace.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char **environ;

#include "bench/bench_util.h"

using bench::median;
using bench::stay_on_one_cpu;

namespace {

// Runs argv with standard output on /dev/null and waits for it.  Returns
// the wall time in microseconds; *usage gets the child's resource usage.
double run(const std::vector<const char *> &argv, struct rusage *usage) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char *> vector;
  for (const char *arg : argv) vector.push_back(const_cast<char *>(arg));
  vector.push_back(nullptr);

  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int error = posix_spawn(&pid, vector[0], &actions, nullptr, vector.data(), environ);
  if (error != 0) {
    fprintf(stderr, "zov_bench_frontend: cannot run %s: %s\n", vector[0], strerror(error));
    exit(1);
  }
  int status;
  pid_t got;
  do got = wait4(pid, &status, 0, usage);
  while (got < 0 && errno == EINTR);
  auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (got != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "zov_bench_frontend: %s failed (status %d)\n", vector[0], status);
    exit(1);
  }
  return std::chrono::duration<double, std::micro>(end - start).count();
}

int wall(int argc, char **argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: %s wall <front-end> <tool> <plugin> <archive> [--pairs N]\n", argv[0]);
    return 2;
  }
  std::vector<const char *> through_frontend = {argv[2], argv[5]};
  std::vector<const char *> direct = {argv[3], "--plugin", argv[4], argv[5]};
  int pairs = 60;
  bool one_cpu = true;
  for (int i = 6; i < argc; ++i) {
    if (strcmp(argv[i], "--pairs") == 0 && i + 1 < argc)
      pairs = atoi(argv[++i]);
    else if (strcmp(argv[i], "--any-cpu") == 0)
      one_cpu = false;
  }

  if (one_cpu) stay_on_one_cpu();
  struct rusage usage;
  for (int i = 0; i < 3; ++i) {  // page cache, dynamic loader caches
    run(through_frontend, &usage);
    run(direct, &usage);
  }
  std::vector<double> frontend_times, direct_times, ratios;
  for (int pair = 0; pair < pairs; ++pair) {
    double f, d;
    if (pair % 2 == 0) {
      f = run(through_frontend, &usage);
      d = run(direct, &usage);
    } else {
      d = run(direct, &usage);
      f = run(through_frontend, &usage);
    }
    frontend_times.push_back(f);
    direct_times.push_back(d);
    ratios.push_back(f / d);
  }
  printf("%s %s  vs  %s --plugin %s %s: %d alternating pairs, %s\n", argv[2], argv[5],
         argv[3], argv[4], argv[5], pairs, one_cpu ? "on one CPU" : "on any CPU");
  printf("  front-end: median %.0f us; tool run directly: median %.0f us\n",
         median(frontend_times), median(direct_times));
  printf("  median ratio front-end / direct: %.2f\n", median(ratios));
  return 0;
}

#ifdef __linux__
// Runs argv under ptrace, stopped just before it exits, and returns its
// VmHWM (KiB) from /proc, or -1.
long own_peak_kib(char *const *argv) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execv(argv[0], argv);
    _exit(127);
  }
  long peak = -1;
  int status;
  bool options_set = false;
  while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
    int signal_number = WSTOPSIG(status);
    if (!options_set) {
      // The stop at exec: ask for one more just before the exit.
      ptrace(PTRACE_SETOPTIONS, pid, nullptr, (void *)(long)PTRACE_O_TRACEEXIT);
      options_set = true;
      signal_number = 0;
    } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      std::string path = "/proc/" + std::to_string(pid) + "/status";
      if (FILE *f = fopen(path.c_str(), "r")) {
        char line[256];
        while (fgets(line, sizeof line, f) != nullptr)
          if (strncmp(line, "VmHWM:", 6) == 0) peak = atol(line + 6);
        fclose(f);
      }
      signal_number = 0;
    }
    // Any other stop is a signal for the program (SIGCHLD from its tool).
    ptrace(PTRACE_CONT, pid, nullptr, (void *)(long)signal_number);
  }
  return peak;
}
#endif

int rss(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s rss <program> [argument...]\n", argv[0]);
    return 2;
  }
  std::vector<const char *> command(argv + 2, argv + argc);
  long own = -1;
  long folded = 0;
  for (int i = 0; i < 5; ++i) {
    struct rusage usage;
    run(command, &usage);
    folded = std::max(folded, usage.ru_maxrss);
#ifdef __linux__
    own = std::max(own, own_peak_kib(argv + 2));
#endif
  }
  if (own >= 0)
    printf("%-56s own peak %5ld KiB  (ru_maxrss %ld KiB)\n", argv[2], own, folded);
  else
    printf("%-56s own peak unknown  (ru_maxrss %ld KiB)\n", argv[2], folded);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && strcmp(argv[1], "wall") == 0) return wall(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "rss") == 0) return rss(argc, argv);
  fprintf(stderr, "usage: %s wall|rss ...\n", argv[0]);
  return 2;
}
