// The driver's POSIX side: signals and the environment.

#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "frontend/frontend.h"
#include "frontend/host.h"
#include "support/support.h"

// Declared by no header on FreeBSD (POSIX leaves it to the program).
extern char **environ;

const bool host_argument_0_locates_program = true;

char **host_environment() { return environ; }
void host_set_environment(char **environment) { environ = environment; }

namespace {

bool quieted;
struct sigaction given_sigpipe;

}  // namespace

void host_quiet_broken_pipe() {
  if (!quieted) sigaction(SIGPIPE, nullptr, &given_sigpipe);
  quieted = true;
  struct sigaction ignore;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void host_restore_broken_pipe() {
  if (quieted) sigaction(SIGPIPE, &given_sigpipe, nullptr);
}

// An inherited SIG_IGN for SIGCHLD makes the kernel reap the tool on its
// own, and the wait for its status then fails although the tool ran.
void host_prepare_run() { signal(SIGCHLD, SIG_DFL); }

// A command line as long as the kernel takes (ARG_MAX) goes as it is.
char **host_fit_command_line(char **tool_argv, int) { return tool_argv; }
void host_after_run() {}

// Each word in single quotes, a single quote in it written as '\''.
void host_put_command(char **tool_argv) {
  for (char **arg = tool_argv; *arg != nullptr; ++arg) {
    fputs(" '", stderr);
    for (const char *p = *arg; *p != '\0'; ++p) {
      if (*p == '\'')
        fputs("'\\''", stderr);
      else
        fputc(*p, stderr);
    }
    fputc('\'', stderr);
  }
}

const char *host_error_text(int err) { return errno_text(err); }
