// What a long PATH costs the front-ends: building the search list from it,
// for PATHs of 5,000 to 40,000 entries.  Prints the median time of each
// size and the time per entry, which stays flat when the cost grows with
// the number of entries and no faster.
//
//   zov_bench_path [--runs N]

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "pathsearch/pathsearch.h"

namespace {

// A PATH of count entries, each a directory of a realistic length.
std::string long_path(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ':';
    text += "/opt/toolchains/vendor-" + std::to_string(i) + "/bin";
  }
  return text;
}

// Milliseconds to build one list from text.  The lists are never freed,
// as in the programs.
double build_once(const std::string &text) {
  search_path list = {};
  auto start = std::chrono::steady_clock::now();
  search_path_from_string(text.c_str(), &list);
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(end - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 7;
  if (argc == 3 && strcmp(argv[1], "--runs") == 0) runs = atoi(argv[2]);
  printf("%10s %12s %16s\n", "entries", "median ms", "ns per entry");
  for (int count : {5000, 10000, 20000, 40000}) {
    std::string text = long_path(count);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) times.push_back(build_once(text));
    double ms = bench::median(times);
    printf("%10d %12.3f %16.1f\n", count, ms, ms * 1e6 / count);
  }
  return 0;
}
