// pex_create and pex_run_once, on the host's back-end.

#include "pex/pex_backend.h"

pex_pipeline *pex_create(int pipeline_flags, const char *program_name,
                         const char *temp_base_name) {
  return pex_create_with_backend(pipeline_flags, program_name, temp_base_name, pex_host_backend);
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
