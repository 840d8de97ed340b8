// Process pipelines: start a chain of programs, each one's standard output
// feeding the next one's standard input through pipes or intermediate files,
// then collect their wait statuses and clean up.
//
// Calling order: pex_create; optionally pex_open_input_file or
// pex_open_input_pipe; pex_add_stage for each program, the last one with
// PEX_FINAL_STAGE; optionally pex_output_stream / pex_error_stream;
// pex_get_status (and pex_copy_times); pex_release.  pex_release may be
// called at any point and always leaves no child unwaited (children not
// yet collected are sent SIGTERM and reaped, including stages added after
// an earlier collection) and no descriptor of the pipeline open.
//
// Failures come back as a constant message naming the failed step (never
// freed by anyone) plus an error number: the platform errno, or 0 when the
// engine itself found the fault.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Stage flags.
enum : int {
  PEX_FINAL_STAGE = 0x1,     // output goes to the named file or stdout
  PEX_USE_PATH = 0x2,        // look the executable up along PATH
  PEX_NAME_IS_SUFFIX = 0x4,  // output name is a suffix to the temp base
  PEX_MERGE_STDERR = 0x8,    // child's stderr goes where its stdout goes
  PEX_BINMODE_IN = 0x10,
  PEX_BINMODE_OUT = 0x20,
  PEX_STDERR_TO_PIPE = 0x40,  // child's stderr into a pipe the pipeline keeps
  PEX_BINMODE_ERR = 0x80,
  PEX_APPEND_OUT = 0x100,
  PEX_APPEND_ERR = 0x200,
};

// Pipeline flags.
enum : int {
  PEX_KEEP_TIMES = 0x1,  // record each child's user and system time
  PEX_PIPES = 0x2,       // join stages by pipes, not intermediate files
  PEX_KEEP_TEMPS = 0x4,  // leave intermediate files on disk
};

struct pex_timing {
  int64_t user_seconds;
  int64_t user_microseconds;
  int64_t system_seconds;
  int64_t system_microseconds;
};

struct pex_pipeline;
struct pex_backend;

// The back-end tables: POSIX (pex_posix.cc) or Windows (pex_win32.cc),
// whichever the build is for, and the one of this host, which pex_create
// and pex_run_once use.
extern const pex_backend pex_posix_backend;
extern const pex_backend pex_win32_backend;
extern const pex_backend *const pex_host_backend;

// Never returns null.  The name pointers are stored, not copied, and must
// outlive the pipeline.
pex_pipeline *pex_create_with_backend(int pipeline_flags, const char *program_name,
                                      const char *temp_base_name, const pex_backend *backend);
pex_pipeline *pex_create(int pipeline_flags, const char *program_name, const char *temp_base_name);

// Starts one stage.  Returns null, or a message with *err set.  A stage
// refused outright (the pipeline complete, errname with PEX_STDERR_TO_PIPE,
// any stage after one whose standard error went into a pipe) is refused
// before anything is opened or changed.
const char *pex_add_stage_env(pex_pipeline *pipeline, int flags, const char *executable,
                              char *const *argv, char *const *env, const char *outname,
                              const char *errname, int *err);
const char *pex_add_stage(pex_pipeline *pipeline, int flags, const char *executable,
                          char *const *argv, const char *outname, const char *errname,
                          int *err);

// Fills count wait statuses, first child first, zero past the last child.
// Returns 1, or 0 when a child could not be waited for.
int pex_get_status(pex_pipeline *pipeline, int count, int *statuses);

void pex_release(pex_pipeline *pipeline);

// Runs one program to completion.  Returns null with *status holding its
// wait status, or a message with *err set (status untouched).
const char *pex_run_once(int flags, const char *executable, char *const *argv,
                         const char *program_name, const char *outname, const char *errname,
                         int *status, int *err);

// Streams.  Refusals return null with errno = EINVAL.
// Before the first stage: the stream writes a file the first stage reads
// (closed by the next pex_add_stage).  A file the caller named stays on
// disk; one the engine named (no name, or a suffix) is removed by
// pex_release unless PEX_KEEP_TEMPS, since the caller cannot name it.
// Until a stage consumes it the stream is the caller's to close.
FILE *pex_open_input_file(pex_pipeline *pipeline, int flags, const char *name);
// Before the first stage of a PEX_PIPES pipeline: the caller writes and
// closes the stream; the first stage reads it.
FILE *pex_open_input_pipe(pex_pipeline *pipeline, int binary);
// After the last (non-final) stage: read its output.  Owned by the
// pipeline, closed by pex_release (or by a later pex_output_stream call).
// A read end that cannot be wrapped is closed, not leaked.
FILE *pex_output_stream(pex_pipeline *pipeline, int binary);
// The PEX_STDERR_TO_PIPE pipe.  Owned by the pipeline.
FILE *pex_error_stream(pex_pipeline *pipeline, int binary);
// Fills count time records; returns 1, or 0 (no PEX_KEEP_TIMES, or a
// failed collection).
int pex_copy_times(pex_pipeline *pipeline, int count, pex_timing *times);
