// The fuzz targets' run-time needs on Windows, which has no sanitizers:
// the C runtime's heap keeps the size each block was asked for, and
// _msize gives it back.

#include <malloc.h>
#include <stdlib.h>

#include "fuzz/fuzz_util.h"

size_t allocated_size(const void *block) {
  size_t size = _msize(const_cast<void *>(block));
  FUZZ_CHECK(size != (size_t)-1);
  return size;
}

// "NAME=" removes the variable: the C runtime holds no empty value.
void unset_variable(const char *name) { _putenv_s(name, ""); }
