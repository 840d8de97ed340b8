// The POSIX back-end and pex_run_once with real children.  The child is
// this test binary itself (see testing/child.h), so it can report what it
// received.  Tests that change process-wide state run in a forked
// subprocess and report through its exit code.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#endif

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "pex/pex_backend.h"
#include "testing/child.h"
#include "testing/descriptors.h"
#include "testing/emulator.h"
#include "testing/files.h"

extern char **environ;

using namespace zov_test;

namespace {

const char *self() { return self_path().c_str(); }

struct spawn_result {
  pid_t pid;
  std::string errmsg;
  int err;
};

// The back-end's spawn_child, called directly.
spawn_result spawn(pex_pipeline *p, int flags, const char *executable, char *const *argv,
                   char *const *env, int in, int out, int errdes, int toclose = -1) {
  const char *errmsg = nullptr;
  int err = 0;
  pid_t pid = pex_posix_backend.spawn_child(p, flags, executable, argv, env, in, out, errdes,
                                            toclose, &errmsg, &err);
  return {pid, errmsg != nullptr ? errmsg : "", err};
}

int wait_status(pid_t pid) {
  int status = -1;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

bool is_open(int fd) { return fcntl(fd, F_GETFD) >= 0; }
bool is_cloexec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

int open_file(const std::string &path, int flags = O_WRONLY | O_CREAT | O_TRUNC) {
  return open(path.c_str(), flags | O_CLOEXEC, 0644);
}

void add_ok(pex_pipeline *p, int flags, arg_vector &argv, const char *outname = nullptr,
            const char *errname = nullptr) {
  int err = 0;
  const char *errmsg = pex_add_stage(p, flags, self(), argv.get(), outname, errname, &err);
  ASSERT_EQ(errmsg, nullptr) << errmsg << ": " << strerror(err);
}

// Subprocess bodies report a failed check through their exit code; this
// names it in the test output.
#define SUBPROCESS_CHECK(condition, code)                                          \
  do {                                                                             \
    if (!(condition)) {                                                            \
      fprintf(stderr, "subprocess check failed: %s (code %d)\n", #condition, code); \
      return code;                                                                 \
    }                                                                              \
  } while (0)

void expect_subprocess_ok(int status) {
  ASSERT_TRUE(WIFEXITED(status)) << "subprocess died, status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a subprocess check failed (see its stderr)";
}

// ---------------------------------------------------------------------------
// The plain descriptor operations.

TEST(PosixBackend, FileAndPipeOperations) {
  scratch_dir dir;
  std::string name = dir.file("out");
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  const pex_backend &b = pex_posix_backend;

  mode_t old_mask = umask(027);
  int fd = b.open_output(p, name.c_str(), 0, 0);  // creates
  umask(old_mask);
  ASSERT_GE(fd, 3);
  EXPECT_TRUE(is_cloexec(fd));
  struct stat info;
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  ASSERT_EQ(write(fd, "old content", 11), 11);
  close(fd);

  fd = b.open_output(p, name.c_str(), 1, 0);  // truncates
  ASSERT_EQ(write(fd, "new", 3), 3);
  close(fd);
  EXPECT_EQ(read_file(name), "new");
  fd = b.open_output(p, name.c_str(), 0, 1);  // appends
  ASSERT_EQ(write(fd, "+more", 5), 5);
  close(fd);
  EXPECT_EQ(read_file(name), "new+more");

  fd = b.open_input(p, name.c_str(), 1);
  ASSERT_GE(fd, 3);
  EXPECT_TRUE(is_cloexec(fd));
  char buffer[16] = {};
  EXPECT_EQ(read(fd, buffer, sizeof buffer), 8);
  EXPECT_EQ(b.close_fd(p, fd), 0);
  EXPECT_EQ(b.close_fd(p, fd), -1);
  errno = 0;
  EXPECT_LT(b.open_input(p, dir.file("missing").c_str(), 0), 0);
  EXPECT_EQ(errno, ENOENT);

  int fds[2];
  ASSERT_EQ(b.make_pipe(p, fds, 0), 0);
  EXPECT_TRUE(is_cloexec(fds[0]) && is_cloexec(fds[1]));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(read(fds[0], buffer, 1), 1);
  close(fds[0]);
  close(fds[1]);

  // A caller's descriptor handed to a stream is made close-on-exec.
  ASSERT_EQ(pipe(fds), 0);
  FILE *writer = b.stream_from_write_fd(p, fds[1], 0);
  ASSERT_NE(writer, nullptr);
  EXPECT_TRUE(is_cloexec(fds[1]));
  FILE *reader = b.stream_from_read_fd(p, fds[0], 0);
  ASSERT_NE(reader, nullptr);
  fputs("through", writer);
  fclose(writer);
  EXPECT_EQ(read_all(reader), "through");
  fclose(reader);
  EXPECT_EQ(b.stream_from_write_fd(p, fds[1], 0), nullptr);  // closed now
  pex_release(p);
}

// A caller without 0, 1 and 2 must not get them back from the back-end:
// the child's dup2 onto 0..2 would clobber a pipe end or the report pipe.
int standard_descriptors_closed(void *) {
  scratch_dir dir;  // before closing stderr, so its path is made normally
  std::string out = dir.file("out");
  close(0);
  close(1);
  close(2);
  pex_pipeline *p = pex_create(PEX_PIPES, "pex_test", nullptr);
  int fds[2];
  SUBPROCESS_CHECK(pex_posix_backend.make_pipe(p, fds, 0) == 0, 1);
  SUBPROCESS_CHECK(fds[0] > 2 && fds[1] > 2, 2);
  close(fds[0]);
  close(fds[1]);

  arg_vector echo = child_args({"echo", "one"}), prefix = child_args({"prefix", "two:"});
  int err;
  SUBPROCESS_CHECK(pex_add_stage(p, 0, self(), echo.get(), nullptr, nullptr, &err) == nullptr, 3);
  SUBPROCESS_CHECK(pex_add_stage(p, PEX_FINAL_STAGE, self(), prefix.get(), out.c_str(), nullptr,
                                 &err) == nullptr,
                   4);
  int statuses[2];
  SUBPROCESS_CHECK(pex_get_status(p, 2, statuses) == 1, 5);
  SUBPROCESS_CHECK(statuses[0] == 0 && statuses[1] == 0, 6);
  pex_release(p);
  SUBPROCESS_CHECK(read_file(out) == "two:one", 7);

  // The report pipe still works: the failure comes back as a message.
  char *const missing[] = {const_cast<char *>("pex-no-such-program"), nullptr};
  int status = 12345;
  const char *errmsg = pex_run_once(PEX_FINAL_STAGE | PEX_USE_PATH, "pex-no-such-program",
                                    missing, "pex_test", out.c_str(), nullptr, &status, &err);
  SUBPROCESS_CHECK(errmsg != nullptr && strcmp(errmsg, "execvp") == 0 && err == ENOENT, 8);
  SUBPROCESS_CHECK(status == 12345, 9);
  SUBPROCESS_CHECK(has_no_children(), 10);
  return 0;
}

TEST(PosixBackend, CallerWithStandardDescriptorsClosed) {
  expect_subprocess_ok(run_in_subprocess(standard_descriptors_closed, nullptr));
}

// ---------------------------------------------------------------------------
// spawn_child.

TEST(PosixSpawn, ChildFailuresComeBackThroughTheReportPipe) {
  scratch_dir dir;
  struct failure {
    const char *name;
    int flags;
    std::string executable;
    int in, toclose;  // -2: a fresh descriptor
    const char *message;
    int error;
  };
  const failure cases[] = {
      {"not on PATH", PEX_USE_PATH, "pex-no-such-program", 0, -1, "execvp", ENOENT},
      {"no such file", 0, dir.file("missing"), 0, -1, "execv", ENOENT},
      {"a directory", 0, dir.path(), 0, -1, "execv", EACCES},
      {"bad input descriptor", 0, self_path(), 999, -1, "dup2", EBADF},
      {"bad descriptor to close", 0, self_path(), 0, 999, "close", EBADF},
  };
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  for (const failure &c : cases) {
    SCOPED_TRACE(c.name);
    std::set<int> fds_before = open_fds();
    arg_vector argv = child_args({"exit", "0"});
    int out = open_file(dir.file("out")), errdes = open_file(dir.file("err"));
    spawn_result r = spawn(p, c.flags, c.executable.c_str(), argv.get(), nullptr, c.in, out,
                           errdes, c.toclose);
    EXPECT_EQ(r.pid, -1);
    EXPECT_EQ(r.errmsg, c.message);
    EXPECT_EQ(r.err, c.error) << strerror(r.err);
    // The failed child is reaped already; its descriptors are the caller's.
    EXPECT_TRUE(has_no_children());
    EXPECT_TRUE(is_open(out) && is_open(errdes));
    close(out);
    close(errdes);
    EXPECT_EQ(open_fds(), fds_before);
    EXPECT_EQ(read_file(dir.file("err")), "");  // nothing printed
  }
  pex_release(p);
}

TEST(PosixSpawn, StandardDescriptorsLeftAloneAndParentCopiesClosed) {
  scratch_dir dir;
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  std::set<int> fds_before = open_fds();
  arg_vector argv = child_args({"both", "out", "err"});
  int out = open_file(dir.file("out")), errdes = open_file(dir.file("err"));
  spawn_result r = spawn(p, 0, self(), argv.get(), nullptr, 0, out, errdes);
  ASSERT_GT(r.pid, 0) << r.errmsg;
  EXPECT_FALSE(is_open(out) || is_open(errdes));
  EXPECT_EQ(wait_status(r.pid), 0);
  EXPECT_EQ(read_file(dir.file("out")), "out");
  EXPECT_EQ(read_file(dir.file("err")), "err");

  // MERGE_STDERR: descriptor 2 becomes a copy of 1 after the error file
  // was moved there.
  out = open_file(dir.file("out"));
  errdes = open_file(dir.file("err"));
  r = spawn(p, PEX_MERGE_STDERR, self(), argv.get(), nullptr, 0, out, errdes);
  ASSERT_GT(r.pid, 0) << r.errmsg;
  EXPECT_EQ(wait_status(r.pid), 0);
  EXPECT_EQ(read_file(dir.file("out")), "outerr");
  EXPECT_EQ(read_file(dir.file("err")), "");
  EXPECT_EQ(open_fds(), fds_before);
  pex_release(p);
}

// Without a report pipe the child says it on its standard error.
struct fallback_case {
  const char *name;
  const char *program_name;
  bool stderr_closed;  // the fallback's writes fail: exit status 254
  int expected_exit;
  std::string err_path;
};

int fallback_without_report_pipe(void *data) {
  fallback_case *c = static_cast<fallback_case *>(data);
  int errdes = 2;
  if (c->stderr_closed) {
    close(2);
  } else {
    errdes = open_file(c->err_path);
    SUBPROCESS_CHECK(errdes >= 0, 1);
  }
  // Leave no descriptor free, so pipe2 fails with EMFILE.
  std::set<int> fds = open_fds();
  struct rlimit limit = {(rlim_t)*fds.rbegin() + 1, (rlim_t)*fds.rbegin() + 1};
  SUBPROCESS_CHECK(setrlimit(RLIMIT_NOFILE, &limit) == 0, 2);
  while (open("/dev/null", O_RDONLY) >= 0) {
  }
  SUBPROCESS_CHECK(errno == EMFILE, 3);

  pex_pipeline *p = pex_create(0, c->program_name, nullptr);
  char *const argv[] = {const_cast<char *>("pex-no-such-program"), nullptr};
  spawn_result r = spawn(p, PEX_USE_PATH, "pex-no-such-program", argv, nullptr, 0, 1, errdes);
  SUBPROCESS_CHECK(r.pid > 0, 4);  // a good start, as far as the parent can tell
  int status = wait_status(r.pid);
  SUBPROCESS_CHECK(WIFEXITED(status) && WEXITSTATUS(status) == c->expected_exit, 5);
  pex_release(p);
  return 0;
}

TEST(PosixSpawn, FallbackMessageWhenTheReportPipeCannotBeMade) {
  scratch_dir dir;
  fallback_case cases[] = {
      {"named", "pex_test", false, 255, dir.file("named")},
      {"unnamed", nullptr, false, 255, dir.file("unnamed")},
      {"stderr closed", "pex_test", true, 254, ""},
  };
  for (fallback_case &c : cases) {
    SCOPED_TRACE(c.name);
    expect_subprocess_ok(run_in_subprocess(fallback_without_report_pipe, &c));
  }
  EXPECT_EQ(read_file(dir.file("named")),
            "pex_test: error trying to exec 'pex-no-such-program': execvp: "
            "No such file or directory\n");
  EXPECT_EQ(read_file(dir.file("unnamed")),
            "error trying to exec 'pex-no-such-program': execvp: No such file or directory\n");
}

// The child's error text comes from a source that neither locks nor
// allocates: glibc's untranslated texts, elsewhere a fixed table.  Numbers
// with no text are formatted without printf.
TEST(ChildErrorText, KnownTextsAndNumberedFallback) {
  char buffer[32];
  EXPECT_STREQ(pex_child_error_text(ENOENT, buffer), "No such file or directory");
  EXPECT_STREQ(pex_child_error_text(E2BIG, buffer), "Argument list too long");
  struct {
    int number;
    const char *text;
  } unknown[] = {
      {-7, "undocumented error #-7"},
      {INT_MIN, "undocumented error #-2147483648"},  // the longest: fills 32 bytes
      {1000000, "undocumented error #1000000"},
  };
  for (const auto &c : unknown) {
    memset(buffer, 'x', sizeof buffer);
    EXPECT_STREQ(pex_child_error_text(c.number, buffer), c.text);
  }
}

// Each number is listed once and found by its lookup; on glibc the texts
// must be the C library's own, so that the child says the same on every
// system.
TEST(ChildErrorText, TableLookupAndTexts) {
  std::set<int> seen;
  for (size_t i = 0; i < pex_error_text_count; ++i) {
    const pex_error_text &entry = pex_error_texts[i];
    EXPECT_TRUE(seen.insert(entry.number).second) << "listed twice: " << entry.number;
    EXPECT_EQ(pex_error_table_text(entry.number), entry.text) << entry.number;
#ifdef __GLIBC__
    EXPECT_STREQ(entry.text, strerror(entry.number)) << entry.number;
#endif
  }
  EXPECT_EQ(pex_error_table_text(0), nullptr);
  EXPECT_EQ(pex_error_table_text(-1), nullptr);
}

TEST(PosixSpawn, EnvironmentAndArgumentBytesArriveUnchanged) {
  scratch_dir dir;
  ASSERT_EQ(symlink(self(), dir.file("pex-self").c_str()), 0);
  std::string all_bytes;
  for (int byte = 1; byte < 256; ++byte) all_bytes += (char)byte;
  std::vector<std::string> args = {all_bytes, "", "a=b\nc d", std::string(1, '\xff')};
  std::vector<std::string> env_items = {"PEX_BYTES=" + all_bytes, "PEX_EMPTY=",
                                        "PATH=" + dir.path()};

  std::vector<std::string> argv_items = {"pex-self", "--pex-child", "dump"};
  argv_items.insert(argv_items.end(), args.begin(), args.end());
  arg_vector argv(argv_items), env(env_items);

  char **environ_before = environ;
  std::string out = dir.file("out");
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  int err;
  // Found through the PATH of the environment given, not the caller's.
  const char *errmsg = pex_add_stage_env(p, PEX_FINAL_STAGE | PEX_USE_PATH, "pex-self",
                                         argv.get(), env.get(), out.c_str(), nullptr, &err);
  ASSERT_EQ(errmsg, nullptr) << errmsg << ": " << strerror(err);
  EXPECT_EQ(environ, environ_before);
  EXPECT_EQ(getenv("PEX_BYTES"), nullptr);
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  EXPECT_EQ(status, 0);
  pex_release(p);

  std::string got = read_file(out);
  if (test_emulator() != nullptr) {
    // qemu-user lays out a started program's environment in its own order,
    // so under it only the set of entries is compared; the arguments keep
    // their order.
    printf("under %s: the child's environment is compared without its order, which the "
           "emulator changes\n", test_emulator());
    std::sort(env_items.begin(), env_items.end());
    std::vector<std::string> got_env;
    std::string got_args;
    for (size_t at = 0; at < got.size();) {
      size_t colon = got.find(':', at);
      ASSERT_NE(colon, std::string::npos) << got;
      size_t length = std::stoul(got.substr(at + 1, colon - at - 1));
      std::string item = got.substr(colon + 1, length);
      if (got[at] == 'E') got_env.push_back(item);
      else got_args += got.substr(at, colon + 1 - at) + item;
      at = colon + 1 + length;
    }
    std::sort(got_env.begin(), got_env.end());
    std::string expected_args;
    for (const std::string &a : args) expected_args += "A" + std::to_string(a.size()) + ":" + a;
    EXPECT_EQ(got_args, expected_args);
    EXPECT_EQ(got_env, env_items);
    return;
  }
  std::string expected;
  for (const std::string &a : args) expected += "A" + std::to_string(a.size()) + ":" + a;
  for (const std::string &e : env_items) expected += "E" + std::to_string(e.size()) + ":" + e;
  EXPECT_EQ(got, expected);
}

// What execvp does, whatever the C library's own does: PATH is walked in
// the child's environment, a file that may not be executed is passed over
// for a later one, and a file that is no program (a script without "#!")
// is run by /bin/sh with the same arguments.  execv runs no shell.
TEST(PosixSpawn, ExecWalksPathAndHandsScriptsWithoutInterpreterLineToTheShell) {
  scratch_dir dir;
  std::string first = dir.file("first"), second = dir.file("second");
  mkdir(first.c_str(), 0755);
  mkdir(second.c_str(), 0755);
  std::string ran = dir.file("ran");
  std::string script = "printf '%s\\n' \"$0\" \"$@\" > '" + ran + "'\nexit 7\n";
  auto put = [&](const std::string &path, int mode) {
    write_file(path, script);
    chmod(path.c_str(), (mode_t)mode);
  };
  put(second + "/script", 0755);
  put(first + "/denied", 0644);
  put(second + "/denied", 0755);
  put(first + "/only-denied", 0644);
  put(dir.file("direct"), 0755);

  struct {
    const char *what;
    int flags;
    std::string executable;
    std::string ran_as;  // empty: the start fails
    std::string errmsg;
    int err;
  } cases[] = {
      {"found along PATH", PEX_USE_PATH, "script", second + "/script", "", 0},
      {"named with a '/'", PEX_USE_PATH, dir.file("direct"), dir.file("direct"), "", 0},
      {"an earlier file that may not be executed", PEX_USE_PATH, "denied", second + "/denied",
       "", 0},
      {"only a file that may not be executed", PEX_USE_PATH, "only-denied", "", "execvp", EACCES},
      {"nowhere along PATH", PEX_USE_PATH, "missing", "", "execvp", ENOENT},
      {"execv", 0, dir.file("direct"), "", "execv", ENOEXEC},
  };
  arg_vector env({"PATH=" + first + ":" + second});
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    remove(ran.c_str());
    arg_vector argv({"argument 0", "x", "y z"});
    pex_pipeline *p = pex_create(0, "pex_test", nullptr);
    int err = 0;
    const char *errmsg = pex_add_stage_env(p, PEX_FINAL_STAGE | c.flags, c.executable.c_str(),
                                           argv.get(), env.get(), nullptr, nullptr, &err);
    if (c.ran_as.empty()) {
      EXPECT_STREQ(errmsg, c.errmsg.c_str());
      EXPECT_EQ(err, c.err) << strerror(err);
    } else {
      ASSERT_EQ(errmsg, nullptr) << errmsg << ": " << strerror(err);
      int status = 0;
      ASSERT_EQ(pex_get_status(p, 1, &status), 1);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
      EXPECT_EQ(read_file(ran), c.ran_as + "\nx\ny z\n");
    }
    pex_release(p);
  }
}

// Argument vectors at the edge of the kernel's limit: a large one that
// fits runs, one past the limit fails with E2BIG under the exec's name.
TEST(PosixSpawn, ArgumentVectorsNearArgMax) {
#ifndef __linux__
  GTEST_SKIP() << "the limit figures are Linux's (a quarter of the stack limit, "
                  "128 KiB to 6 MiB, pointers counted); other kernels size it otherwise";
#endif
  struct rlimit stack;
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &stack), 0);
  // Linux allows a quarter of the stack limit, at most 6 MiB, at least 128 KiB.
  size_t limit = 6u << 20;
  if (stack.rlim_cur != RLIM_INFINITY && stack.rlim_cur / 4 < limit) limit = stack.rlim_cur / 4;
  if (limit < (128u << 10)) limit = 128u << 10;
  size_t env_bytes = 0;
  for (char **e = environ; *e != nullptr; ++e) env_bytes += strlen(*e) + 1 + sizeof(char *);

