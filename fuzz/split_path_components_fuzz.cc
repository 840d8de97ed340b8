// split_path_components on any path: the components join back to the path
// byte for byte, each is a separate exact allocation, and the count matches
// the runs of '/'.

#include "fuzz/fuzz_util.h"
#include "pathsearch/pathsearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string path((const char *)data, size);
  path.resize(strlen(path.c_str()));  // a C string ends at its first NUL
  char *text = exact_copy(path);

  size_t runs = 0;
  for (size_t i = 0; i < path.size(); i++)
    if (path_is_separator(path[i]) && (i == 0 || !path_is_separator(path[i - 1]))) runs++;
  bool tail = !path.empty() && !ends_with_separator(path);
  std::vector<std::string> expected = path_components(path);
  FUZZ_CHECK(expected.size() == runs + tail);

  int32_t count = -12345;
  char **components = split_path_components(text, &count);
  // Only an allocation failure may give null, and inputs this small cannot
  // exhaust memory.
  FUZZ_CHECK(components != nullptr);
  FUZZ_CHECK(count >= 0 && (size_t)count == expected.size());
  FUZZ_CHECK(components[count] == nullptr);
  FUZZ_CHECK(allocated_size(components) >= (size_t)(count + 1) * sizeof(char *));

  std::string joined;
  for (int32_t i = 0; i < count; i++) {
    std::string component = components[i];
    FUZZ_CHECK(!component.empty());
    FUZZ_CHECK(component == expected[i]);
    FUZZ_CHECK(allocated_size(components[i]) == component.size() + 1);
    // Only the last component may lack the '/' that ends it.
    FUZZ_CHECK(i == count - 1 || ends_with_separator(component));
    joined += component;
  }
  FUZZ_CHECK(joined == path);

  // The caller owns every string and the array.
  for (int32_t i = 0; i < count; i++) free(components[i]);
  free(components);

  // Without a count pointer the same list comes back; free_path_components
  // releases it.
  components = split_path_components(text, nullptr);
  FUZZ_CHECK(components != nullptr);
  for (int32_t i = 0; i < count; i++) FUZZ_CHECK(components[i] && expected[i] == components[i]);
  FUZZ_CHECK(components[count] == nullptr);
  free_path_components(components);

  free(text);
  return 0;
}
