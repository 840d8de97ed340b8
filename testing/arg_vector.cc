// zov_test::arg_vector (testing/process.h), apart from the running of
// programs, which is POSIX's: the Windows tests use it too.

#include "testing/process.h"

namespace zov_test {

arg_vector::arg_vector(std::vector<std::string> items) : texts(std::move(items)) { point(); }

arg_vector &arg_vector::operator=(const arg_vector &other) {
  if (this != &other) {
    texts = other.texts;
    point();
  }
  return *this;
}

void arg_vector::point() {
  pointers.clear();
  for (std::string &text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
}

bool arg_vector::owns(const char *p) const {
  for (const std::string &text : texts)
    if (p >= text.data() && p <= text.data() + text.size()) return true;
  return false;
}

}  // namespace zov_test
