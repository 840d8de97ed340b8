// The tool's end on POSIX: its wait status read with the platform's
// macros.

#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include "frontend/frontend.h"

int frontend_exit_status(const char *tool_path, int wait_status) {
  if (wait_status == 0) return 0;
  if (WIFSTOPPED(wait_status)) return 1;
#ifdef WIFCONTINUED
  // Before the signal case: a continued status would read as a signal.
  // (FreeBSD and Linux both have it; it only arrives with WCONTINUED.)
  if (WIFCONTINUED(wait_status)) return 1;
#endif
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);

  int signal_number = WTERMSIG(wait_status);
  const char *signal_text = strsignal(signal_number);
  if (signal_text == nullptr) signal_text = "unknown signal";
  bool core_dumped = false;
#ifdef WCOREDUMP
  // Not POSIX: FreeBSD defines it while __BSD_VISIBLE (the default), Linux
  // under _DEFAULT_SOURCE; a strict system leaves the note out.
  core_dumped = WCOREDUMP(wait_status);
#endif
  fprintf(stderr, "%s terminated with signal %d [%s]%s\n", tool_path, signal_number, signal_text,
          core_dumped ? ", core dumped" : "");
  return 1;
}
