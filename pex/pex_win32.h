// What the Windows back-end's two files share: pex_win32.cc (descriptors,
// waits, the table) and pex_win32_spawn.cc (starting a child).
#pragma once

#include "pex/pex_backend.h"

// The table's spawn_child: the child's id is its process handle.
pid_t pex_win32_spawn_child(pex_pipeline *pipeline, int flags, const char *executable,
                            char *const *argv, char *const *env, int in, int out, int errdes,
                            int toclose, const char **errmsg, int *err);
