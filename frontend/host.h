// What the driver does differently per system, one file each
// (frontend/host_posix.cc, frontend/host_windows.cc), chosen by the build.
#pragma once

// The process environment the driver reads and hands the tool: environ on
// POSIX; on Windows the UTF-8 copy of the wide environment that wmain
// installs in the C runtime's narrow one.
char **host_environment();
void host_set_environment(char **environment);

// Whether argument 0 may locate the running program.  On POSIX it names the
// file the program was started from (or a name PATH finds); on Windows it
// is whatever the caller wrote, and the system is asked instead.
extern const bool host_argument_0_locates_program;

// While the trace writes, a standard error whose reader has gone must end
// nothing (POSIX: SIGPIPE ignored, the given disposition kept);
// host_restore_broken_pipe puts back what the front-end was given before
// the tool starts.
void host_quiet_broken_pipe();
void host_restore_broken_pipe();

// Puts the process in the state a child is waited for in (POSIX: SIGCHLD
// at its default action, so that the kernel does not reap the tool itself).
void host_prepare_run();

// The tool's command line made to fit the system's limit (Windows: the
// user's arguments, from first_user_argument on, moved into a response
// file when the whole would be too long).  Returns tool_argv itself or a
// new vector; host_after_run removes what this made.
char **host_fit_command_line(char **tool_argv, int first_user_argument);
void host_after_run();

// Writes the tool's command to stderr as this host's users would type it:
// each argument a single-quoted word for a POSIX shell; on Windows the
// very command line the tool is started with (its C runtime's quoting).
void host_put_command(char **tool_argv);

// The text of an error number that a failed start reports: errno's on
// POSIX, GetLastError's on Windows.
const char *host_error_text(int err);
