// The fuzz targets' run-time needs under libFuzzer and AddressSanitizer,
// whose allocator records the size every block was asked for.

#include <sanitizer/allocator_interface.h>
#include <stdlib.h>

#include "fuzz/fuzz_util.h"

size_t allocated_size(const void *block) {
  FUZZ_CHECK(__sanitizer_get_ownership(block));
  return __sanitizer_get_allocated_size(block);
}

void unset_variable(const char *name) { unsetenv(name); }
