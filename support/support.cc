// Must-succeed allocation, the exit hook, error-number text and the
// str_join family.

#include "support/support.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *alloc_program_name = "";
void (*exit_hook)(int status) = nullptr;
char *str_join_buffer = nullptr;

// "undocumented error #" (20), a sign, ten digits and the terminator.
static char error_text_buffer[32];

void set_alloc_program_name(const char *name) { alloc_program_name = name; }

void exit_with_hook(int status) {
  if (exit_hook != nullptr) exit_hook(status);
  exit(status);
}

// The decimal digits of a size, written backwards from the end of a buffer
// of 21 bytes (the 20 digits of 2^64 - 1 and the terminator).  printf has
// no conversion for size_t that every C runtime takes: Windows' own takes
// neither %zu nor %llu everywhere, and unsigned long is 32 bits there, so
// %lu would print a 64-bit size cut short.
static const char *size_digits(size_t size, char *buffer_end) {
  char *p = buffer_end;
  *--p = '\0';
  do {
    *--p = (char)('0' + size % 10);
    size /= 10;
  } while (size != 0);
  return p;
}

void alloc_failed(size_t size) {
  char digits[21];
  fprintf(stderr, "\n%s%sout of memory allocating %s bytes\n", alloc_program_name,
          *alloc_program_name != '\0' ? ": " : "", size_digits(size, digits + sizeof digits));
  exit_with_hook(1);
}

void *must_malloc(size_t size) {
  if (size == 0) size = 1;
  void *block = malloc(size);
  if (block == nullptr) alloc_failed(size);
  return block;
}

void *must_calloc(size_t count, size_t size) {
  if (count == 0 || size == 0) count = size = 1;
  void *block = calloc(count, size);
  if (block == nullptr) {
    // A product that does not fit in size_t is reported as the largest
    // size rather than as its wrapped-around remainder.
    size_t total;
    if (__builtin_mul_overflow(count, size, &total)) total = SIZE_MAX;
    alloc_failed(total);
  }
  return block;
}

void *must_realloc(void *old_block, size_t size) {
  if (size == 0) size = 1;
  void *block = old_block == nullptr ? malloc(size) : realloc(old_block, size);
  if (block == nullptr) alloc_failed(size);
  return block;
}

char *must_strdup(const char *text) {
  size_t size = strlen(text) + 1;
  return (char *)memcpy(must_malloc(size), text, size);
}

const char *errno_text(int errnum) {
  const char *text = strerror(errnum);
  if (text != nullptr) return text;
  snprintf(error_text_buffer, sizeof error_text_buffer, "undocumented error #%d", errnum);
  return error_text_buffer;
}

// The two passes every joiner is made of.  Each walks its own copy of the
// argument list, up to the null end marker.  The first pass notes the
// lengths of the first few parts, so that the second copies those without
// measuring them again (a join has two or three parts as a rule, and its
// texts are whole paths).  With the search lists' noted lengths, some
// 1,300 instructions a run (bench/README.md; a musl run takes about 7,200
// in all).

constexpr int kNotedLengths = 8;

static size_t join_length(const char *first, va_list args, size_t *noted) {
  size_t total = 0;
  int index = 0;
  for (const char *part = first; part != nullptr; part = va_arg(args, const char *), index++) {
    size_t length = strlen(part);
    if (noted != nullptr && index < kNotedLengths) noted[index] = length;
    total += length;
  }
  return total;
}

static char *join_copy(char *dest, const char *first, va_list args, const size_t *noted) {
  char *end = dest;
  int index = 0;
  for (const char *part = first; part != nullptr; part = va_arg(args, const char *), index++) {
    size_t length = noted != nullptr && index < kNotedLengths ? noted[index] : strlen(part);
    memcpy(end, part, length);
    end += length;
  }
  *end = '\0';
  return dest;
}

size_t str_join_length(const char *first, ...) {
  va_list args;
  va_start(args, first);
  size_t total = join_length(first, args, nullptr);
  va_end(args);
  return total;
}

char *str_join_into(char *dest, ...) {
  va_list args;
  va_start(args, dest);
  const char *first = va_arg(args, const char *);
  join_copy(dest, first, args, nullptr);
  va_end(args);
  return dest;
}

char *str_join_shared(const char *first, ...) {
  va_list args;
  va_start(args, first);
  join_copy(str_join_buffer, first, args, nullptr);
  va_end(args);
  return str_join_buffer;
}

char *str_join(const char *first, ...) {
  va_list args;
  size_t noted[kNotedLengths];
  va_start(args, first);
  size_t total = join_length(first, args, noted);
  va_end(args);

  char *result = (char *)must_malloc(total + 1);
  va_start(args, first);
  join_copy(result, first, args, noted);
  va_end(args);
  return result;
}

char *str_rejoin(char *old, ...) {
  va_list args;
  va_start(args, old);
  const char *first = va_arg(args, const char *);
  size_t noted[kNotedLengths];
  size_t total = join_length(first, args, noted);
  va_end(args);

  char *result = (char *)must_malloc(total + 1);
  va_start(args, old);
  first = va_arg(args, const char *);
  join_copy(result, first, args, noted);
  va_end(args);
  // Only now: old may be one of the parts just copied.
  free(old);
  return result;
}
