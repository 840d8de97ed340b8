// What the stand-in tool (stand_in_tool.cc, in the place of the wrapped
// ar, nm or ranlib in the front-end tests) recorded of its run.
#pragma once

#include <string>
#include <vector>

namespace zov_test {

struct tool_record {
  bool present = false;  // the tool ran and wrote the record
  std::vector<std::string> args;
  std::string fds;  // its open descriptors, each after a space: " 0 1 2"
  std::string sigpipe;  // "default", "ignored" or "handled"
};

// Reads the file named in the tool's ZOV_STAND_IN_RECORD.
tool_record read_tool_record(const std::string &path);

}  // namespace zov_test
