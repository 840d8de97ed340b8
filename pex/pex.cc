// The pipeline engine: decides what each stage reads and writes, starts it
// through the back-end table and keeps the record of children, pending
// input and files to remove.  It makes no descriptor or process call of its
// own; only the naming of intermediate files (temp_file_create_unique,
// close), fclose of streams and remove of intermediate files are done here
// directly.
//
// Invariants kept by every function in this file:
//  - every descriptor the engine got from the back-end is either recorded in
//    the pipeline (pending_input_fd, error_pipe_fd), handed to a child
//    through spawn_child, or closed before the call returns;
//  - children are waited for in starting order, so child_ids[0 ..
//    waited_count) are exactly the reaped ones.

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "pex/pex_backend.h"
#include "support/support.h"

pex_pipeline *pex_create_with_backend(int pipeline_flags, const char *program_name,
                                      const char *temp_base_name, const pex_backend *backend) {
  pex_pipeline *pipeline = static_cast<pex_pipeline *>(must_malloc(sizeof(pex_pipeline)));
  pipeline->pipeline_flags = pipeline_flags;
  pipeline->program_name = program_name;
  pipeline->temp_base_name = temp_base_name;
  pipeline->pending_input_fd = 0;
  pipeline->pending_input_path = nullptr;
  pipeline->pending_input_path_owned = 0;
  pipeline->error_pipe_fd = -1;
  pipeline->child_count = 0;
  pipeline->child_ids = nullptr;
  pipeline->child_statuses = nullptr;
  pipeline->child_times = nullptr;
  pipeline->waited_count = 0;
  pipeline->input_stream = nullptr;
  pipeline->last_output_stream = nullptr;
  pipeline->last_error_stream = nullptr;
  pipeline->removal_count = 0;
  pipeline->removal_paths = nullptr;
  pipeline->backend = backend;
  pipeline->backend_data = nullptr;
  return pipeline;
}

const char *pex_stage_output_name(pex_pipeline *pipeline, int flags, const char *name) {
  const char *base = pipeline->temp_base_name;
  if (name != nullptr && (flags & PEX_NAME_IS_SUFFIX) == 0) return name;
  if (name != nullptr) {
    if (base != nullptr) return str_join(base, name, (char *)nullptr);
    return temp_file_make_suffixed(name);
  }
  if (base == nullptr) return temp_file_make_suffixed(nullptr);

  // A base that already ends in the placeholder is a template of its own;
  // anything else gets one appended.
  size_t base_length = strlen(base);
  char *name_template;
  if (base_length >= 6 && strcmp(base + base_length - 6, "XXXXXX") == 0)
    name_template = must_strdup(base);
  else
    name_template = str_join(base, "XXXXXX", (char *)nullptr);
  int fd = temp_file_create_unique(name_template, 0);
  if (fd < 0) {
    free(name_template);
    return nullptr;
  }
  close(fd);
  return name_template;
}

// Grows one of the parallel per-child arrays to child_count entries.  New
// entries start zeroed so that a child whose wait failed never shows stale
// memory.
static void *grow_child_array(void *array, int32_t old_entries, int32_t new_entries,
                              size_t entry_size) {
  char *grown = static_cast<char *>(must_realloc(array, (size_t)new_entries * entry_size));
  if (new_entries > old_entries)
    memset(grown + (size_t)old_entries * entry_size, 0,
           (size_t)(new_entries - old_entries) * entry_size);
  return grown;
}