  const size_t piece = 100000;  // below the kernel's single-string limit
  struct arg_case {
    int flags;
    size_t total;
    const char *message;
  };
  const arg_case cases[] = {
      {0, limit - env_bytes - 64 * 1024, nullptr},
      {0, limit + 64 * 1024, "execv"},
      {PEX_USE_PATH, limit + 64 * 1024, "execvp"},
  };
  for (const arg_case &c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + " bytes of arguments");
    std::vector<std::string> items = {self_path(), "--pex-child", "exit", "0"};
    for (size_t used = 0; used + piece < c.total; used += piece + 1 + sizeof(char *))
      items.push_back(std::string(piece, 'a'));
    arg_vector argv(items);
    int status = -1, err = 0;
    const char *errmsg = pex_run_once(PEX_FINAL_STAGE | c.flags, self(), argv.get(), "pex_test",
                                      nullptr, nullptr, &status, &err);
    if (c.message == nullptr) {
      EXPECT_EQ(errmsg, nullptr) << errmsg << ": " << strerror(err);
      EXPECT_EQ(status, 0);
    } else {
      ASSERT_NE(errmsg, nullptr);
      EXPECT_STREQ(errmsg, c.message);
      EXPECT_EQ(err, E2BIG);
      EXPECT_EQ(status, -1);  // untouched
    }
  }
  EXPECT_TRUE(has_no_children());
}

