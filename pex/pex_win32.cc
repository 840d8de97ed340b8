// The Windows back-end of the pipeline engine.  Starting a child is
// pex_win32_spawn.cc.
//
// Descriptors are the C runtime's, opened through the UTF-16 interfaces
// and never inheritable (_O_NOINHERIT): a child gets only the three
// handles spawn_child lists for it.  A child's "process id" in the engine
// is its process handle, which the wait closes.  Its wait status is its
// 32-bit exit code as it stands.

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <windows.h>

#include "pex/pex_win32.h"
#include "support/wide_text.h"

namespace {

int win32_open(const char *name, int flags) {
  wchar_t *wide = wide_from_utf8(name);
  int fd = _wopen(wide, flags | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  int saved_errno = errno;
  free(wide);
  errno = saved_errno;
  return fd;
}

int win32_open_input(pex_pipeline *, const char *name, int binary) {
  return win32_open(name, _O_RDONLY | (binary ? _O_BINARY : _O_TEXT));
}

int win32_open_output(pex_pipeline *, const char *name, int binary, int append) {
  return win32_open(name, _O_WRONLY | _O_CREAT | (append ? _O_APPEND : _O_TRUNC) |
                              (binary ? _O_BINARY : _O_TEXT));
}

int win32_close_fd(pex_pipeline *, int fd) { return _close(fd); }

int win32_make_pipe(pex_pipeline *, int *fds, int binary) {
  return _pipe(fds, 64 * 1024, _O_NOINHERIT | (binary ? _O_BINARY : _O_TEXT));
}

FILE *win32_stream_from_read_fd(pex_pipeline *, int fd, int binary) {
  return _fdopen(fd, binary ? "rb" : "r");
}

// The descriptor is not inheritable already (every one made here is
// _O_NOINHERIT), so no later child gets it.
FILE *win32_stream_from_write_fd(pex_pipeline *, int fd, int binary) {
  return _fdopen(fd, binary ? "wb" : "w");
}

void win32_release(pex_pipeline *) {}

// FILETIME counts 100 ns.
void split_time(const FILETIME *time, int64_t *seconds, int64_t *microseconds) {
  uint64_t ticks = ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
  *seconds = (int64_t)(ticks / 10000000u);
  *microseconds = (int64_t)(ticks % 10000000u / 10u);
}

// A terminated child ends with exit code 1, the status a POSIX caller
// sees as SIGTERM's closest kin that is no exception.
int win32_wait_child(pex_pipeline *, pid_t pid, int *status, pex_timing *time,
                     int terminate_first, const char **errmsg, int *err) {
  HANDLE process = (HANDLE)(intptr_t)pid;
  if (terminate_first) TerminateProcess(process, 1);
  const char *failed = nullptr;
  DWORD code = 0;
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0)
    failed = "WaitForSingleObject";
  else if (!GetExitCodeProcess(process, &code))
    failed = "GetExitCodeProcess";
  if (failed == nullptr && time != nullptr) {
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
      split_time(&user, &time->user_seconds, &time->user_microseconds);
      split_time(&kernel, &time->system_seconds, &time->system_microseconds);
    }
  }
  if (failed != nullptr) {
    *errmsg = failed;
    *err = (int)GetLastError();
    CloseHandle(process);
    return -1;
  }
  CloseHandle(process);
  *status = (int)code;
  return 0;
}

}  // namespace

const pex_backend pex_win32_backend = {
    win32_open_input,
    win32_open_output,
    pex_win32_spawn_child,
    win32_close_fd,
    win32_wait_child,
    win32_make_pipe,
    win32_stream_from_read_fd,
    win32_stream_from_write_fd,
    win32_release,
};

const pex_backend *const pex_host_backend = &pex_win32_backend;
