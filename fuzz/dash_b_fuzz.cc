// The driver's -B scan on a fuzzed argument vector: only the first argument
// beginning with "-B" (and, for a lone "-B", the one after it) leaves the
// vector, which stays null-terminated with a matching count; every other
// argument, later "-B" ones included, stays in order, the very same
// pointers.
//
// Input: the arguments, separated by NUL bytes; an empty input is an empty
// vector (argc 0).

#include "frontend/frontend.h"
#include "fuzz/fuzz_util.h"

namespace {

bool begins_with_dash_b(const std::string &arg) { return arg.compare(0, 2, "-B") == 0; }

bool points_into(const char *p, const char *text) {
  return p >= text && p <= text + strlen(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> fields = split_fields(data, size);
  if (size == 0) fields.clear();
  int argc = (int)fields.size();

  // Exactly argc + 1 slots: a scan past the terminator is caught.
  char **argv = (char **)malloc((fields.size() + 1) * sizeof(char *));
  for (size_t i = 0; i < fields.size(); i++) argv[i] = exact_copy(fields[i]);
  argv[argc] = nullptr;
  std::vector<char *> original(argv, argv + argc);

  // The model: the first "-B" argument and what it takes with it.
  size_t option = 0;
  while (option < fields.size() && !begins_with_dash_b(fields[option])) option++;
  dash_b_result expected_result = DASH_B_ABSENT;
  size_t removed = 0;
  std::string expected_dir;
  if (option < fields.size()) {
    if (fields[option].size() > 2) {
      expected_result = DASH_B_TAKEN;
      removed = 1;
      expected_dir = fields[option].substr(2);
    } else if (option + 1 < fields.size()) {
      expected_result = DASH_B_TAKEN;
      removed = 2;
      expected_dir = fields[option + 1];
    } else {
      expected_result = DASH_B_MISSING_DIR;
    }
  }
  std::vector<char *> expected_argv = original;
  expected_argv.erase(expected_argv.begin() + (long)option,
                      expected_argv.begin() + (long)(option + removed));

  int count = argc;
  char *dir = nullptr;
  dash_b_result result = take_dash_b_option(&count, argv, &dir);
  FUZZ_CHECK(result == expected_result);
  FUZZ_CHECK(count == (int)expected_argv.size());
  for (int i = 0; i < count; i++) FUZZ_CHECK(argv[i] == expected_argv[i]);
  FUZZ_CHECK(argv[count] == nullptr);

  if (result == DASH_B_TAKEN) {
    FUZZ_CHECK(dir != nullptr);
    // The directory as given, or with the '/' that a lookup prefix needs.
    std::string text = dir;
    bool needs_slash = !expected_dir.empty() && !ends_with_separator(expected_dir);
    FUZZ_CHECK(text == expected_dir || (needs_slash && text == expected_dir + "/"));
    // A directory that is not simply the argument's own text is the
    // caller's to free.
    bool borrowed = false;
    for (size_t i = option; i < option + removed; i++) borrowed |= points_into(dir, original[i]);
    if (!borrowed) {
      FUZZ_CHECK(allocated_size(dir) == text.size() + 1);
      free(dir);
    }
  }

  for (char *arg : original) free(arg);
  free(argv);
  return 0;
}
