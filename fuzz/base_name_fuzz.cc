// The base-name functions on any text: the result points inside the text,
// no separator follows it, and it starts the text (after a DOS drive
// prefix) or follows a separator.

#include "fuzz/fuzz_util.h"
#include "pathsearch/pathsearch.h"

namespace {

// No byte other than the 52 ASCII letters names a drive, whatever the
// locale says.
bool is_drive_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void check_base(const char *text, size_t length, const char *start, const char *base,
                bool backslash_separates) {
  auto separates = [&](char c) { return c == '/' || (backslash_separates && c == '\\'); };
  FUZZ_CHECK(base >= start && base <= text + length);
  for (const char *p = base; *p != '\0'; p++) FUZZ_CHECK(!separates(*p));
  FUZZ_CHECK(base == start || separates(base[-1]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input((const char *)data, size);
  input.resize(strlen(input.c_str()));
  char *text = exact_copy(input);
  size_t length = input.size();

  const char *base = base_name(text);
  // The host's own: on Windows '\\' separates too.
  check_base(text, length, text, base, path_is_separator('\\'));
  FUZZ_CHECK(base_name_posix(text) == base);

  const char *start = text;
  if (length >= 2 && is_drive_letter(text[0]) && text[1] == ':') start += 2;
  check_base(text, length, start, base_name_dos(text), true);

  free(text);
  return 0;
}
