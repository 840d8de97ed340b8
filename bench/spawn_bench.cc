// How much one start of a child costs through pex_run_once, next to the
// platform's own ways of starting a program: posix_spawn, vfork + exec
// (bare, and with the report pipe that tells a failed exec apart) and
// fork + exec, each followed by a wait.  Every run starts the same minimal
// static program.  Two processes take turns round by round: this one,
// holding no extra memory, and a forked twin holding (and having touched)
// a large block, since fork's cost grows with the caller's memory and
// vfork-style starts should not.  fork runs after all the other methods
// (see round_kind).
//
// Usage: zov_bench_spawn <program> [--memory-gib N] [--runs N] [--fork-runs-large N]
// Prints one table: median microseconds per start-and-wait, per method and
// size, then pex_run_once's ratios to posix_spawn and between the sizes.

#include <fcntl.h>
#include <signal.h>
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

// Which methods a round runs.  fork runs in rounds of its own, after all
// the others: it leaves every page of the caller copy-on-write, and the
// next start in the same process then pays a page fault for each page it
// writes first.  pex_run_once writes more pages than a bare vfork (its
// heap block, more of the stack), so measured right after a fork it looked
// some 15% dearer than the floor it is built on, a cost that no real
// caller, which does not fork between its starts, pays.
enum round_kind { ALL_BUT_FORK, FORK_ONLY };

// One start-and-wait through every method of the kind.  The method that
// goes first changes from round to round: the first start after the other
// process's turn pays for caches and a wake-up that the others do not.
void run_round(int round, const char *program, round_kind kind, samples *out) {
  char *argv[] = {const_cast<char *>(program), nullptr};
  int first = kind == FORK_ONLY ? fork_index : 0;
  int count = kind == FORK_ONLY ? 1 : fork_index;
  for (int i = 0; i < count; ++i) {
    int m = first + (round + i) % count;
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
  if (size == 0) return;
  void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    perror("zov_bench_spawn: mmap");
    exit(1);
  }
  long page = sysconf(_SC_PAGESIZE);
  for (size_t at = 0; at < size; at += (size_t)page) static_cast<volatile char *>(block)[at] = 1;
}

bool write_all(int fd, const void *data, size_t size) {
  const char *at = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= (size_t)n;
  }
  return true;
}

bool read_all(int fd, void *data, size_t size) {
  char *at = static_cast<char *>(data);
  while (size > 0) {
    ssize_t n = read(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= (size_t)n;
  }
  return true;
}

// The median over rounds of a[i] / b[i]: samples taken in the same round.
double median_ratio(const std::vector<double> &a, const std::vector<double> &b) {
  std::vector<double> ratios;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i] / b[i]);
  return median(ratios);
}

void pass_turn(int fd) {
  char token = 0;
  if (write(fd, &token, 1) != 1) {
    fprintf(stderr, "zov_bench_spawn: the other process has gone\n");
    exit(1);
  }
}