// ---------------------------------------------------------------------------
// vfork failing: four attempts, a doubling sleep between two.  A seccomp
// filter in a subprocess makes vfork (and clone, which some libcs use for
// it) fail with EAGAIN and traps the sleeps so they return at once, with
// their lengths recorded.

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
#define PEX_HAVE_SECCOMP_TEST 1
constexpr int kNoSeccomp = 77;  // the filter cannot be installed (valgrind)

volatile sig_atomic_t sleep_count;
long sleep_seconds[16];

void record_sleep(int, siginfo_t *info, void *context) {
  ucontext_t *uc = static_cast<ucontext_t *>(context);
#if defined(__x86_64__)
  greg_t *regs = uc->uc_mcontext.gregs;
  const timespec *request = reinterpret_cast<const timespec *>(
      info->si_syscall == __NR_clock_nanosleep ? regs[REG_RDX] : regs[REG_RDI]);
  regs[REG_RAX] = 0;
#else
  (void)info;
  const timespec *request = reinterpret_cast<const timespec *>(uc->uc_mcontext.regs[2]);
  uc->uc_mcontext.regs[0] = 0;
#endif
  if (sleep_count < 16) sleep_seconds[sleep_count] = request->tv_sec;
  sleep_count = sleep_count + 1;
}

// One rule of a test's seccomp filter: a system call, and what it gets
// instead of running (SECCOMP_RET_ERRNO with an error, or
// SECCOMP_RET_TRAP).  Every other call runs.
struct syscall_rule {
  unsigned number;
  unsigned action;
};

