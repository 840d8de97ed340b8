// The POSIX back-end's spawn_child: starting one child with vfork.
//
// The child borrows the parent's memory and stack until it execs or
// _exits, so
//  - everything it needs (descriptors, the files to try, the shell's
//    argument vector, the environment, message pieces) is worked out by the
//    parent before the first try, in a plan that no try changes and the
//    child only reads;
//  - the child makes only async-signal-safe system calls, writes only with
//    raw write, never returns into the frame that started it and never
//    calls exit;
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

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
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

#include "pex/pex_posix.h"
#include "support/support.h"

// Declared by no header on FreeBSD (POSIX leaves it to the program).
extern char **environ;

namespace {

// What a failing child writes into the report pipe, in one write.  The
// step name is a pointer into this program's constant strings, valid in
// the parent because the vfork child runs the parent's own image.
struct spawn_failure_report {
  const char *step_name;
  int32_t error_number;
  int32_t unused;  // written as 0, so that no byte the pipe carries is undefined
};
static_assert(sizeof(spawn_failure_report) <= PIPE_BUF, "the report must be written atomically");

const char step_dup2[] = "dup2";
const char step_close[] = "close";
const char step_execv[] = "execv";
const char step_execvp[] = "execvp";
const char exec_error_head[] = ": error trying to exec '";
const char shell_path[] = "/bin/sh";

// Where PATH is searched when the child's environment does not set it:
// the default of FreeBSD's and glibc's execvp (in their orders).
const char default_search_path[] = "/usr/bin:/bin";

// Everything the child needs, complete before the first try; no try
// changes it.
struct child_plan {
  int fds[3];  // what becomes the child's 0, 1 and 2; one already in place stays
  int toclose;
  bool merge_stderr;
  int report_read;   // -1: no report pipe
  int report_write;  // -1: no report pipe
  // The files to exec in turn, null-terminated: the executable itself
  // (single_file), or with a PATH search the name under each entry of the
  // child's PATH.
  const char *const *files;
  const char *single_file[2];
  char *const *argv;
  char *const *envp;  // the stage's environment, or the caller's own
  // With PEX_USE_PATH, for a file the kernel will not run (ENOEXEC), as
  // execvp does: "/bin/sh", a slot the child fills with that file, then
  // argv[1...].  Null without PEX_USE_PATH: execv runs no shell.
  char **shell_argv;
  const char *exec_step;  // step_execvp or step_execv
  struct sigaction default_action;  // SIG_DFL, nothing blocked
  int signal_limit;                 // one past the highest signal number
  // The fallback message's pieces but the step and the error text, which
  // only the child knows.  They are measured only by a child that has a
  // failure to tell: measuring them on every spawn (a program name and an
  // executable path of some hundred bytes each) cost some 600 instructions
  // a run of the static musl programs.
  const char *program_name;
  const char *head;  // exec_error_head, without ": " when there is no name
  const char *executable;
};

size_t text_length(const char *text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// The one thing a child can do once it cannot go on: report the failed
// step to the parent, or failing that say it on its standard error, and
// _exit.  Neither locks nor allocates: the error text comes from
// pex_child_error_text.
[[noreturn]] void child_failed(const child_plan *plan, const char *step, int error_number) {
  if (plan->report_write >= 0) {
    spawn_failure_report report = {step, error_number, 0};
    if (write(plan->report_write, &report, sizeof report) == (ssize_t)sizeof report) _exit(-1);
  }
  char number_buffer[32];
  const char *error_text = pex_child_error_text(error_number, number_buffer);
  const char *pieces[8] = {plan->program_name, plan->head, plan->executable, "': ",
                           step,               ": ",       error_text,       "\n"};
  bool write_failed = false;
  for (const char *piece : pieces)
    if (write(2, piece, text_length(piece)) < 0) write_failed = true;
  _exit(write_failed ? -2 : -1);
}

// Puts every handled signal back to its default action; ignored ones stay
// ignored across exec, as they would have.
void reset_handled_signals(const child_plan *plan) {
  for (int sig = 1; sig < plan->signal_limit; ++sig) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) != 0) continue;
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) continue;
    sigaction(sig, &plan->default_action, nullptr);
  }
}

// Execs each planned file in turn, as execvp walks PATH: a file missing,
// or not reachable, is passed over; one the kernel will not run as it
// stands goes to the shell.  Returns only when none ran, with the error
// to report: EACCES when that is what kept some file from running, else
// the last error.
int exec_planned_files(const child_plan *plan) {
  bool denied = false;
  int error = ENOENT;
  for (const char *const *file = plan->files; *file != nullptr; ++file) {
    execve(*file, plan->argv, plan->envp);
    error = errno;
    if (error == ENOEXEC && plan->shell_argv != nullptr) {
      plan->shell_argv[1] = const_cast<char *>(*file);
      execve(shell_path, plan->shell_argv, plan->envp);
      return ENOEXEC;  // no shell to run it: the file's own error stands
    }
    if (error == EACCES)
      denied = true;
    else if (error != ENOENT && error != ENOTDIR)
      return error;
  }
  return denied ? EACCES : error;
}

