// A fuzz target's main where libFuzzer is not to be had (MinGW builds for
// Windows): every seed of the corpus directory, then inputs made from the
// seeds by a fixed-seed mutator, so that each run tries the same inputs
// and a failure can be had again.  Each input goes to the target as
// libFuzzer would hand it over: a heap block of exactly its size.
//
// Usage: <target> CORPUS_DIR [MUTATIONS_PER_SEED]

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// What is being tried, for the abort handler to show.
std::string current_input;
std::string current_origin;

void show_input(int) {
  fprintf(stderr, "---- failing input (%s), %zu bytes in hex:\n", current_origin.c_str(),
          current_input.size());
  for (unsigned char c : current_input) fprintf(stderr, "%02x", c);
  fprintf(stderr, "\n");
  fflush(stderr);
}

void run(const std::string &input, const std::string &origin) {
  current_input = input;
  current_origin = origin;
  uint8_t *copy = (uint8_t *)malloc(input.size() + 1);
  memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  free(copy);
}

// xorshift64: the same inputs on every host and every run.
uint64_t state = 0x9E3779B97F4A7C15u;
uint64_t next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}
size_t below(size_t n) { return n == 0 ? 0 : (size_t)(next() % n); }

// The bytes path code treats apart, on one host or the other.
const char kSpecial[] = {'\0', '/', '\\', ':', ';', '.', 'C', 'c', 'x', '@', ' ', '\xC3'};

std::string mutate(std::string input, const std::vector<std::string> &seeds) {
  for (size_t steps = 1 + below(4); steps > 0; --steps) {
    switch (below(6)) {
      case 0:  // insert a byte that matters
        input.insert(below(input.size() + 1), 1, kSpecial[below(sizeof kSpecial)]);
        break;
      case 1:  // overwrite one
        if (!input.empty()) input[below(input.size())] = kSpecial[below(sizeof kSpecial)];
        break;
      case 2:  // drop one
        if (!input.empty()) input.erase(below(input.size()), 1);
        break;
      case 3:  // cut short
        input.resize(below(input.size() + 1));
        break;
      case 4: {  // splice in a piece of another seed
        const std::string &other = seeds[below(seeds.size())];
        size_t from = below(other.size() + 1);
        input.insert(below(input.size() + 1), other.substr(from, below(other.size() - from + 1)));
        break;
      }
      default:  // repeat a piece of itself
        if (!input.empty()) {
          size_t from = below(input.size());
          input.insert(below(input.size() + 1), input.substr(from, 1 + below(16)));
        }
    }
  }
  return input;
}

std::vector<std::string> read_seeds(const char *dir) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());  // the same order on every host
  std::vector<std::string> seeds;
  for (const fs::path &file : files) {
    std::ifstream in(file, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s CORPUS_DIR [MUTATIONS_PER_SEED]\n", argv[0]);
    return 2;
  }
  const long mutations = argc > 2 ? atol(argv[2]) : 500;
  std::vector<std::string> seeds = read_seeds(argv[1]);
  if (seeds.empty()) {
    fprintf(stderr, "%s: no seeds in %s\n", argv[0], argv[1]);
    return 2;
  }
  signal(SIGABRT, show_input);

  for (size_t i = 0; i < seeds.size(); i++) run(seeds[i], "seed " + std::to_string(i));
  size_t tried = seeds.size();
  for (size_t i = 0; i < seeds.size(); i++)
    for (long m = 0; m < mutations; m++, tried++)
      run(mutate(seeds[i], seeds), "seed " + std::to_string(i) + ", mutation " + std::to_string(m));
  printf("%zu inputs from %zu seeds passed\n", tried, seeds.size());
  return 0;
}
