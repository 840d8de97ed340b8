// Which file is the running program: what the front-ends compare a
// candidate tool with, so that they never run themselves.

#include <stdlib.h>
#include <sys/stat.h>

#include "pathsearch/pathsearch.h"

namespace {

// The running program's identity, learnt once, when first asked: a run
// that never asks pays nothing.
struct own_identity {
  bool asked;
  bool known;
  dev_t device;
  ino_t inode;
};
own_identity from_system;
own_identity from_fallback;
const char *fallback_path;

// The path the system gives, then stat of it, rather than stat of Linux's
// /proc/self/exe straight away: one system call more, but qemu-user
// answers a readlink of that link with the emulated program and a stat of
// it with itself, and a cross toolchain's front-ends are run under
// qemu-user often enough.
void learn(own_identity *identity, const char *path) {
  identity->asked = true;
  struct stat own;
  identity->known = path != nullptr && stat(path, &own) == 0;
  if (identity->known) {
    identity->device = own.st_dev;
    identity->inode = own.st_ino;
  }
}

const own_identity *system_identity() {
  if (!from_system.asked) {
    char *path = running_program_path();
    learn(&from_system, path);
    free(path);
  }
  return &from_system;
}

bool same_file(const own_identity *identity, const struct stat *st) {
  return st->st_dev == identity->device && st->st_ino == identity->inode;
}

}  // namespace

void set_running_program_fallback(const char *path) {
  fallback_path = path;
  from_fallback.asked = false;
}

bool is_running_program(const struct stat *st) {
  const own_identity *identity = system_identity();
  if (!identity->known) {
    if (!from_fallback.asked) learn(&from_fallback, fallback_path);
    identity = &from_fallback;
  }
  return identity->known && same_file(identity, st);
}

int system_says_running_program(const char *path) {
  const own_identity *identity = system_identity();
  if (!identity->known) return -1;
  struct stat st;
  return stat(path, &st) == 0 && same_file(identity, &st);
}
