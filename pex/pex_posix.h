// What the POSIX back-end's two files share: pex_posix.cc (descriptors,
// waits, the table) and pex_posix_spawn.cc (starting a child).
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include "pex/pex_backend.h"

// Moves a new descriptor that landed on 0, 1 or 2 (the caller had closed
// them) above them, keeping it close-on-exec.  Returns the descriptor in
// use, or -1 with errno set and the original closed.
int pex_posix_move_above_standard(int fd);

// wait4 (with usage) or waitpid of one child, retried when a signal
// interrupts it.
pid_t pex_posix_wait_for(pid_t pid, int *status, struct rusage *usage);

// The table's spawn_child.
pid_t pex_posix_spawn_child(pex_pipeline *pipeline, int flags, const char *executable,
                            char *const *argv, char *const *env, int in, int out, int errdes,
                            int toclose, const char **errmsg, int *err);
