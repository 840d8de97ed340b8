// Streams around a pipeline: the first stage's input written by the
// caller (through a file or a pipe), the last stage's output and the
// standard-error pipe read by the caller, and the children's times.
//
// Ownership: the input-pipe stream is the caller's; the input-file stream
// is closed by the next pex_add_stage; output and error streams belong to
// the pipeline and are closed by pex_release.  A descriptor that cannot be
// wrapped as a stream is closed here, never left unrecorded and open.

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "pex/pex_backend.h"
#include "support/support.h"

// Streams opened here directly are inherited by no child of this or any
// other pipeline (file_open_stream).
FILE *pex_open_input_file(pex_pipeline *pipeline, int flags, const char *name) {
  if (pipeline->child_count != 0 || pipeline->pending_input_fd > 0 ||
      pipeline->pending_input_path != nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const char *path = pex_stage_output_name(pipeline, flags, name);
  if (path == nullptr) return nullptr;
  bool engine_made = path != name;

  FILE *stream = file_open_stream(path, (flags & PEX_BINMODE_OUT) ? "wb" : "w");
  if (stream == nullptr) {
    int saved_errno = errno;
    if (engine_made) {
      file_remove(path);
      free(const_cast<char *>(path));
    }
    errno = saved_errno;
    return nullptr;
  }

  // A file the engine named is one the caller cannot name, so only the
  // pipeline can remove it: it goes on the removal list like an
  // intermediate file (kept under PEX_KEEP_TEMPS).  A caller's file stays.
  bool owned = engine_made;
  if (engine_made && (pipeline->pipeline_flags & PEX_KEEP_TEMPS) == 0) {
    pipeline->removal_count++;
    pipeline->removal_paths = static_cast<char **>(
        must_realloc(pipeline->removal_paths, (size_t)pipeline->removal_count * sizeof(char *)));
    pipeline->removal_paths[pipeline->removal_count - 1] = const_cast<char *>(path);
    owned = false;
  }
  pipeline->input_stream = stream;
  pipeline->pending_input_path = const_cast<char *>(path);
  pipeline->pending_input_path_owned = owned;
  return stream;
}

FILE *pex_open_input_pipe(pex_pipeline *pipeline, int binary) {
  if (pipeline->child_count > 0 || (pipeline->pipeline_flags & PEX_PIPES) == 0 ||
      pipeline->pending_input_fd > 0 || pipeline->pending_input_path != nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const pex_backend *backend = pipeline->backend;
  int fds[2];
  if (backend->make_pipe(pipeline, fds, binary != 0) < 0) return nullptr;
  FILE *stream = backend->stream_from_write_fd(pipeline, fds[1], binary != 0);
  if (stream == nullptr) {
    int saved_errno = errno;
    backend->close_fd(pipeline, fds[0]);
    backend->close_fd(pipeline, fds[1]);
    errno = saved_errno;
    return nullptr;
  }
  pipeline->pending_input_fd = fds[0];
  return stream;
}

// Wraps a read end that the pipeline is handing over; on failure the
// descriptor is closed (errno kept), since nothing records it any more.
static FILE *wrap_read_end(pex_pipeline *pipeline, int fd, int binary) {
  FILE *stream = pipeline->backend->stream_from_read_fd(pipeline, fd, binary);
  if (stream == nullptr) {
    int saved_errno = errno;
    pipeline->backend->close_fd(pipeline, fd);
    errno = saved_errno;
  }
  return stream;
}

FILE *pex_output_stream(pex_pipeline *pipeline, int binary) {
  if (pipeline->pending_input_path != nullptr) {
    const char *errmsg;
    int err;
    if (!pex_collect_children(pipeline, 0, &errmsg, &err)) {
      errno = err;
      return nullptr;
    }
    // A stream from an earlier call is still the pipeline's to close.
    if (pipeline->last_output_stream != nullptr) fclose(pipeline->last_output_stream);
    pipeline->last_output_stream =
        file_open_stream(pipeline->pending_input_path, binary ? "rb" : "r");
    int saved_errno = errno;
    if (pipeline->pending_input_path_owned) free(pipeline->pending_input_path);
    pipeline->pending_input_path_owned = 0;
    pipeline->pending_input_path = nullptr;
    errno = saved_errno;
    return pipeline->last_output_stream;
  }
  if (pipeline->pending_input_fd < 1) return nullptr;

  int fd = pipeline->pending_input_fd;
  pipeline->pending_input_fd = -1;
  if (pipeline->last_output_stream != nullptr) fclose(pipeline->last_output_stream);
  pipeline->last_output_stream = wrap_read_end(pipeline, fd, binary);
  return pipeline->last_output_stream;
}

FILE *pex_error_stream(pex_pipeline *pipeline, int binary) {
  if (pipeline->error_pipe_fd < 1) return nullptr;
  int fd = pipeline->error_pipe_fd;
  pipeline->error_pipe_fd = -1;
  pipeline->last_error_stream = wrap_read_end(pipeline, fd, binary);
  return pipeline->last_error_stream;
}

int pex_copy_times(pex_pipeline *pipeline, int count, pex_timing *times) {
  if (pipeline->waited_count < pipeline->child_count) {
    const char *errmsg;
    int err;
    if (!pex_collect_children(pipeline, 0, &errmsg, &err)) return 0;
  }
  if (pipeline->child_times == nullptr) return 0;
  if (count < 0) count = 0;
  int copied = count < pipeline->child_count ? count : pipeline->child_count;
  for (int i = 0; i < copied; ++i) times[i] = pipeline->child_times[i];
  for (int i = copied; i < count; ++i) memset(&times[i], 0, sizeof times[i]);
  return 1;
}
