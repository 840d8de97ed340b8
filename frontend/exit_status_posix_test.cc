// The wait-status mapping on POSIX, on the statuses of real children.

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "frontend/frontend.h"

namespace {

void stop_and_wait() {
  raise(SIGSTOP);
  for (;;) pause();
}

// The wait status of a child that does `body` and is then collected with
// `options` (after `poke`, when given).
int status_from_child(void (*body)(), int options = 0, int poke = 0) {
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  if (poke != 0) {
    waitpid(pid, &status, WUNTRACED);
    kill(pid, poke);
  }
  waitpid(pid, &status, options);
  if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
    kill(pid, SIGKILL);
    int ignored;
    waitpid(pid, &ignored, 0);
  }
  return status;
}

TEST(FrontendExitStatus, RelaysExitCodesAndReportsSignals) {
  struct {
    const char *what;
    int status;
    int exit_status;
    std::string message;
  } cases[] = {
      {"exit 0", status_from_child([] { _exit(0); }), 0, ""},
      {"exit 1", status_from_child([] { _exit(1); }), 1, ""},
      {"exit 2", status_from_child([] { _exit(2); }), 2, ""},
      {"exit 255", status_from_child([] { _exit(255); }), 255, ""},
      {"stopped", status_from_child(stop_and_wait, WUNTRACED), 1, ""},
#ifdef WCONTINUED
      {"continued", status_from_child(stop_and_wait, WCONTINUED, SIGCONT), 1, ""},
#endif
      {"SIGTERM", status_from_child([] { raise(SIGTERM); }), 1,
       std::string("/d/ar terminated with signal 15 [") + strsignal(SIGTERM) + "]\n"},
      {"SIGKILL", status_from_child([] { raise(SIGKILL); }), 1,
       std::string("/d/ar terminated with signal 9 [") + strsignal(SIGKILL) + "]\n"},
#ifdef WCOREFLAG
      // Whether the kernel writes a core is up to its settings, so the
      // status of one that did is put together here.
      {"SIGSEGV, core", SIGSEGV | WCOREFLAG, 1,
       std::string("/d/ar terminated with signal 11 [") + strsignal(SIGSEGV) +
           "], core dumped\n"},
#endif
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    testing::internal::CaptureStderr();
    int exit_status = frontend_exit_status("/d/ar", c.status);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(exit_status, c.exit_status);
  }
}

}  // namespace