unsigned refused_with(int error) {
  return SECCOMP_RET_ERRNO | ((unsigned)error & SECCOMP_RET_DATA);
}

// Installs a filter of the rules for this process and the children it
// starts.  Returns 0, or the step that failed: 2 no_new_privs, 3 the
// filter itself (which valgrind and qemu-user refuse).
int install_seccomp_filter(const std::vector<syscall_rule> &rules) {
#if defined(__x86_64__)
  const unsigned arch = AUDIT_ARCH_X86_64;
#else
  const unsigned arch = AUDIT_ARCH_AARCH64;
#endif
  // A call by another architecture's numbers (this process makes none)
  // is let through as it is.
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  // Each rule: on its number, its action; else on to the next rule.
  for (const syscall_rule &rule : rules) {
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, rule.number, 0, 1));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, rule.action));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  sock_fprog program = {(unsigned short)filter.size(), filter.data()};

  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return 2;
  if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) return 3;
  return 0;
}

// The filter both spawn tests run under: vfork and clone (and clone3,
// unless it is to stay open) fail with EAGAIN, and the sleeps trap into
// record_sleep, which returns at once and notes their length.  Returns 0,
// 1 when the SIGSYS handler cannot be set, or install_seccomp_filter's
// failed step.
int refuse_process_starts(bool refuse_clone3) {
  struct sigaction action = {};
  action.sa_sigaction = record_sleep;
  action.sa_flags = SA_SIGINFO;
  if (sigaction(SIGSYS, &action, nullptr) != 0) return 1;

#ifdef __NR_vfork
  const unsigned vfork_nr = __NR_vfork;
#else
  const unsigned vfork_nr = __NR_clone;  // the libc's vfork is a clone
#endif
#ifdef __NR_nanosleep
  const unsigned nanosleep_nr = __NR_nanosleep;
#else
  const unsigned nanosleep_nr = __NR_clock_nanosleep;
#endif
  std::vector<syscall_rule> rules = {{vfork_nr, refused_with(EAGAIN)},
                                     {__NR_clone, refused_with(EAGAIN)},
                                     {__NR_clock_nanosleep, SECCOMP_RET_TRAP},
                                     {nanosleep_nr, SECCOMP_RET_TRAP}};
  if (refuse_clone3) rules.push_back({__NR_clone3, refused_with(EAGAIN)});
  return install_seccomp_filter(rules);
}

