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

const char *pex_add_stage_env(pex_pipeline *pipeline, int flags, const char *executable,
                              char *const *argv, char *const *env, const char *outname,
                              const char *errname, int *err) {
  const pex_backend *backend = pipeline->backend;
  const char *errmsg = nullptr;
  int in;
  int out = -1;
  int errdes = -1;
  char *joined_outname = nullptr;  // the final stage's base+suffix name
  int toclose;
  pid_t pid;

  if (pipeline->input_stream != nullptr) {
    FILE *stream = pipeline->input_stream;
    pipeline->input_stream = nullptr;
    if (fclose(stream) != 0) {
      *err = errno;
      return "closing pipeline input file";
    }
  }

  if (pipeline->pending_input_path != nullptr) {
    // The previous stage's file is complete only once every earlier child
    // has ended.
    if (!pex_collect_children(pipeline, 0, &errmsg, err)) return errmsg;
    in = backend->open_input(pipeline, pipeline->pending_input_path,
                             (flags & PEX_BINMODE_IN) != 0);
    if (in < 0) {
      *err = errno;
      return "open temporary file";
    }
    if (pipeline->pending_input_path_owned) free(pipeline->pending_input_path);
    pipeline->pending_input_path_owned = 0;
    pipeline->pending_input_path = nullptr;
  } else {
    in = pipeline->pending_input_fd;
    if (in < 0) {
      *err = 0;
      return "pipeline already complete";
    }
  }

  // From here on every failure goes through the clean-up at the end.
  const char *open_name = nullptr;
  if (flags & PEX_FINAL_STAGE) {
    if (outname == nullptr) {
      out = 1;
    } else if (flags & PEX_NAME_IS_SUFFIX) {
      joined_outname = str_join(pipeline->temp_base_name, outname, (char *)nullptr);
      open_name = joined_outname;
    } else {
      open_name = outname;
    }
    pipeline->pending_input_fd = -1;
  } else if (pipeline->pipeline_flags & PEX_PIPES) {
    int fds[2];
    if (backend->make_pipe(pipeline, fds, (flags & PEX_BINMODE_OUT) != 0) < 0) {
      *err = errno;
      errmsg = "pipe";
      goto fail;
    }
    out = fds[1];
    pipeline->pending_input_fd = fds[0];
  } else {
    const char *name = pex_stage_output_name(pipeline, flags, outname);
    if (name == nullptr) {
      *err = 0;
      errmsg = "could not create temporary file";
      goto fail;
    }
    bool engine_made = name != outname;
    if ((pipeline->pipeline_flags & PEX_KEEP_TEMPS) == 0) {
      pipeline->removal_count++;
      pipeline->removal_paths = static_cast<char **>(
          must_realloc(pipeline->removal_paths, (size_t)pipeline->removal_count * sizeof(char *)));
      pipeline->removal_paths[pipeline->removal_count - 1] =
          engine_made ? const_cast<char *>(name) : must_strdup(name);
    }
    pipeline->pending_input_path = const_cast<char *>(name);
    pipeline->pending_input_path_owned =
        engine_made && (pipeline->pipeline_flags & PEX_KEEP_TEMPS) != 0;
    open_name = name;
  }

  if (out < 0) {
    out = backend->open_output(pipeline, open_name, (flags & PEX_BINMODE_OUT) != 0,
                               (flags & PEX_APPEND_OUT) != 0);
    if (out < 0) {
      *err = errno;
      errmsg = "open temporary output file";
      goto fail;
    }
  }
  free(joined_outname);
  joined_outname = nullptr;

  if (errname != nullptr && (flags & PEX_STDERR_TO_PIPE)) {
    *err = 0;
    errmsg = "both ERRNAME and PEX_STDERR_TO_PIPE specified.";
    goto fail;
  }
  if (pipeline->error_pipe_fd != -1) {
    *err = 0;
    errmsg = "PEX_STDERR_TO_PIPE used in the middle of pipeline";
    goto fail;
  }
  if (errname != nullptr) {
    errdes = backend->open_output(pipeline, errname, (flags & PEX_BINMODE_ERR) != 0,
                                  (flags & PEX_APPEND_ERR) != 0);
    if (errdes < 0) {
      *err = errno;
      errmsg = "open error file";
      goto fail;
    }
  } else if (flags & PEX_STDERR_TO_PIPE) {
    int fds[2];
    if (backend->make_pipe(pipeline, fds, (flags & PEX_BINMODE_ERR) != 0) < 0) {
      *err = errno;
      errmsg = "pipe";
      goto fail;
    }
    errdes = fds[1];
    pipeline->error_pipe_fd = fds[0];
  } else {
    errdes = 2;
  }

  // In pipe mode the child must not keep the read end of its own output
  // pipe, or the next stage would never see end of file from it.
  toclose = (pipeline->pipeline_flags & PEX_PIPES) ? pipeline->pending_input_fd : -1;
  pid = backend->spawn_child(pipeline, flags, executable, argv, env, in, out, errdes, toclose,
                             &errmsg, err);
  if (pid < 0) goto fail;

  pipeline->child_count++;
  pipeline->child_ids = static_cast<pid_t *>(
      must_realloc(pipeline->child_ids, (size_t)pipeline->child_count * sizeof(pid_t)));
  pipeline->child_ids[pipeline->child_count - 1] = pid;
  return nullptr;

fail:
  // An input the record still names (the output pipe could not be made) is
  // left for the next stage or pex_release; closing it here as well would
  // close it twice.
  if (in != 0 && in != pipeline->pending_input_fd) backend->close_fd(pipeline, in);
  if (out >= 0 && out != 1) backend->close_fd(pipeline, out);
  if (errdes >= 0 && errdes != 2) backend->close_fd(pipeline, errdes);
  free(joined_outname);
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
