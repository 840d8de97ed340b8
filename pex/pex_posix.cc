// The POSIX back-end of the pipeline engine, pex_create and pex_run_once.
//
// Children start with vfork: the child borrows the parent's memory and
// stack until it execs or _exits, so
//  - everything it needs (descriptors, vectors, message pieces) is worked
//    out by the parent before vfork, in a plan the child only reads; the
//    pieces are measured by the child itself, with a plain loop, and only
//    when it has a failure to tell;
//  - the child makes only async-signal-safe system calls, writes only with
//    raw write, never returns from run_child and never calls exit;
//  - no handler of the caller may run in the child while it shares the
//    caller's memory.  On Linux the child is started through clone3 with
//    CLONE_CLEAR_SIGHAND, a vfork whose child the kernel creates with
//    every handled signal back at its default action.  Elsewhere, or where
//    clone3 is refused, every signal is blocked across a plain vfork and the
//    child puts each handled signal back to its default action
//    (dispositions are the child's own) before restoring the caller's mask
//    just ahead of exec: some 66 system calls more per spawn, which is why
//    clone3 is worth having.
// A child whose set-up or exec fails reports the failed call's name and
// errno through a close-on-exec "report pipe"; the parent turns that into
// its own failure and reaps the child, so a failed spawn leaves nothing
// behind.
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

// clone3 with CLONE_CLEAR_SIGHAND (Linux 5.5) on the architectures whose
// system call convention is spelled out below.  Not under AddressSanitizer,
// whose bookkeeping of the shared stack knows vfork but not a raw clone3.
// FreeBSD has no clone3, and its vfork is a true one (the parent's memory
// shared, the parent suspended), so it takes the plain vfork path below.
#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))
#include <linux/sched.h>
#include <sys/syscall.h>
#if defined(SYS_clone3) && defined(CLONE_CLEAR_SIGHAND)
#define PEX_HAVE_CLONE3 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#undef PEX_HAVE_CLONE3
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#undef PEX_HAVE_CLONE3
#endif
#endif

#include "pex/pex_backend.h"
#include "support/support.h"

// Declared by no header on FreeBSD (POSIX leaves it to the program).
extern char **environ;

namespace {

// Moves a new descriptor that landed on 0, 1 or 2 (the caller had closed
// them) above them, keeping it close-on-exec.  Returns the descriptor in
// use, or -1 with errno set and the original closed.
// F_DUPFD_CLOEXEC, like pipe2 below, is in FreeBSD from 10.0 on.
int move_above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int saved_errno = errno;
  close(fd);
  errno = saved_errno;
  return moved;
}

int posix_open_input(pex_pipeline *, const char *name, int) {
  return move_above_standard(open(name, O_RDONLY | O_CLOEXEC));
}

int posix_open_output(pex_pipeline *, const char *name, int, int append) {
  int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  return move_above_standard(open(name, mode, 0666));
}

int posix_close_fd(pex_pipeline *, int fd) { return close(fd); }