int vfork_always_fails(void *) {
  std::set<int> fds_before = open_fds();
  sigset_t mask_before, mask_after;
  sigemptyset(&mask_before);
  sigaddset(&mask_before, SIGUSR2);
  sigprocmask(SIG_BLOCK, &mask_before, nullptr);
  sigprocmask(SIG_BLOCK, nullptr, &mask_before);
  char **environ_before = environ;

  int failed_step = refuse_process_starts(true);
  SUBPROCESS_CHECK(failed_step == 0, failed_step);

  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  char *const argv[] = {const_cast<char *>("x"), nullptr};
  char *const env[] = {const_cast<char *>("A=1"), nullptr};
  spawn_result r = spawn(p, 0, "/nonexistent", argv, env, 0, 1, 2);
  pex_release(p);
  SUBPROCESS_CHECK(r.pid == -1, 4);
  SUBPROCESS_CHECK(r.errmsg == "vfork", 5);
  SUBPROCESS_CHECK(r.err == EAGAIN, 6);
  // No sleep after the last attempt: it would only delay the failure.
  SUBPROCESS_CHECK(sleep_count == 3, 7);
  SUBPROCESS_CHECK(sleep_seconds[0] == 1 && sleep_seconds[1] == 2 && sleep_seconds[2] == 4, 8);
  SUBPROCESS_CHECK(open_fds() == fds_before, 9);  // report pipe closed
  sigemptyset(&mask_after);
  sigprocmask(SIG_BLOCK, nullptr, &mask_after);
  for (int sig = 1; sig < NSIG; ++sig)
    SUBPROCESS_CHECK(sigismember(&mask_before, sig) == sigismember(&mask_after, sig), 10);
  SUBPROCESS_CHECK(sigismember(&mask_after, SIGUSR2) == 1, 10);
  SUBPROCESS_CHECK(environ == environ_before, 11);
  return 0;
}
#endif

TEST(PosixSpawn, FailingVforkIsRetriedFourTimesWithDoublingSleeps) {
#ifdef PEX_HAVE_SECCOMP_TEST
  int status = run_in_subprocess(vfork_always_fails, nullptr);
  if (test_emulator() != nullptr && WIFEXITED(status) && WEXITSTATUS(status) == 3)
    GTEST_SKIP() << "under " << test_emulator()
                 << " no seccomp filter can be installed (the emulator does not pass it to "
                    "the kernel, whose system calls would be the emulator's own)";
  expect_subprocess_ok(status);
#else
  GTEST_SKIP() << "needs Linux seccomp on x86-64 or AArch64";
#endif
}

#ifdef PEX_HAVE_SECCOMP_TEST
// With vfork and clone refused, only clone3 can start a child: where the
// kernel has clone3, spawns must still work, so a broken clone3 start
// cannot hide behind the vfork fallback.  (The architecture's inline
// system call is otherwise only ever run by hand.)
constexpr int kClone3Unavailable = 78;

int spawn_with_only_clone3(void *) {
  // A kernel without clone3 says ENOSYS; one with it rejects the size.
  errno = 0;
  if (syscall(SYS_clone3, nullptr, 0) == -1 && errno == ENOSYS) return kClone3Unavailable;

  // A fallback's retry sleeps would return at once.
  int failed_step = refuse_process_starts(false);
  SUBPROCESS_CHECK(failed_step != 1, 1);
  if (failed_step != 0) return kNoSeccomp;

  // A good start with its status, and a failed exec reported as such.
  arg_vector argv = child_args({"exit", "7"});
  int status = -1, err = 0;
  const char *errmsg = pex_run_once(PEX_FINAL_STAGE, self(), argv.get(), "pex_test", nullptr,
                                    nullptr, &status, &err);
  if (errmsg != nullptr) fprintf(stderr, "spawn: %s: %s\n", errmsg, strerror(err));
  SUBPROCESS_CHECK(errmsg == nullptr, 2);
  SUBPROCESS_CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 7, 3);
  char *const missing[] = {const_cast<char *>("pex-no-such-program"), nullptr};
  errmsg = pex_run_once(PEX_FINAL_STAGE | PEX_USE_PATH, "pex-no-such-program", missing,
                        "pex_test", nullptr, nullptr, &status, &err);
  SUBPROCESS_CHECK(errmsg != nullptr && strcmp(errmsg, "execvp") == 0 && err == ENOENT, 4);
  SUBPROCESS_CHECK(sleep_count == 0, 5);  // no vfork fallback was tried
  SUBPROCESS_CHECK(has_no_children(), 6);
  return 0;
}
#endif

