// The pipeline record and the back-end table.  For the engine, its
// back-ends and their tests; callers use pex.h.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include "pex/pex.h"

// The platform operations.  Every slot must be filled except release.
// Operations returning a plain number or stream fail with a negative number
// (null stream) and errno set; spawn_child and wait_child fill the error
// pair instead.  The POSIX table's open_input, open_output and make_pipe
// return close-on-exec descriptors above 2, so no child inherits one it
// was not handed and a caller without 0..2 cannot have them clobbered.
struct pex_backend {
  int (*open_input)(pex_pipeline *pipeline, const char *name, int binary);
  int (*open_output)(pex_pipeline *pipeline, const char *name, int binary, int append);
  // Starts a child with in/out/errdes as its fds 0/1/2 and toclose closed.
  // On success the parent's copies of in (unless 0), out (unless 1) and
  // errdes (unless 2) are closed; on failure the caller closes them, and
  // no child of the failed call is left to wait for.
  pid_t (*spawn_child)(pex_pipeline *pipeline, int flags, const char *executable,
                       char *const *argv, char *const *env, int in, int out, int errdes,
                       int toclose, const char **errmsg, int *err);
  int (*close_fd)(pex_pipeline *pipeline, int fd);
  int (*wait_child)(pex_pipeline *pipeline, pid_t pid, int *status, pex_timing *time,
                    int terminate_first, const char **errmsg, int *err);
  int (*make_pipe)(pex_pipeline *pipeline, int *fds, int binary);
  FILE *(*stream_from_read_fd)(pex_pipeline *pipeline, int fd, int binary);
  FILE *(*stream_from_write_fd)(pex_pipeline *pipeline, int fd, int binary);
  void (*release)(pex_pipeline *pipeline);
};

// Non-zero where the POSIX table's spawn_child tries clone3 before vfork
// (Linux on x86-64 and AArch64, not under AddressSanitizer), so that the
// tests can hold that path to working wherever the kernel has clone3.
extern const int pex_posix_tries_clone3;

struct pex_pipeline {
  int32_t pipeline_flags;
  const char *program_name;
  const char *temp_base_name;
  // What the next stage reads: pending_input_path when set, else this fd
  // (0 at first, a pipe's read end in pipe mode, -1 once complete).
  int32_t pending_input_fd;
  char *pending_input_path;
  int32_t pending_input_path_owned;
  int32_t error_pipe_fd;
  int32_t child_count;
  pid_t *child_ids;
  int32_t *child_statuses;
  pex_timing *child_times;
  // The first waited_count children have been waited for.
  int32_t waited_count;
  FILE *input_stream;
  FILE *last_output_stream;
  FILE *last_error_stream;
  int32_t removal_count;
  char **removal_paths;
  const pex_backend *backend;
  void *backend_data;
};

// Waits for every child not yet waited for.  Returns 1, or 0 with the last
// failure's message and error number.
int pex_collect_children(pex_pipeline *pipeline, int terminate_first, const char **errmsg,
                         int *err);

// The file a stage writes: name itself, name as a suffix to the temporary
// base (PEX_NAME_IS_SUFFIX), or a new temporary file.  A result different
// from name is the engine's and must be freed.  Null only when a file
// cannot be made from the temporary base.
const char *pex_stage_output_name(pex_pipeline *pipeline, int flags, const char *name);

// The text the POSIX back-end's child prints for an error number when it
// cannot report a failure to its parent: it must neither lock nor
// allocate.  glibc (2.32 and later) has the untranslated text at hand
// (strerrordesc_np); other C libraries' strerror may read message
// catalogues (FreeBSD's does), so there the text comes from the fixed
// table below.  A number without a text gives "undocumented error #N",
// formatted into buffer.
const char *pex_child_error_text(int errnum, char buffer[32]);

// The fixed table: the errors the child's set-up steps (dup2, close) and
// exec can fail with, by the platform's own numbers, with their usual
// English texts.  Null for a number not in it.
struct pex_error_text {
  int number;
  const char *text;
};
extern const pex_error_text pex_error_texts[];
extern const size_t pex_error_text_count;
const char *pex_error_table_text(int errnum);
