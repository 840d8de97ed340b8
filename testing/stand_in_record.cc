#include <fstream>

#include "testing/stand_in_tool.h"

namespace zov_test {

tool_record read_tool_record(const std::string &path) {
  tool_record record;
  std::ifstream in(path);
  if (!in) return record;
  record.present = true;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("arg:", 0) == 0)
      record.args.push_back(line.substr(4));
    else if (line.rfind("fds:", 0) == 0)
      record.fds = line.substr(4);
    else if (line.rfind("sigpipe:", 0) == 0)
      record.sigpipe = line.substr(8);
  }
  return record;
}

}  // namespace zov_test