TEST(PosixSpawn, Clone3StartsChildrenWhereTheKernelHasIt) {
#ifdef PEX_HAVE_SECCOMP_TEST
  if (!pex_posix_tries_clone3)
    GTEST_SKIP() << "this build starts children with vfork only (AddressSanitizer)";
  int status = run_in_subprocess(spawn_with_only_clone3, nullptr);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kClone3Unavailable)
    GTEST_SKIP() << "the kernel here has no clone3"
                 << (test_emulator() != nullptr ? " (qemu-user refuses it)" : "");
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoSeccomp)
    GTEST_SKIP() << "no seccomp filter can be installed here";
  expect_subprocess_ok(status);
#else
  GTEST_SKIP() << "needs Linux seccomp on x86-64 or AArch64";
#endif
}

// ---------------------------------------------------------------------------
// Signals: handlers of the caller never run in the vfork child, and
// interrupted waits and reads are retried.

pid_t signalled_process;
volatile sig_atomic_t handler_ran_elsewhere;
volatile sig_atomic_t handler_calls;

void note_signal(int) {
  // In the vfork child getpid() differs while memory is still shared, so
  // the flag would reach the parent.
  if (getpid() != signalled_process) handler_ran_elsewhere = 1;
  handler_calls = handler_calls + 1;
}

int spawn_under_signals(void *) {
  signalled_process = getpid();
  SUBPROCESS_CHECK(setpgid(0, 0) == 0, 1);
  struct sigaction action = {};
  action.sa_handler = note_signal;  // no SA_RESTART: waits see EINTR
  for (int sig : {SIGALRM, SIGWINCH, SIGCHLD}) sigaction(sig, &action, nullptr);

  // A helper in our process group keeps sending SIGWINCH (ignored by
  // default, so it cannot kill the children), reaching every vfork child.
  pid_t helper = fork();
  if (helper == 0) {
    signal(SIGWINCH, SIG_IGN);
    for (;;) kill(0, SIGWINCH);
  }
  itimerval timer = {{0, 100}, {0, 100}};
  setitimer(ITIMER_REAL, &timer, nullptr);

  int failures = 0;
  for (int i = 0; i < 30; ++i) {
    arg_vector argv = child_args({"exit", "7"});
    int status = -1, err = 0;
    const char *errmsg = pex_run_once(PEX_FINAL_STAGE, self(), argv.get(), "pex_test", nullptr,
                                      nullptr, &status, &err);
    if (errmsg != nullptr || !WIFEXITED(status) || WEXITSTATUS(status) != 7) {
      fprintf(stderr, "spawn %d: %s %d status %d\n", i, errmsg ? errmsg : "ok", err, status);
      ++failures;
    }
    char *const missing[] = {const_cast<char *>("pex-no-such-program"), nullptr};
    errmsg = pex_run_once(PEX_FINAL_STAGE | PEX_USE_PATH, "pex-no-such-program", missing,
                          "pex_test", nullptr, nullptr, &status, &err);
    if (errmsg == nullptr || strcmp(errmsg, "execvp") != 0 || err != ENOENT) {
      fprintf(stderr, "failed spawn %d: %s %d\n", i, errmsg ? errmsg : "ok", err);
      ++failures;
    }
  }

  itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  kill(helper, SIGKILL);
  wait_status(helper);
  SUBPROCESS_CHECK(failures == 0, 2);
  SUBPROCESS_CHECK(handler_ran_elsewhere == 0, 3);
  SUBPROCESS_CHECK(handler_calls > 0, 4);
  SUBPROCESS_CHECK(has_no_children(), 5);
  return 0;
}

TEST(PosixSpawn, SignalsArrivingThroughoutSpawnsAndWaits) {
  expect_subprocess_ok(run_in_subprocess(spawn_under_signals, nullptr));
}

#ifdef PEX_HAVE_SECCOMP_TEST
// Where clone3 is refused (an older kernel, a container's seccomp policy),
// children start through plain vfork; the caller's handlers must stay out
// of them there too.

int spawn_under_signals_without_clone3(void *) {
  if (install_seccomp_filter({{__NR_clone3, refused_with(ENOSYS)}}) != 0) return kNoSeccomp;
  return spawn_under_signals(nullptr);
}
#endif

TEST(PosixSpawn, SignalsArrivingThroughoutSpawnsAndWaitsWithoutClone3) {
#ifdef PEX_HAVE_SECCOMP_TEST
  int status = run_in_subprocess(spawn_under_signals_without_clone3, nullptr);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoSeccomp)
    GTEST_SKIP() << "no seccomp filter can be installed here"
                 << (test_emulator() != nullptr ? " (under qemu-user)" : "");
  expect_subprocess_ok(status);
#else
  GTEST_SKIP() << "needs Linux seccomp on x86-64 or AArch64";
#endif
}

// ---------------------------------------------------------------------------
// wait_child.

TEST(PosixWait, TerminateFirst) {
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  struct wait_case {
    const char *mode;
    bool settle;  // let it exit before the wait
    int expected_status;
  };
  const wait_case cases[] = {
      {"exit", true, 3 << 8},       // already ended: its own status, kill ignored
      {"pause", false, SIGTERM},    // still running: ended by SIGTERM
  };
  for (const wait_case &c : cases) {
    SCOPED_TRACE(c.mode);
    arg_vector argv = child_args({c.mode, "3"});
    spawn_result r = spawn(p, 0, self(), argv.get(), nullptr, 0, 1, 2);
    ASSERT_GT(r.pid, 0);
    if (c.settle) {
      siginfo_t info;
      waitid(P_PID, r.pid, &info, WEXITED | WNOWAIT);
    }
    int status = -1;
    pex_timing time;
    const char *errmsg = nullptr;
    int err = 0;
    ASSERT_EQ(pex_posix_backend.wait_child(p, r.pid, &status, &time, 1, &errmsg, &err), 0);
    EXPECT_EQ(status, c.expected_status);
    // A second wait has no child to find.
    EXPECT_EQ(pex_posix_backend.wait_child(p, r.pid, &status, nullptr, 0, &errmsg, &err), -1);
    EXPECT_STREQ(errmsg, "wait");
    EXPECT_EQ(err, ECHILD);
  }
  pex_release(p);
}

