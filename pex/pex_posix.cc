// The POSIX back-end of the pipeline engine, pex_create and pex_run_once.
// Starting a child, the delicate part, is pex_posix_spawn.cc.
//
// Descriptors made here are close-on-exec and never 0, 1 or 2, so that no
// child inherits a pipe end it was not given and a caller that closed its
// standard descriptors cannot have them clobbered by the child's dup2
// calls.  dup2 clears close-on-exec on its target, so the descriptors
// moved to 0/1/2 in the child still arrive.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pex/pex_posix.h"

// Moves a new descriptor that landed on 0, 1 or 2 (the caller had closed
// them) above them, keeping it close-on-exec.  Returns the descriptor in
// use, or -1 with errno set and the original closed.
// F_DUPFD_CLOEXEC, like pipe2 below, is in FreeBSD from 10.0 on.
int pex_posix_move_above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int saved_errno = errno;
  close(fd);
  errno = saved_errno;
  return moved;
}

// Retries a wait interrupted by a signal: the caller's handlers are no
// reason to lose a child's status.
pid_t pex_posix_wait_for(pid_t pid, int *status, struct rusage *usage) {
  pid_t result;
  do {
    result = usage != nullptr ? wait4(pid, status, 0, usage) : waitpid(pid, status, 0);
  } while (result < 0 && errno == EINTR);
  return result;
}

namespace {

int posix_open_input(pex_pipeline *, const char *name, int) {
  return pex_posix_move_above_standard(open(name, O_RDONLY | O_CLOEXEC));
}

int posix_open_output(pex_pipeline *, const char *name, int, int append) {
  int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  return pex_posix_move_above_standard(open(name, mode, 0666));
}

int posix_close_fd(pex_pipeline *, int fd) { return close(fd); }

int posix_make_pipe(pex_pipeline *, int *fds, int) {
  int made[2];
  if (pipe2(made, O_CLOEXEC) < 0) return -1;
  made[0] = pex_posix_move_above_standard(made[0]);
  made[1] = pex_posix_move_above_standard(made[1]);
  if (made[0] < 0 || made[1] < 0) {
    int saved_errno = errno;
    if (made[0] >= 0) close(made[0]);
    if (made[1] >= 0) close(made[1]);
    errno = saved_errno;
    return -1;
  }
  fds[0] = made[0];
  fds[1] = made[1];
  return 0;
}

FILE *posix_stream_from_read_fd(pex_pipeline *, int fd, int) { return fdopen(fd, "r"); }

FILE *posix_stream_from_write_fd(pex_pipeline *, int fd, int) {
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) return nullptr;
  return fdopen(fd, "w");
}

void posix_release(pex_pipeline *) {}

int posix_wait_child(pex_pipeline *, pid_t pid, int *status, pex_timing *time,
                     int terminate_first, const char **errmsg, int *err) {
  if (terminate_first) kill(pid, SIGTERM);
  pid_t result;
  if (time != nullptr) {
    struct rusage usage;
    result = pex_posix_wait_for(pid, status, &usage);
    if (result >= 0) {
      time->user_seconds = usage.ru_utime.tv_sec;
      time->user_microseconds = usage.ru_utime.tv_usec;
      time->system_seconds = usage.ru_stime.tv_sec;
      time->system_microseconds = usage.ru_stime.tv_usec;
    }
  } else {
    result = pex_posix_wait_for(pid, status, nullptr);
  }
  if (result < 0) {
    *errmsg = "wait";
    *err = errno;
    return -1;
  }
  return 0;
}

}  // namespace

const pex_backend pex_posix_backend = {
    posix_open_input,
    posix_open_output,
    pex_posix_spawn_child,
    posix_close_fd,
    posix_wait_child,
    posix_make_pipe,
    posix_stream_from_read_fd,
    posix_stream_from_write_fd,
    posix_release,
};

pex_pipeline *pex_create(int pipeline_flags, const char *program_name,
                         const char *temp_base_name) {
  return pex_create_with_backend(pipeline_flags, program_name, temp_base_name,
                                 &pex_posix_backend);
}

const char *pex_run_once(int flags, const char *executable, char *const *argv,
                         const char *program_name, const char *outname, const char *errname,
                         int *status, int *err) {
  pex_pipeline *pipeline = pex_create(0, program_name, nullptr);
  const char *errmsg = pex_add_stage(pipeline, flags, executable, argv, outname, errname, err);
  if (errmsg == nullptr && !pex_get_status(pipeline, 1, status)) {
    errmsg = "pex_get_status failed";
    *err = 0;
  }
  pex_release(pipeline);
  return errmsg;
}