int posix_make_pipe(pex_pipeline *, int *fds, int) {
  int made[2];
  if (pipe2(made, O_CLOEXEC) < 0) return -1;
  made[0] = move_above_standard(made[0]);
  made[1] = move_above_standard(made[1]);
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

// Retries a wait interrupted by a signal: the caller's handlers are no
// reason to lose a child's status.
pid_t wait_for(pid_t pid, int *status, struct rusage *usage) {
  pid_t result;
  do {
    result = usage != nullptr ? wait4(pid, status, 0, usage) : waitpid(pid, status, 0);
  } while (result < 0 && errno == EINTR);
  return result;
}

int posix_wait_child(pex_pipeline *, pid_t pid, int *status, pex_timing *time,
                     int terminate_first, const char **errmsg, int *err) {
  if (terminate_first) kill(pid, SIGTERM);
  pid_t result;
  if (time != nullptr) {
    struct rusage usage;
    result = wait_for(pid, status, &usage);
    if (result >= 0) {
      time->user_seconds = usage.ru_utime.tv_sec;
      time->user_microseconds = usage.ru_utime.tv_usec;
      time->system_seconds = usage.ru_stime.tv_sec;
      time->system_microseconds = usage.ru_stime.tv_usec;
    }
  } else {
    result = wait_for(pid, status, nullptr);
  }
  if (result < 0) {
    *errmsg = "wait";
    *err = errno;
    return -1;
  }
  return 0;
}

// What a failing child writes into the report pipe, in one write.  The
// step name is a pointer into this program's constant strings, valid in
// the parent because the vfork child runs the parent's own image.
struct spawn_failure_report {
  const char *step_name;
  int32_t error_number;
};
static_assert(sizeof(spawn_failure_report) <= PIPE_BUF, "the report must be written atomically");

const char step_dup2[] = "dup2";
const char step_close[] = "close";
const char step_execv[] = "execv";
const char step_execvp[] = "execvp";
const char exec_error_head[] = ": error trying to exec '";

// Everything the child needs, prepared by the parent before vfork.  The
// child only reads it.
struct child_plan {
  int flags;
  const char *executable;
  char *const *argv;
  char *const *env;
  int in;
  int out;
  int errdes;
  int toclose;
  int report_read;
  int report_write;
  const char *program_name;
  const char *head;  // exec_error_head, without ": " when there is no name
  // Set for a child of plain vfork, which must reset the handled signals
  // itself and restore this mask (the caller's) just before exec; null
  // when the kernel cleared the handlers and nothing was blocked.
  const sigset_t *caller_mask;
  int signal_limit;  // one past the highest signal number
};

size_t text_length(const char *text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

}  // namespace

// Without strerror, which may translate (locks, allocation) and so is not
// safe in the vfork child.  Formats the "undocumented error #N" fallback
// itself into the caller's buffer.
const char *pex_child_error_text(int errnum, char buffer[32]) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  const char *text = strerrordesc_np(errnum);
#else
  // FreeBSD, musl, older glibc: the fixed table of pex_error_table.cc.
  const char *text = pex_error_table_text(errnum);
#endif
  if (text != nullptr) return text;
  static const char prefix[] = "undocumented error #";
  char digits[12];
  int count = 0;
  unsigned magnitude = errnum < 0 ? 0u - (unsigned)errnum : (unsigned)errnum;
  do {
    digits[count++] = (char)('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t at = 0;
  for (size_t i = 0; prefix[i] != '\0'; ++i) buffer[at++] = prefix[i];
  if (errnum < 0) buffer[at++] = '-';
  while (count > 0) buffer[at++] = digits[--count];
  buffer[at] = '\0';
  return buffer;
}

namespace {

// The vfork child.  Only system calls from here on; leaves through exec
// or _exit and never returns into the parent's frames.
[[noreturn]] __attribute__((noinline)) void run_child(const child_plan *plan) {
  const char *step = step_close;

  // A handler of the caller must not run in this process while it shares
  // the caller's memory; ignored signals stay ignored across exec.
  if (plan->caller_mask != nullptr) {
    for (int sig = 1; sig < plan->signal_limit; ++sig) {
      struct sigaction action;
      if (sigaction(sig, nullptr, &action) != 0) continue;
      if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) continue;
      action.sa_handler = SIG_DFL;
      action.sa_flags = 0;
      sigemptyset(&action.sa_mask);
      sigaction(sig, &action, nullptr);
    }
  }

  if (plan->report_read >= 0 && close(plan->report_read) < 0) goto failed;
  if (plan->in != 0) {
    step = step_dup2;
    if (dup2(plan->in, 0) < 0) goto failed;
    step = step_close;
    if (close(plan->in) < 0) goto failed;
  }
  if (plan->out != 1) {
    step = step_dup2;
    if (dup2(plan->out, 1) < 0) goto failed;
    step = step_close;
    if (close(plan->out) < 0) goto failed;
  }
  if (plan->errdes != 2) {
    step = step_dup2;
    if (dup2(plan->errdes, 2) < 0) goto failed;
    step = step_close;
    if (close(plan->errdes) < 0) goto failed;
  }
  if (plan->toclose >= 0) {
    step = step_close;
    if (close(plan->toclose) < 0) goto failed;
  }
  if (plan->flags & PEX_MERGE_STDERR) {
    step = step_dup2;
    if (dup2(1, 2) < 0) goto failed;
  }

  // execvp searches PATH in the environment installed here.  The parent
  // puts its own environ back once vfork returns.
  if (plan->env != nullptr) environ = const_cast<char **>(plan->env);
  if (plan->caller_mask != nullptr) sigprocmask(SIG_SETMASK, plan->caller_mask, nullptr);
  if (plan->flags & PEX_USE_PATH) {
    step = step_execvp;
    execvp(plan->executable, plan->argv);
  } else {
    step = step_execv;
    execv(plan->executable, plan->argv);
  }

failed: {
  int error_number = errno;
  if (plan->report_write >= 0) {
    spawn_failure_report report;
    memset(&report, 0, sizeof report);
    report.step_name = step;
    report.error_number = error_number;
    if (write(plan->report_write, &report, sizeof report) == (ssize_t)sizeof report) _exit(-1);
  }

  // No way to tell the parent: say it on our standard error instead.
  char number_buffer[32];
  const char *error_text = pex_child_error_text(error_number, number_buffer);
  const char *pieces[8] = {plan->program_name, plan->head, plan->executable, "': ",
                           step,               ": ",       error_text,       "\n"};
  bool write_failed = false;
  for (int i = 0; i < 8; ++i)
    if (write(2, pieces[i], text_length(pieces[i])) < 0) write_failed = true;
  _exit(write_failed ? -2 : -1);
}
}

#ifdef PEX_HAVE_CLONE3
// The clone3 system call, made inline rather than through a function that
// returns: like vfork's, the child resumes on the caller's stack, and its
// next call would overwrite the return address that the suspended parent
// still has to return through.
[[gnu::always_inline]] inline long clone3_call(struct clone_args *args) {
#if defined(__x86_64__)
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "0"((long)SYS_clone3), "D"(args), "S"(sizeof *args)
                   : "rcx", "r11", "memory");
  return result;
#else
  register long number __asm__("x8") = SYS_clone3;
  register long result __asm__("x0") = (long)args;
  register long size __asm__("x1") = sizeof *args;
  __asm__ volatile("svc 0" : "+r"(result) : "r"(number), "r"(size) : "memory");
  return result;
#endif
}

// vfork through clone3, with the kernel resetting every handled signal to
// its default action in the child as it creates it.  Returns the child's
// id, or -1 with errno set (ENOSYS before Linux 5.3, EINVAL before 5.5).
[[gnu::noinline]] pid_t clone_clearing_handlers(const child_plan *plan) {
  struct clone_args args;
  memset(&args, 0, sizeof args);
  args.flags = CLONE_VM | CLONE_VFORK | CLONE_CLEAR_SIGHAND;
  args.exit_signal = SIGCHLD;
  long result = clone3_call(&args);
  if (result == 0) run_child(plan);
  if (result < 0) {
    errno = (int)-result;
    return -1;
  }
  return (pid_t)result;
}
#endif

// One attempt at starting the child.  Returns the child's id, or -1 with
// errno set by the failed vfork.
pid_t start_child(child_plan *plan) {
#ifdef PEX_HAVE_CLONE3
  // Whatever stops clone3 (an older kernel, a seccomp filter that refuses
  // it), vfork decides the attempt.
  plan->caller_mask = nullptr;
  pid_t child = clone_clearing_handlers(plan);
  if (child > 0) return child;
#endif

  // Signals are blocked only across vfork itself: the caller's mask is
  // back before any retry sleep, so a spawn waiting out a failing vfork
  // can still be interrupted.
  sigset_t all_signals;
  sigset_t caller_mask;
  sigfillset(&all_signals);
  pthread_sigmask(SIG_SETMASK, &all_signals, &caller_mask);
  plan->caller_mask = &caller_mask;
  pid_t pid = vfork();
  if (pid == 0) run_child(plan);
  int vfork_error = errno;
  pthread_sigmask(SIG_SETMASK, &caller_mask, nullptr);
  errno = vfork_error;
  return pid;
}

// sleep() returns early when a signal arrives; the retry interval should
// not shrink because the caller has a timer running.
void sleep_fully(unsigned seconds) {
  while (seconds > 0) seconds = sleep(seconds);
}

pid_t posix_spawn_child(pex_pipeline *pipeline, int flags, const char *executable,
                        char *const *argv, char *const *env, int in, int out, int errdes,
                        int toclose, const char **errmsg, int *err) {
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) == 0) {
    // On 0..2 the child's dup2 calls would overwrite a report end.
    report[0] = move_above_standard(report[0]);
    report[1] = move_above_standard(report[1]);
    if (report[0] < 0 || report[1] < 0) {
      if (report[0] >= 0) close(report[0]);
      if (report[1] >= 0) close(report[1]);
      report[0] = report[1] = -1;
    }
  }

  child_plan plan;
  plan.flags = flags;
  plan.executable = executable;
  plan.argv = argv;
  plan.env = env;
  plan.in = in;
  plan.out = out;
  plan.errdes = errdes;
  plan.toclose = toclose;
  plan.report_read = report[0];
  plan.report_write = report[1];
  if (pipeline->program_name != nullptr) {
    plan.program_name = pipeline->program_name;
    plan.head = exec_error_head;
  } else {
    // Without a name the line starts at "error trying to exec".
    plan.program_name = "";
    plan.head = exec_error_head + 2;
  }
  // NSIG leaves out the real-time signals on FreeBSD (NSIG is 32 there,
  // SIGRTMAX 126), and a handler on one of them must be reset too.
  plan.signal_limit = NSIG;
