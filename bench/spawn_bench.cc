// How much one start of a child costs through pex_run_once, next to the
// platform's own ways of starting a program: posix_spawn, vfork + exec
// (bare, and with the report pipe that tells a failed exec apart) and
// fork + exec, each followed by a wait.  Every run starts the same minimal
// static program.  Two processes take turns round by round: this one,
// holding no extra memory, and a forked twin holding (and having touched)
// a large block, since fork's cost grows with the caller's memory and
// vfork-style starts should not.
//
// Usage: zov_bench_spawn <program> [--memory-gib N] [--runs N] [--fork-runs-large N]
// Prints one table: median microseconds per start-and-wait, per method and
// size, then pex_run_once's ratios to posix_spawn and between the sizes.

#include <fcntl.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pex/pex.h"

extern char **environ;

#include "bench/bench_util.h"

using bench::median;
using bench::stay_on_one_cpu;

namespace {

using spawn_fn = bool (*)(const char *program, char *const *argv);

bool waited_ok(pid_t pid) {
  int status;
  pid_t got;
  do got = waitpid(pid, &status, 0);
  while (got < 0 && errno == EINTR);
  return got == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool with_pex(const char *program, char *const *argv) {
  int status = -1;
  int err = 0;
  const char *message = pex_run_once(PEX_FINAL_STAGE, program, argv, "zov_bench_spawn", nullptr,
                                     nullptr, &status, &err);
  return message == nullptr && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool with_posix_spawn(const char *program, char *const *argv) {
  pid_t pid;
  if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
  return waited_ok(pid);
}

bool with_vfork(const char *program, char *const *argv) {
  pid_t pid = vfork();
  if (pid == 0) {
    execv(program, argv);
    _exit(127);
  }
  return pid > 0 && waited_ok(pid);
}

// The least a spawn that can tell a failed exec from a program's own exit
// does: vfork, and a close-on-exec pipe on which only a failed exec writes.
bool with_vfork_report_pipe(const char *program, char *const *argv) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t pid = vfork();
  if (pid == 0) {
    execv(program, argv);
    int error = errno;
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int error;
  ssize_t got = read(report[0], &error, sizeof error);
  close(report[0]);
  return pid > 0 && got == 0 && waited_ok(pid);
}

bool with_fork(const char *program, char *const *argv) {
  pid_t pid = fork();
  if (pid == 0) {
    execv(program, argv);
    _exit(127);
  }
  return pid > 0 && waited_ok(pid);
}

struct method {
  const char *name;
  spawn_fn spawn;
};

const method methods[] = {
    {"pex_run_once", with_pex},
    {"posix_spawn + waitpid", with_posix_spawn},
    {"vfork + execv + waitpid", with_vfork},
    {"vfork + report pipe", with_vfork_report_pipe},
    {"fork + execv + waitpid", with_fork},  // last: see fork_index
};
constexpr int method_count = sizeof methods / sizeof methods[0];
constexpr int fork_index = method_count - 1;

// Samples in microseconds, per method.
using samples = std::vector<std::vector<double>>;

// One start-and-wait through every method (fork only when with_fork).
// The method that goes first changes from round to round: the first start
// after the other process's turn pays for caches and a wake-up that the
// others do not.
void run_round(int round, const char *program, bool with_fork, samples *out) {
  char *argv[] = {const_cast<char *>(program), nullptr};
  for (int i = 0; i < method_count; ++i) {
    int m = (round + i) % method_count;
    if (m == fork_index && !with_fork) continue;
    auto start = std::chrono::steady_clock::now();
    bool ok = methods[m].spawn(program, argv);
    auto end = std::chrono::steady_clock::now();
    if (!ok) {
      fprintf(stderr, "zov_bench_spawn: %s could not run %s\n", methods[m].name, program);
      exit(1);
    }
    (*out)[m].push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
}

// Maps and writes every page of size bytes, so that the process really
// holds them (page tables included) while it spawns.
void hold_memory(size_t size) {
  void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    perror("zov_bench_spawn: mmap");
    exit(1);
  }
  long page = sysconf(_SC_PAGESIZE);
  for (size_t at = 0; at < size; at += (size_t)page) static_cast<volatile char *>(block)[at] = 1;
}

void pass_turn(int fd) {
  char token = 0;
  if (write(fd, &token, 1) != 1) exit(1);
}

void await_turn(int fd) {
  char token;
  if (read(fd, &token, 1) != 1) exit(1);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <program> [--memory-gib N] [--runs N] [--fork-runs-large N]\n",
            argv[0]);
    return 2;
  }
  const char *program = argv[1];
  double memory_gib = 4;
  int runs = 200;
  int fork_runs_large = 10;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--memory-gib") memory_gib = atof(argv[i + 1]);
    else if (option == "--runs") runs = atoi(argv[i + 1]);
    else if (option == "--fork-runs-large") fork_runs_large = atoi(argv[i + 1]);
    else {
      fprintf(stderr, "zov_bench_spawn: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  stay_on_one_cpu();

  // Warm the page cache and the program's first exec.
  samples warm(method_count);
  for (int i = 0; i < 5; ++i) run_round(i, program, true, &warm);

  // Two processes take turns, round by round: this one holds nothing, its
  // forked twin holds the memory.  Whatever else the machine does in the
  // meantime then weighs on both sizes alike.
  int to_large[2], to_small[2], results[2];
  if (pipe(to_large) != 0 || pipe(to_small) != 0 || pipe(results) != 0) return 1;
  fflush(stdout);
  pid_t twin = fork();
  if (twin < 0) return 1;
  if (twin == 0) {
    hold_memory((size_t)(memory_gib * 1024 * 1024 * 1024));
    pass_turn(to_small[1]);
    samples large(method_count);
    for (int round = 0; round < runs; ++round) {
      await_turn(to_large[0]);
      run_round(round, program, round < fork_runs_large, &large);
      pass_turn(to_small[1]);
    }
    for (int m = 0; m < method_count; ++m) {
      double value = median(large[m]);
      if (write(results[1], &value, sizeof value) != (ssize_t)sizeof value) _exit(1);
    }
    _exit(0);
  }

  samples small(method_count);
  await_turn(to_small[0]);  // the twin holds its memory
  for (int round = 0; round < runs; ++round) {
    run_round(round, program, true, &small);
    pass_turn(to_large[1]);
    await_turn(to_small[0]);
  }
  double large[method_count];
  for (int m = 0; m < method_count; ++m)
    if (read(results[0], &large[m], sizeof large[m]) != (ssize_t)sizeof large[m]) return 1;
  waitpid(twin, nullptr, 0);

  printf("Start and wait for %s: median microseconds over %d runs (fork with %.0f GiB: %d runs)\n",
         program, runs, memory_gib, fork_runs_large);
  char held[32];
  snprintf(held, sizeof held, "%.0f GiB", memory_gib);
  printf("%-24s %10s %10s %8s\n", "method", "0 GiB", held, "ratio");
  double small_medians[method_count];
  for (int m = 0; m < method_count; ++m) {
    small_medians[m] = median(small[m]);
    printf("%-24s %10.1f %10.1f %8.2f\n", methods[m].name, small_medians[m], large[m],
           large[m] / small_medians[m]);
  }
  printf("pex_run_once / posix_spawn: %.2f with 0 GiB, %.2f with %.0f GiB\n",
         small_medians[0] / small_medians[1], large[0] / large[1], memory_gib);
  printf("pex_run_once with %.0f GiB / with 0 GiB: %.2f\n", memory_gib,
         large[0] / small_medians[0]);
  return 0;
}