// ---------------------------------------------------------------------------
// pex_run_once.

TEST(RunOnce, StatusesAndFailures) {
  scratch_dir dir;
  std::string out = dir.file("out"), err_file = dir.file("err");
  struct run_case {
    const char *name;
    int flags;
    std::vector<std::string> args;  // child modes; empty: a missing program
    bool files;
    const char *message;
    int error;
    int status;
  };
  const run_case cases[] = {
      {"exit code", PEX_FINAL_STAGE | PEX_USE_PATH, {"exit", "3"}, false, nullptr, 0, 3 << 8},
      {"killed", PEX_FINAL_STAGE, {"signal", "9"}, false, nullptr, 0, SIGKILL},
      {"output files", PEX_FINAL_STAGE, {"both", "o", "e"}, true, nullptr, 0, 0},
      {"missing program", PEX_FINAL_STAGE | PEX_USE_PATH, {}, false, "execvp", ENOENT, -1},
      {"missing file", PEX_FINAL_STAGE, {}, false, "execv", ENOENT, -1},
  };
  for (const run_case &c : cases) {
    SCOPED_TRACE(c.name);
    arg_vector argv = c.args.empty() ? arg_vector({"pex-no-such-program"})
                                     : child_args({c.args[0], c.args[1], c.args.size() > 2 ? c.args[2] : ""});
    const char *executable = c.args.empty() ? "pex-no-such-program" : self();
    int status = -1, err = -1;
    const char *errmsg =
        pex_run_once(c.flags, executable, argv.get(), "pex_test", c.files ? out.c_str() : nullptr,
                     c.files ? err_file.c_str() : nullptr, &status, &err);
    if (c.message != nullptr) {
      ASSERT_NE(errmsg, nullptr);
      EXPECT_STREQ(errmsg, c.message);
      EXPECT_EQ(err, c.error);
    } else {
      EXPECT_EQ(errmsg, nullptr) << errmsg;
    }
    EXPECT_EQ(status, c.status);
    EXPECT_TRUE(has_no_children());
  }
  EXPECT_EQ(read_file(out), "o");
  EXPECT_EQ(read_file(err_file), "e");
}

// With SIGCHLD ignored the kernel reaps children itself, so the wait fails.
int run_once_without_wait(void *) {
  signal(SIGCHLD, SIG_IGN);
  arg_vector argv = child_args({"exit", "0"});
  int status = 12345, err = -1;
  const char *errmsg = pex_run_once(PEX_FINAL_STAGE, self(), argv.get(), "pex_test", nullptr,
                                    nullptr, &status, &err);
  SUBPROCESS_CHECK(errmsg != nullptr && strcmp(errmsg, "pex_get_status failed") == 0, 1);
  SUBPROCESS_CHECK(err == 0 && status == 12345, 2);
  return 0;
}

TEST(RunOnce, UnwaitableChild) {
  expect_subprocess_ok(run_in_subprocess(run_once_without_wait, nullptr));
}

// ---------------------------------------------------------------------------
// Pipelines with real children: faults in the middle, release, and
// descriptor and process hygiene.

TEST(PosixPipeline, MissingOrKilledProgramInTheMiddle) {
  struct middle_case {
    const char *name;
    int pipeline_flags;
    bool missing;  // else killed by SIGKILL
  };
  const middle_case cases[] = {
      {"missing, pipes", PEX_PIPES, true},
      {"missing, files", 0, true},
      {"killed, pipes", PEX_PIPES, false},
      {"killed, files", 0, false},
  };
  for (const middle_case &c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir dir;
    std::string out = dir.file("out"), base = dir.file("stage");
    std::set<int> fds_before = open_fds();
    pex_pipeline *p = pex_create(c.pipeline_flags, "pex_test", base.c_str());
    arg_vector first = child_args({"echo", "hello"}), last = child_args({"prefix", "end:"});
    arg_vector killed = child_args({"signal", "9"});
    char *const missing[] = {const_cast<char *>("pex-no-such-program"), nullptr};
    add_ok(p, 0, first);
    int err = 0;
    const char *errmsg = c.missing ? pex_add_stage(p, PEX_USE_PATH, "pex-no-such-program",
                                                   missing, nullptr, nullptr, &err)
                                   : pex_add_stage(p, 0, self(), killed.get(), nullptr, nullptr,
                                                   &err);
    if (c.missing) {
      ASSERT_NE(errmsg, nullptr);
      EXPECT_STREQ(errmsg, "execvp");
      EXPECT_EQ(err, ENOENT);
    } else {
      ASSERT_EQ(errmsg, nullptr);
    }
    // The last stage still runs, reading an empty input.
    add_ok(p, PEX_FINAL_STAGE, last, out.c_str());
    int statuses[3];
    ASSERT_EQ(pex_get_status(p, 3, statuses), 1);
    EXPECT_EQ(p->child_count, c.missing ? 2 : 3);
    EXPECT_EQ(statuses[c.missing ? 1 : 2], 0);
    if (!c.missing) {
      EXPECT_TRUE(WIFSIGNALED(statuses[1]) && WTERMSIG(statuses[1]) == SIGKILL);
    }
    pex_release(p);
    EXPECT_EQ(read_file(out), "end:");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out"});
    EXPECT_EQ(open_fds(), fds_before);
    EXPECT_TRUE(has_no_children());
  }
}

TEST(PosixPipeline, ReleaseEndsRunningChildren) {
  std::set<int> fds_before = open_fds();
  pex_pipeline *p = pex_create(PEX_PIPES, "pex_test", nullptr);
  arg_vector yes = child_args({"yes"}), cat = child_args({"prefix", ""}),
             pause = child_args({"pause"});
  add_ok(p, 0, yes);                     // blocked writing into the pipe
  add_ok(p, PEX_STDERR_TO_PIPE, cat);    // reading forever
  pex_release(p);
  EXPECT_EQ(open_fds(), fds_before);
  EXPECT_TRUE(has_no_children());

  p = pex_create(0, "pex_test", nullptr);
  add_ok(p, PEX_FINAL_STAGE, pause);
  pex_release(p);
  EXPECT_TRUE(has_no_children());
}