int pex_collect_children(pex_pipeline *pipeline, int terminate_first, const char **errmsg,
                         int *err) {
  if (pipeline->waited_count == pipeline->child_count) return 1;

  // The arrays always hold waited_count entries before this call (or are
  // null with waited_count 0); times may have been off for earlier
  // collections, in which case the array is shorter or absent.
  int32_t had = pipeline->child_statuses == nullptr ? 0 : pipeline->waited_count;
  pipeline->child_statuses = static_cast<int32_t *>(
      grow_child_array(pipeline->child_statuses, had, pipeline->child_count, sizeof(int32_t)));
  if (pipeline->pipeline_flags & PEX_KEEP_TIMES) {
    int32_t had_times = pipeline->child_times == nullptr ? 0 : pipeline->waited_count;
    pipeline->child_times = static_cast<pex_timing *>(grow_child_array(
        pipeline->child_times, had_times, pipeline->child_count, sizeof(pex_timing)));
  }

  int result = 1;
  for (int32_t i = pipeline->waited_count; i < pipeline->child_count; ++i) {
    pex_timing *time = nullptr;
    if (pipeline->child_times != nullptr && (pipeline->pipeline_flags & PEX_KEEP_TIMES))
      time = &pipeline->child_times[i];
    if (pipeline->backend->wait_child(pipeline, pipeline->child_ids[i],
                                      &pipeline->child_statuses[i], time, terminate_first,
                                      errmsg, err) < 0)
      result = 0;
  }
  pipeline->waited_count = pipeline->child_count;
  return result;
}

// Adding a stage, step by step.  Each step returns null or the message of
// its failure with *err set; the descriptors it opens are the caller's to
// close on a later step's failure.

// The caller's writing into the first stage's input file is over: what it
// wrote must be on disk before the stage reads it.
static const char *close_input_stream(pex_pipeline *pipeline, int *err) {
  FILE *stream = pipeline->input_stream;
  if (stream == nullptr) return nullptr;
  pipeline->input_stream = nullptr;  // forgotten even when the close fails
  if (fclose(stream) != 0) {
    *err = errno;
    return "closing pipeline input file";
  }
  return nullptr;
}

// What can be told from the arguments and the record alone, before
// anything is opened or changed: a refused stage leaves nothing to undo.
static const char *refused_stage(const pex_pipeline *pipeline, int flags, const char *errname,
                                 int *err) {
  const char *errmsg = nullptr;
  if (pipeline->pending_input_path == nullptr && pipeline->pending_input_fd < 0)
    errmsg = "pipeline already complete";
  else if (errname != nullptr && (flags & PEX_STDERR_TO_PIPE))
    errmsg = "both ERRNAME and PEX_STDERR_TO_PIPE specified.";
  else if (pipeline->error_pipe_fd != -1)
    errmsg = "PEX_STDERR_TO_PIPE used in the middle of pipeline";
  if (errmsg != nullptr) *err = 0;  // the engine's own finding
  return errmsg;
}

// The stage's standard input: the previous stage's file, or the pending
// descriptor (0 at first, a pipe's read end in pipe mode).
static const char *stage_input(pex_pipeline *pipeline, int flags, int *in, int *err) {
  if (pipeline->pending_input_path == nullptr) {
    *in = pipeline->pending_input_fd;
    return nullptr;
  }
  // The previous stage's file is complete only once every earlier child
  // has ended.
  const char *errmsg = nullptr;
  if (!pex_collect_children(pipeline, 0, &errmsg, err)) return errmsg;
  *in = pipeline->backend->open_input(pipeline, pipeline->pending_input_path,
                                      (flags & PEX_BINMODE_IN) != 0);
  if (*in < 0) {
    *err = errno;
    return "open temporary file";
  }
  if (pipeline->pending_input_path_owned) free(pipeline->pending_input_path);
  pipeline->pending_input_path_owned = 0;
  pipeline->pending_input_path = nullptr;
  return nullptr;
}

// A non-final stage's file, which the next stage reads; null when none can
// be named.  Unless the pipeline keeps them, it is removed at release.
static const char *intermediate_file(pex_pipeline *pipeline, int flags, const char *outname) {
  const char *name = pex_stage_output_name(pipeline, flags, outname);
  if (name == nullptr) return nullptr;
  bool engine_made = name != outname;
  bool keep = (pipeline->pipeline_flags & PEX_KEEP_TEMPS) != 0;
  if (!keep) {
    pipeline->removal_count++;
    pipeline->removal_paths = static_cast<char **>(
        must_realloc(pipeline->removal_paths, (size_t)pipeline->removal_count * sizeof(char *)));
    pipeline->removal_paths[pipeline->removal_count - 1] =
        engine_made ? const_cast<char *>(name) : must_strdup(name);
  }
  pipeline->pending_input_path = const_cast<char *>(name);
  pipeline->pending_input_path_owned = engine_made && keep;
  return name;
}