// The child.  System calls only from here on; leaves through exec or
// child_failed and never returns into the parent's frames.  mask_to_restore
// is null when the kernel cleared the handlers and nothing was blocked
// (clone3); after a plain vfork it is the caller's mask, which all signals
// were blocked in place of.
[[noreturn]] __attribute__((noinline)) void run_child(const child_plan *plan,
                                                      const sigset_t *mask_to_restore) {
  if (mask_to_restore != nullptr) reset_handled_signals(plan);
  if (plan->report_read >= 0 && close(plan->report_read) < 0)
    child_failed(plan, step_close, errno);
  for (int target = 0; target < 3; ++target) {
    int fd = plan->fds[target];
    if (fd == target) continue;
    if (dup2(fd, target) < 0) child_failed(plan, step_dup2, errno);
    if (close(fd) < 0) child_failed(plan, step_close, errno);
  }
  if (plan->toclose >= 0 && close(plan->toclose) < 0) child_failed(plan, step_close, errno);
  if (plan->merge_stderr && dup2(1, 2) < 0) child_failed(plan, step_dup2, errno);
  if (mask_to_restore != nullptr) sigprocmask(SIG_SETMASK, mask_to_restore, nullptr);
  child_failed(plan, plan->exec_step, exec_planned_files(plan));
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
  if (result == 0) run_child(plan, nullptr);
  if (result < 0) {
    errno = (int)-result;
    return -1;
  }
  return (pid_t)result;
}
#endif

// One attempt at starting the child.  Returns the child's id, or -1 with
// errno set by the failed vfork.
pid_t start_child(const child_plan *plan) {
#ifdef PEX_HAVE_CLONE3
  // Whatever stops clone3 (an older kernel, a seccomp filter that refuses
  // it), vfork decides the attempt.
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
  pid_t pid = vfork();
  if (pid == 0) run_child(plan, &caller_mask);
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

// A failing start (a process limit, memory short for a moment) is tried
// four times in all, sleeping 1, 2 and then 4 seconds between the tries;
// a sleep after the last one would only delay the failure.  Returns the
// child's id, or -1 with the last failure's errno.
pid_t start_with_retries(const child_plan *plan) {
  const int attempts = 4;
  for (int attempt = 1;; ++attempt) {
    pid_t pid = start_child(plan);
    if (pid > 0 || attempt == attempts) return pid;
    sleep_fully(1u << (attempt - 1));
  }
}

// The value of PATH in an environment vector; null when it is not set.
const char *path_in(char *const *envp) {
  if (envp == nullptr) return nullptr;
  for (char *const *entry = envp; *entry != nullptr; ++entry)
    if (strncmp(*entry, "PATH=", 5) == 0) return *entry + 5;
  return nullptr;
}

// The files the child tries for a PATH search of name: the name under each
// entry of search_list in order, an empty entry meaning the working
// directory.  One block holds the vector and the texts.
const char **path_candidates(const char *name, const char *search_list) {
  size_t entries = 1;
  for (const char *p = search_list; *p != '\0'; ++p) entries += *p == ':';
  size_t name_length = strlen(name);
  // Each entry's text, a '/' or "./", the name and a terminator.
  size_t text_size = strlen(search_list) + entries * (name_length + 3);
  size_t vector_size = (entries + 1) * sizeof(char *);
  const char **files = (const char **)must_malloc(vector_size + text_size);
  char *out = (char *)files + vector_size;
  const char *entry = search_list;
  for (size_t i = 0; i < entries; ++i) {
    size_t length = strcspn(entry, ":");
    files[i] = out;
    if (length == 0) {
      memcpy(out, "./", 2);
      out += 2;
    } else {
      memcpy(out, entry, length);
      out += length;
      *out++ = '/';
    }
    memcpy(out, name, name_length + 1);
    out += name_length + 1;
    entry += length + 1;
  }
  files[entries] = nullptr;
  return files;
}

// The plan's memory: what the files to exec and the shell's vector take.
// The parent frees it once the child has exec'd or ended.
struct plan_memory {
  const char **files;
  char **shell_argv;
};

// The shell's argument vector for a file that is no program: "/bin/sh",
// the slot for the file, argv[1...], the terminator.
char **shell_vector(char *const *argv) {
  size_t count = 1;  // argument 0, even when argv is empty
  while (argv[0] != nullptr && argv[count] != nullptr) ++count;
  char **shell_argv = (char **)must_malloc((count + 2) * sizeof(char *));
  shell_argv[0] = const_cast<char *>(shell_path);
  shell_argv[1] = nullptr;
  for (size_t i = 1; i < count; ++i) shell_argv[i + 1] = argv[i];
  shell_argv[count + 1] = nullptr;
  return shell_argv;
}

void plan_exec(child_plan *plan, plan_memory *memory, int flags, const char *executable,
               char *const *argv, char *const *env) {
  plan->argv = argv;
  plan->envp = env != nullptr ? env : environ;
  plan->single_file[0] = executable;
  plan->single_file[1] = nullptr;
  plan->files = plan->single_file;
  memory->files = nullptr;
  memory->shell_argv = nullptr;
  plan->shell_argv = nullptr;
  plan->exec_step = step_execv;
  if ((flags & PEX_USE_PATH) == 0) return;

  plan->exec_step = step_execvp;
  memory->shell_argv = shell_vector(argv);
  plan->shell_argv = memory->shell_argv;
  // execvp searches PATH only for a name without '/', and never for an
  // empty one.
  if (executable[0] != '\0' && strchr(executable, '/') == nullptr) {
    const char *search_list = path_in(plan->envp);
    memory->files =
        path_candidates(executable, search_list != nullptr ? search_list : default_search_path);
    plan->files = memory->files;
  }
}

void plan_messages(child_plan *plan, const pex_pipeline *pipeline, const char *executable) {
  if (pipeline->program_name != nullptr) {
    plan->program_name = pipeline->program_name;
    plan->head = exec_error_head;
  } else {
    // Without a name the line starts at "error trying to exec".
    plan->program_name = "";
    plan->head = exec_error_head + 2;
  }
  plan->executable = executable;
}

void plan_signals(child_plan *plan) {
  memset(&plan->default_action, 0, sizeof plan->default_action);
  plan->default_action.sa_handler = SIG_DFL;
  sigemptyset(&plan->default_action.sa_mask);
  // NSIG leaves out the real-time signals on FreeBSD (NSIG is 32 there,
  // SIGRTMAX 126), and a handler on one of them must be reset too.
  plan->signal_limit = NSIG;
#ifdef SIGRTMAX
  if (SIGRTMAX + 1 > plan->signal_limit) plan->signal_limit = SIGRTMAX + 1;
#endif
}

// The report pipe's two ends in the plan, or -1 for both when it cannot
// be made: the spawn then goes on without it.  On 0..2 the child's dup2
// calls would overwrite a report end, so an end there is moved up.
void plan_report_pipe(child_plan *plan) {
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) == 0) {
    report[0] = pex_posix_move_above_standard(report[0]);
    report[1] = pex_posix_move_above_standard(report[1]);
    if (report[0] < 0 || report[1] < 0) {
      if (report[0] >= 0) close(report[0]);
      if (report[1] >= 0) close(report[1]);
      report[0] = report[1] = -1;
    }
  }
  plan->report_read = report[0];
  plan->report_write = report[1];
}