// Without a base the support library makes the file, and ends the process
// when it cannot.  The death test re-runs this body in a fresh process
// (the temporary directory is chosen once per process), so the body
// creates nothing on disk: TMPDIR names this test binary, a regular file
// that passes the access check but cannot hold files.
TEST(PosixPipeline, UnusableTemporaryDirectoryEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  arg_vector echo = child_args({"echo", "x"});
  EXPECT_DEATH(
      {
        setenv("TMPDIR", self(), 1);
        unsetenv("TMP");
        unsetenv("TEMP");
        pex_pipeline *q = pex_create(0, "pex_test", nullptr);
        int e;
        pex_add_stage(q, 0, self(), echo.get(), nullptr, nullptr, &e);
      },
      "Cannot create temporary file in");
}

// A child sees its three standard descriptors and whatever the caller
// deliberately left inheritable, never another pipeline's pipe ends.
TEST(PosixPipeline, ChildSeesOnlyWhatItWasGiven) {
  scratch_dir dir;
  // Inheritable on purpose, and above 2 even if this process runs without
  // a standard input.
  int null_fd = open("/dev/null", O_RDONLY);
  int deliberate = fcntl(null_fd, F_DUPFD, 3);
  close(null_fd);
  ASSERT_GE(deliberate, 3);
  std::set<int> expected = inheritable_fds();
  expected.insert({0, 1, 2});
  std::string expected_text;
  for (int fd : expected) expected_text += std::to_string(fd) + " ";

  // Other pipelines holding pipe ends, an error pipe and an input stream.
  pex_pipeline *noise = pex_create(PEX_PIPES, "pex_test", nullptr);
  FILE *noise_input = pex_open_input_pipe(noise, 0);
  arg_vector cat = child_args({"prefix", ""}), fds = child_args({"fds"});
  add_ok(noise, PEX_STDERR_TO_PIPE, cat);

  // The first stage reads a pipe or a file the test fills, never the
  // test's own standard input.
  struct listing_case {
    const char *name;
    int pipeline_flags;
    int flags;
  };
  const listing_case cases[] = {
      {"pipe stage with error pipe", PEX_PIPES, PEX_STDERR_TO_PIPE},
      {"file stage", 0, 0},
  };
  for (const listing_case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string base = dir.file("stage"), input_name = dir.file("input");
    pex_pipeline *p = pex_create(c.pipeline_flags, "pex_test", base.c_str());
    FILE *input = (c.pipeline_flags & PEX_PIPES) ? pex_open_input_pipe(p, 0)
                                                 : pex_open_input_file(p, 0, input_name.c_str());
    ASSERT_NE(input, nullptr);
    add_ok(p, 0, cat);
    add_ok(p, c.flags, fds);
    if (c.pipeline_flags & PEX_PIPES) fclose(input);  // a file input is closed by the stage
    FILE *listing = pex_output_stream(p, 0);
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(read_all(listing), expected_text);
    pex_release(p);
  }

  // A final stage keeps the caller's standard input, whatever it is.
  if (!is_open(0)) {
    expected.erase(0);
    expected_text.clear();
    for (int fd : expected) expected_text += std::to_string(fd) + " ";
  }
  std::string final_out = dir.file("final");
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  add_ok(p, PEX_FINAL_STAGE, fds, final_out.c_str(), dir.file("err").c_str());
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  pex_release(p);
  EXPECT_EQ(read_file(final_out), expected_text);

  fclose(noise_input);
  pex_release(noise);
  close(deliberate);
  EXPECT_TRUE(has_no_children());
}

// Many pipelines of every kind, failures included, leave the process
// exactly as they found it.
TEST(PosixPipeline, ManyPipelinesLeaveNoDescriptorOrChild) {
  scratch_dir dir;
  std::string base = dir.file("stage"), out = dir.file("out"), err_file = dir.file("err");
  std::set<int> fds_before = open_fds();
  arg_vector echo = child_args({"echo", "x"}), cat = child_args({"prefix", ""}),
             both = child_args({"both", "o", "e"});
  char *const missing[] = {const_cast<char *>("pex-no-such-program"), nullptr};
  int err;
  for (int round = 0; round < 25; ++round) {
    // Pipes, an error pipe, both streams.
    pex_pipeline *p = pex_create(PEX_PIPES, "pex_test", nullptr);
    FILE *input = pex_open_input_pipe(p, 0);
    add_ok(p, 0, cat);
    add_ok(p, PEX_STDERR_TO_PIPE, both);
    fclose(input);
    EXPECT_EQ(read_all(pex_output_stream(p, 0)), "o");
    EXPECT_EQ(read_all(pex_error_stream(p, 0)), "e");
    pex_release(p);

    // Intermediate files, an error file, a missing program in the middle.
    p = pex_create(0, "pex_test", base.c_str());
    add_ok(p, 0, echo, nullptr, err_file.c_str());
    EXPECT_NE(pex_add_stage(p, PEX_USE_PATH, "pex-no-such-program", missing, nullptr,
                            err_file.c_str(), &err),
              nullptr);
    add_ok(p, PEX_FINAL_STAGE, cat, out.c_str());
    pex_release(p);  // never collected the final stage

    // Pipes with a failing middle stage, released without any wait.
    p = pex_create(PEX_PIPES, "pex_test", nullptr);
    add_ok(p, 0, echo);
    EXPECT_NE(pex_add_stage(p, PEX_STDERR_TO_PIPE | PEX_USE_PATH, "pex-no-such-program",
                            missing, nullptr, nullptr, &err),
              nullptr);
    pex_release(p);

    int status;
    EXPECT_NE(pex_run_once(PEX_FINAL_STAGE | PEX_USE_PATH, "pex-no-such-program", missing,
                           "pex_test", nullptr, nullptr, &status, &err),
              nullptr);
  }
  EXPECT_EQ(open_fds(), fds_before);
  EXPECT_TRUE(has_no_children());
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, std::vector<std::string>({"err", "out"}));
}

}  // namespace