static const char *open_output_file(pex_pipeline *pipeline, int flags, const char *name, int *out,
                                    int *err) {
  *out = pipeline->backend->open_output(pipeline, name, (flags & PEX_BINMODE_OUT) != 0,
                                        (flags & PEX_APPEND_OUT) != 0);
  if (*out < 0) {
    *err = errno;
    return "open temporary output file";
  }
  return nullptr;
}

// The stage's standard output, and what the next stage will read.
static const char *stage_output(pex_pipeline *pipeline, int flags, const char *outname, int *out,
                                int *err) {
  if (flags & PEX_FINAL_STAGE) {
    pipeline->pending_input_fd = -1;  // complete, however the open goes
    if (outname == nullptr) {
      *out = 1;
      return nullptr;
    }
    if ((flags & PEX_NAME_IS_SUFFIX) == 0)
      return open_output_file(pipeline, flags, outname, out, err);
    char *joined = str_join(pipeline->temp_base_name, outname, (char *)nullptr);
    const char *errmsg = open_output_file(pipeline, flags, joined, out, err);
    free(joined);
    return errmsg;
  }
  if (pipeline->pipeline_flags & PEX_PIPES) {
    int fds[2];
    if (pipeline->backend->make_pipe(pipeline, fds, (flags & PEX_BINMODE_OUT) != 0) < 0) {
      *err = errno;
      return "pipe";
    }
    *out = fds[1];
    pipeline->pending_input_fd = fds[0];
    return nullptr;
  }
  const char *name = intermediate_file(pipeline, flags, outname);
  if (name == nullptr) {
    *err = 0;
    return "could not create temporary file";
  }
  return open_output_file(pipeline, flags, name, out, err);
}

// The stage's standard error: a file, a pipe the pipeline keeps, or ours.
static const char *stage_error(pex_pipeline *pipeline, int flags, const char *errname,
                               int *errdes, int *err) {
  if (errname != nullptr) {
    *errdes = pipeline->backend->open_output(pipeline, errname, (flags & PEX_BINMODE_ERR) != 0,
                                             (flags & PEX_APPEND_ERR) != 0);
    if (*errdes < 0) {
      *err = errno;
      return "open error file";
    }
  } else if (flags & PEX_STDERR_TO_PIPE) {
    int fds[2];
    if (pipeline->backend->make_pipe(pipeline, fds, (flags & PEX_BINMODE_ERR) != 0) < 0) {
      *err = errno;
      return "pipe";
    }
    *errdes = fds[1];
    pipeline->error_pipe_fd = fds[0];
  } else {
    *errdes = 2;
  }
  return nullptr;
}

static void record_child(pex_pipeline *pipeline, pid_t pid) {
  pipeline->child_count++;
  pipeline->child_ids = static_cast<pid_t *>(
      must_realloc(pipeline->child_ids, (size_t)pipeline->child_count * sizeof(pid_t)));
  pipeline->child_ids[pipeline->child_count - 1] = pid;
}

// After a failed step: the descriptors the child would have got.  An input
// the record still names (the output pipe could not be made) is left for
// the next stage or pex_release; closing it here as well would close it
// twice.
static void close_stage_descriptors(pex_pipeline *pipeline, int in, int out, int errdes) {
  const pex_backend *backend = pipeline->backend;
  if (in != 0 && in != pipeline->pending_input_fd) backend->close_fd(pipeline, in);
  if (out >= 0 && out != 1) backend->close_fd(pipeline, out);
  if (errdes >= 0 && errdes != 2) backend->close_fd(pipeline, errdes);
}