// Each process holds only its own ends of the pipes, so a turn that can
// never come (the other process has ended) reads end of file.
void await_turn(int fd, const char *other) {
  char token;
  ssize_t got;
  do got = read(fd, &token, 1);
  while (got < 0 && errno == EINTR);
  if (got != 1) {
    fprintf(stderr, "zov_bench_spawn: the %s ended early; no figures\n", other);
    exit(1);
  }
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

  if (memory_gib < 0 || runs < 1 || fork_runs_large < 1) {
    fprintf(stderr, "zov_bench_spawn: --memory-gib must be 0 or more, the run counts 1 or more\n");
    return 2;
  }

  stay_on_one_cpu();
  // No write to a pipe whose reader has gone may kill us without a word.
  signal(SIGPIPE, SIG_IGN);

  // Warm the page cache and the program's first exec.
  samples warm(method_count);
  for (int i = 0; i < 5; ++i) {
    run_round(i, program, ALL_BUT_FORK, &warm);
    run_round(i, program, FORK_ONLY, &warm);
  }

  // Two processes take turns, round by round: this one holds nothing, its
  // forked twin holds the memory.  Whatever else the machine does in the
  // meantime then weighs on both sizes alike.  The fork rounds come last:
  // this process's, then the twin's.
  int to_large[2], to_small[2], results[2];
  if (pipe(to_large) != 0 || pipe(to_small) != 0 || pipe(results) != 0) {
    perror("zov_bench_spawn: pipe");
    return 1;
  }
  fflush(stdout);
  pid_t twin = fork();
  if (twin < 0) {
    perror("zov_bench_spawn: fork");
    return 1;
  }
  if (twin == 0) {
    close(to_large[1]);
    close(to_small[0]);
    close(results[0]);
    hold_memory((size_t)(memory_gib * 1024 * 1024 * 1024));
    pass_turn(to_small[1]);
    samples large(method_count);
    for (int round = 0; round < runs; ++round) {
      await_turn(to_large[0], "measuring process");
      run_round(round, program, ALL_BUT_FORK, &large);
      pass_turn(to_small[1]);
    }
    await_turn(to_large[0], "measuring process");
    for (int round = 0; round < fork_runs_large; ++round)
      run_round(round, program, FORK_ONLY, &large);
    // Every sample, so that the other process can pair them round by
    // round: the count, then the values, per method.
    for (int m = 0; m < method_count; ++m) {
      size_t count = large[m].size();
      if (!write_all(results[1], &count, sizeof count) ||
          !write_all(results[1], large[m].data(), count * sizeof(double)))
        _exit(1);
    }
    _exit(0);
  }
  close(to_large[0]);
  close(to_small[1]);
  close(results[1]);

  samples small(method_count);
  await_turn(to_small[0], "twin holding the memory");  // the twin holds its memory
  for (int round = 0; round < runs; ++round) {
    run_round(round, program, ALL_BUT_FORK, &small);
    pass_turn(to_large[1]);
    await_turn(to_small[0], "twin holding the memory");
  }
  for (int round = 0; round < runs; ++round) run_round(round, program, FORK_ONLY, &small);
  pass_turn(to_large[1]);
  samples large(method_count);
  for (int m = 0; m < method_count; ++m) {
    size_t count = 0;
    bool ok = read_all(results[0], &count, sizeof count) && count <= (size_t)runs;
    if (ok) {
      large[m].resize(count);
      ok = read_all(results[0], large[m].data(), count * sizeof(double));
    }
    if (!ok || count == 0) {
      fprintf(stderr, "zov_bench_spawn: the twin holding the memory ended early; no figures\n");
      waitpid(twin, nullptr, 0);
      return 1;
    }
  }
  int twin_status;
  if (waitpid(twin, &twin_status, 0) != twin || !WIFEXITED(twin_status) ||
      WEXITSTATUS(twin_status) != 0) {
    fprintf(stderr, "zov_bench_spawn: the twin holding the memory failed; no figures\n");
    return 1;
  }

  printf("Start and wait for %s: median microseconds over %d runs (fork with %g GiB: %d runs)\n",
         program, runs, memory_gib, fork_runs_large);
  char held[32];
  snprintf(held, sizeof held, "%g GiB", memory_gib);
  printf("%-24s %10s %10s %8s\n", "method", "0 GiB", held, "ratio");
  for (int m = 0; m < method_count; ++m) {
    double small_median = median(small[m]);
    double large_median = median(large[m]);
    printf("%-24s %10.1f %10.1f %8.2f\n", methods[m].name, small_median, large_median,
           large_median / small_median);
  }
  // Ratios are medians of the ratios within each round: the two starts
  // compared ran back to back, so whatever else loads the machine weighs
  // on both, where a ratio of two medians would carry it over whole.
  printf("pex_run_once / posix_spawn: %.2f with 0 GiB, %.2f with %g GiB\n",
         median_ratio(small[0], small[1]), median_ratio(large[0], large[1]), memory_gib);
  printf("pex_run_once / vfork + report pipe: %.2f with 0 GiB, %.2f with %g GiB\n",
         median_ratio(small[0], small[3]), median_ratio(large[0], large[3]), memory_gib);
  printf("pex_run_once with %g GiB / with 0 GiB: %.2f\n", memory_gib,
         median_ratio(large[0], small[0]));
  return 0;
}
