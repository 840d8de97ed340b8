// search_path_from_string on fuzzed texts: one prefix per component (':'
// between them, ';' on Windows), in order, each ending in a separator, and longest_len the length of
// the longest; then a lookup along the list, whose one work buffer must
// fit every candidate.
//
// Input: fields separated by NUL bytes.  Every field but the last is a text
// added to one list; the last (when there are at least two) is a name
// looked up along it.

#include <unistd.h>

#include "fuzz/fuzz_util.h"
#include "pathsearch/pathsearch.h"

namespace {

// The prefixes a text adds, in order.
void expected_prefixes(const std::string &text, std::vector<std::string> *prefixes) {
  size_t start = 0;
  for (;;) {
    size_t end = text.find(path_list_separator, start);
    if (end == std::string::npos) end = text.size();
    std::string component = text.substr(start, end - start);
    if (component.empty())
      prefixes->push_back("./");
    else
      prefixes->push_back(ends_with_separator(component) ? component : component + "/");
    if (end == text.size()) return;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> fields = split_fields(data, size);
  size_t texts = fields.size() == 1 ? 1 : fields.size() - 1;

  // Built here rather than as a global so that every node can be freed:
  // the lists never free themselves, and LeakSanitizer would report them.
  search_path list = {};
  std::vector<std::string> expected;
  for (size_t i = 0; i < texts; i++) {
    char *text = exact_copy(fields[i]);
    search_path_from_string(text, &list);
    free(text);  // the list keeps copies, never the caller's text
    expected_prefixes(fields[i], &expected);
  }

  size_t count = 0;
  int32_t longest = 0;
  for (search_dir *dir = list.head; dir != nullptr; dir = dir->next_dir, count++) {
    FUZZ_CHECK(count < expected.size());
    std::string prefix = dir->dir_text;
    FUZZ_CHECK(prefix == expected[count]);
    FUZZ_CHECK(ends_with_separator(prefix));
    FUZZ_CHECK(allocated_size(dir->dir_text) == prefix.size() + 1);
    if ((int32_t)prefix.size() > longest) longest = (int32_t)prefix.size();
  }
  FUZZ_CHECK(count == expected.size());
  FUZZ_CHECK(list.longest_len == longest);

  if (fields.size() > 1) {
    const std::string &name = fields.back();
    char *copy = exact_copy(name);
    char *found = search_path_find(&list, copy, F_OK);
    if (found != nullptr) {
      std::string path = found;
      FUZZ_CHECK(allocated_size(found) >= path.size() + 1);
      if (path_is_absolute(name.c_str())) {
        FUZZ_CHECK(path == name);
      } else {
        bool from_list = false;
        for (const std::string &prefix : expected) from_list |= path == prefix + name;
        FUZZ_CHECK(from_list);
      }
      free(found);
    }
    free(copy);
  }

  for (search_dir *dir = list.head; dir != nullptr;) {
    search_dir *next = dir->next_dir;
    free(dir->dir_text);
    free(dir);
    dir = next;
  }
  return 0;
}