// Reads what the child left in the report pipe and closes the parent's
// ends.  True when the child reported a failure, with *report filled; a
// pipe that could not be made or read tells of none.
bool child_reported_failure(const child_plan *plan, spawn_failure_report *report) {
  if (plan->report_read < 0) return false;
  close(plan->report_write);
  ssize_t got;
  do {
    got = read(plan->report_read, report, sizeof *report);
  } while (got < 0 && errno == EINTR);
  close(plan->report_read);
  return got == (ssize_t)sizeof *report && report->step_name != nullptr;
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

pid_t pex_posix_spawn_child(pex_pipeline *pipeline, int flags, const char *executable,
                            char *const *argv, char *const *env, int in, int out, int errdes,
                            int toclose, const char **errmsg, int *err) {
  child_plan plan;
  plan_memory memory;
  plan.fds[0] = in;
  plan.fds[1] = out;
  plan.fds[2] = errdes;
  plan.toclose = toclose;
  plan.merge_stderr = (flags & PEX_MERGE_STDERR) != 0;
  plan_exec(&plan, &memory, flags, executable, argv, env);
  plan_messages(&plan, pipeline, executable);
  plan_signals(&plan);
  plan_report_pipe(&plan);

  pid_t pid = start_with_retries(&plan);
  int start_error = errno;
  // The child has exec'd or ended, or none was started: nothing of the
  // plan is in use now.
  free(memory.files);
  free(memory.shell_argv);
  if (pid < 0) {
    if (plan.report_read >= 0) {
      close(plan.report_read);
      close(plan.report_write);
    }
    *errmsg = "vfork";
    *err = start_error;
    return -1;
  }

  spawn_failure_report report = {nullptr, 0, 0};
  if (child_reported_failure(&plan, &report)) {
    // The child has already _exited; reap it so a failed spawn leaves no
    // zombie.  Its descriptors stay open: the engine closes them.
    int status;
    pex_posix_wait_for(pid, &status, nullptr);
    *errmsg = report.step_name;
    *err = report.error_number;
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

#ifdef PEX_HAVE_CLONE3
const int pex_posix_tries_clone3 = 1;
#else
const int pex_posix_tries_clone3 = 0;
#endif