#ifdef SIGRTMAX
  if (SIGRTMAX + 1 > plan.signal_limit) plan.signal_limit = SIGRTMAX + 1;
#endif

  char **saved_environ = environ;
  pid_t pid = -1;
  int vfork_error = 0;
  unsigned delay = 1;
  const int attempts = 4;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    pid = start_child(&plan);
    vfork_error = errno;
    environ = saved_environ;
    if (pid > 0) break;
    // A sleep after the last attempt would only delay the failure.
    if (attempt + 1 == attempts) break;
    sleep_fully(delay);
    delay *= 2;
  }
  if (pid < 0) {
    if (report[0] >= 0) {
      close(report[0]);
      close(report[1]);
    }
    *errmsg = "vfork";
    *err = vfork_error;
    return -1;
  }

  spawn_failure_report report_read;
  report_read.step_name = nullptr;
  report_read.error_number = 0;
  if (report[0] >= 0) {
    close(report[1]);
    ssize_t got;
    do {
      got = read(report[0], &report_read, sizeof report_read);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got != (ssize_t)sizeof report_read) report_read.step_name = nullptr;
  }

  if (report_read.step_name != nullptr) {
    // The child has already _exited; reap it so a failed spawn leaves no
    // zombie.  Its descriptors stay open: the engine closes them.
    int status;
    wait_for(pid, &status, nullptr);
    *errmsg = report_read.step_name;
    *err = report_read.error_number;
    return -1;
  }

  // The child holds its own copies now.  A failing close still releases
  // the descriptor (Linux, the BSDs), and reporting it would strand a
  // running child whose id the caller never learns, so it is not a
  // failure of the spawn.
  if (in != 0) close(in);
  if (out != 1) close(out);
  if (errdes != 2) close(errdes);
  return pid;
}

}  // namespace

#ifdef PEX_HAVE_CLONE3
const int pex_posix_tries_clone3 = 1;
#else
const int pex_posix_tries_clone3 = 0;
#endif

const pex_backend pex_posix_backend = {
    posix_open_input,
    posix_open_output,
    posix_spawn_child,
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