const char *pex_add_stage_env(pex_pipeline *pipeline, int flags, const char *executable,
                              char *const *argv, char *const *env, const char *outname,
                              const char *errname, int *err) {
  const char *errmsg = refused_stage(pipeline, flags, errname, err);
  if (errmsg == nullptr) errmsg = close_input_stream(pipeline, err);
  int in = -1;
  if (errmsg == nullptr) errmsg = stage_input(pipeline, flags, &in, err);
  if (errmsg != nullptr) return errmsg;  // nothing opened yet

  int out = -1;
  int errdes = -1;
  errmsg = stage_output(pipeline, flags, outname, &out, err);
  if (errmsg == nullptr) errmsg = stage_error(pipeline, flags, errname, &errdes, err);
  if (errmsg == nullptr) {
    // In pipe mode the child must not keep the read end of its own output
    // pipe, or the next stage would never see end of file from it.
    int toclose = (pipeline->pipeline_flags & PEX_PIPES) ? pipeline->pending_input_fd : -1;
    pid_t pid = pipeline->backend->spawn_child(pipeline, flags, executable, argv, env, in, out,
                                               errdes, toclose, &errmsg, err);
    if (pid >= 0) {
      record_child(pipeline, pid);
      return nullptr;
    }
  }
  close_stage_descriptors(pipeline, in, out, errdes);
  return errmsg;
}

const char *pex_add_stage(pex_pipeline *pipeline, int flags, const char *executable,
                          char *const *argv, const char *outname, const char *errname,
                          int *err) {
  return pex_add_stage_env(pipeline, flags, executable, argv, nullptr, outname, errname, err);
}

int pex_get_status(pex_pipeline *pipeline, int count, int *statuses) {
  if (pipeline->waited_count < pipeline->child_count) {
    const char *errmsg;
    int err;
    if (!pex_collect_children(pipeline, 0, &errmsg, &err)) return 0;
  }
  if (count < 0) count = 0;
  int copied = count < pipeline->child_count ? count : pipeline->child_count;
  for (int i = 0; i < copied; ++i) statuses[i] = pipeline->child_statuses[i];
  for (int i = copied; i < count; ++i) statuses[i] = 0;
  return 1;
}

void pex_release(pex_pipeline *pipeline) {
  // Closing our read ends first lets a child blocked writing into a pipe
  // see EPIPE instead of waiting for a reader that will never come.
  if (pipeline->pending_input_fd >= 1)
    pipeline->backend->close_fd(pipeline, pipeline->pending_input_fd);
  pipeline->pending_input_fd = -1;
  if (pipeline->error_pipe_fd >= 1) pipeline->backend->close_fd(pipeline, pipeline->error_pipe_fd);
  pipeline->error_pipe_fd = -1;

  if (pipeline->last_output_stream != nullptr) fclose(pipeline->last_output_stream);
  if (pipeline->last_error_stream != nullptr) fclose(pipeline->last_error_stream);

  // Every child not yet reaped is ended and waited for, including stages
  // added after an earlier collection (an intermediate-file pipeline
  // collects before each later stage), so none is left as a zombie.
  if (pipeline->waited_count < pipeline->child_count) {
    const char *errmsg;
    int err;
    pipeline->pipeline_flags &= ~PEX_KEEP_TIMES;
    pex_collect_children(pipeline, 1, &errmsg, &err);
  }

  if (pipeline->pending_input_path_owned) free(pipeline->pending_input_path);
  free(pipeline->child_ids);
  free(pipeline->child_statuses);
  free(pipeline->child_times);
  for (int32_t i = 0; i < pipeline->removal_count; ++i) {
    file_remove(pipeline->removal_paths[i]);
    free(pipeline->removal_paths[i]);
  }
  free(pipeline->removal_paths);
  if (pipeline->backend->release != nullptr) pipeline->backend->release(pipeline);
  free(pipeline);
}
