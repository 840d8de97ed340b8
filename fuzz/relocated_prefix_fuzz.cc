// relocated_prefix_unresolved against a straightforward model of the same
// computation, with a fuzzed program name, bin directory, target directory
// and PATH; relocated_prefix (which also resolves symbolic links, so its
// answer depends on the machine) only for memory safety and the shape of
// its result.
//
// Input: fields separated by NUL bytes: program name, bin directory, target
// directory, PATH.  A missing field is a null argument (PATH: unset).

#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/fuzz_util.h"
#include "pathsearch/path_rules.h"
#include "pathsearch/pathsearch.h"

namespace {

// PATH is switched for every input through a buffer handed to putenv once:
// setenv would keep a copy of every value ever set, which grows without
// bound over a fuzzing run.
constexpr size_t kMaxPath = 16384;
char path_setting[sizeof "PATH=" + kMaxPath] = "PATH=";

void set_path(const std::string *value) {
  if (value == nullptr) {
    unset_variable("PATH");
    return;
  }
  size_t length = value->size() < kMaxPath ? value->size() : kMaxPath;
  memcpy(path_setting + 5, value->data(), length);
  path_setting[5 + length] = '\0';
  putenv(path_setting);
}

// Where a program name leads: itself when it holds a separator or PATH is
// unset, else the first PATH entry holding an executable regular file of
// the program's file name (with ".exe" on Windows).
std::string program_path(const std::string &name) {
  const char *path = getenv("PATH");
  if (path_has_separator(name.c_str()) || path == nullptr) return name;
  const char *file = path_program_file_name(name.c_str());
  const std::string file_name = file;
  if (file != name.c_str()) free((void *)file);
  std::string entries = path;
  size_t start = 0;
  for (;;) {
    size_t end = entries.find(path_list_separator, start);
    if (end == std::string::npos) end = entries.size();
    std::string entry = entries.substr(start, end - start);
    std::string candidate;
    if (entry.empty())
      candidate = "./" + file_name;
    else
      candidate = entry + (ends_with_separator(entry) ? "" : "/") + file_name;
    struct stat info;
    if (path_access(candidate.c_str(), X_OK) == 0 && path_stat(candidate.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode))
      return candidate;
    if (end == entries.size()) return name;
    start = end + 1;
  }
}

// Two components are the same directory name for the host (on Windows
// without regard to case, either separator for the other).
bool same_component(const std::string &a, const std::string &b) {
  return a.size() == b.size() && path_texts_equal(a.c_str(), b.c_str(), a.size());
}

bool same_components(const std::vector<std::string> &a, const std::vector<std::string> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (!same_component(a[i], b[i])) return false;
  return true;
}

// The expected result, or false for a null one.
bool model(const std::string &name, const std::string &bin, const std::string &target,
           std::string *result) {
  std::vector<std::string> program = path_components(program_path(name));
  // A program path with no components cannot be located.
  if (program.empty()) return false;
  program.pop_back();  // the file name
  std::vector<std::string> bin_parts = path_components(bin);
  if (same_components(program, bin_parts)) return false;  // running from bin itself
  std::vector<std::string> target_parts = path_components(target);
  size_t common = 0;
  while (common < bin_parts.size() && common < target_parts.size() &&
         same_component(bin_parts[common], target_parts[common]))
    common++;
  if (common == 0) return false;
  result->clear();
  for (const std::string &part : program) *result += part;
  for (size_t i = common; i < bin_parts.size(); i++) *result += "../";
  for (size_t i = common; i < target_parts.size(); i++) *result += target_parts[i];
  return true;
}

// What holds for any non-null result, resolved or not.
void check_shape(const char *result, const std::string &bin, const std::string &target) {
  std::string text = result;
  FUZZ_CHECK(allocated_size(result) == text.size() + 1);
  // Configured directories that end in '/' give a directory that does too;
  // the empty result stands for the current directory.
  if (ends_with_separator(bin) && ends_with_separator(target))
    FUZZ_CHECK(text.empty() || ends_with_separator(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> fields = split_fields(data, size);
  set_path(fields.size() > 3 ? &fields[3] : nullptr);
  // Exact copies, so that reading past a terminator is caught.
  char *args[3] = {};
  for (size_t i = 0; i < 3 && i < fields.size(); i++) args[i] = exact_copy(fields[i]);

  char *result = relocated_prefix_unresolved(args[0], args[1], args[2]);
  if (fields.size() < 3) {
    FUZZ_CHECK(result == nullptr);
  } else {
    std::string expected;
    bool found = model(fields[0], fields[1], fields[2], &expected);
    if (!found && result != nullptr)
      fprintf(stderr, "unexpected result '%s'\n", result);
    FUZZ_CHECK(found == (result != nullptr));
    if (found) {
      if (expected != result)
        fprintf(stderr, "result '%s', expected '%s'\n", result, expected.c_str());
      FUZZ_CHECK(expected == result);
      check_shape(result, fields[1], fields[2]);
    }
  }
  free(result);

  result = relocated_prefix(args[0], args[1], args[2]);
  if (fields.size() < 3)
    FUZZ_CHECK(result == nullptr);
  else if (result != nullptr)
    check_shape(result, fields[1], fields[2]);
  free(result);

  for (char *arg : args) free(arg);
  return 0;
}
