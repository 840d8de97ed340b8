// The response file that carries a long command line's arguments on
// Windows, read back by the host's own GNU nm and ar: binutils reads @file
// the same way on every host, so what they read here is what the target's
// tools read there.

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "pex/pex_command_line.h"
#include "testing/process.h"

namespace {

const std::vector<std::string> hostile_words = {
    "a b", "", "x\\\"y", "trailing\\", "\\\\server\\share\\f.o", "C:\\Users\\Zoë\\f.o",
    "it's", "\"quoted\"", "tab\there", "漢字.o", "@not-a-file", "  lead",
};

std::string write_response(const std::string &dir, const std::vector<std::string> &words) {
  char *text = response_file_text(zov_test::arg_vector(words).get());
  std::string path = dir + "/args.rsp";
  std::ofstream(path, std::ios::binary) << text;
  free(text);
  return path;
}

std::string output_of(const std::string &command) {
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool have_tool(const char *tool) {
  return system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string fresh_dir() {
  const char *base = getenv("TMPDIR");
  std::string dir = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rspXXXXXX";
  if (mkdtemp(dir.data()) == nullptr) ADD_FAILURE() << "mkdtemp";
  return dir;
}

// nm names each file it cannot open, quoted: the words it read back.
TEST(ResponseFile, GnuNmReadsBackEveryWord) {
  if (!have_tool("nm")) GTEST_SKIP() << "no nm on this host (Debian: binutils)";
  std::string dir = fresh_dir();
  std::vector<std::string> words = hostile_words;
  words.push_back("new\nline");
  std::string path = write_response(dir, words);
  std::string expected;
  for (const std::string &word : words) expected += "nm: '" + word + "': No such file\n";
  EXPECT_EQ(output_of("cd '" + dir + "' && nm @args.rsp 2>&1"), expected);
  system(("rm -rf '" + dir + "'").c_str());
}

// ar adds the files the words name, in order (each holds its own text,
// which ar p gives back), and fails on one it cannot find.  The member
// names are not compared: ar shows them by its own rules ('\\' as '/').
TEST(ResponseFile, GnuArReadsBackEveryFileName) {
  if (!have_tool("ar")) GTEST_SKIP() << "no ar on this host (Debian: binutils)";
  std::string dir = fresh_dir();
  std::vector<std::string> names;
  for (const std::string &word : hostile_words)
    if (!word.empty() && word.find('/') == std::string::npos) names.push_back(word);
  std::string expected;
  for (size_t i = 0; i < names.size(); ++i) {
    std::string text = "member " + std::to_string(i) + "\n";
    std::ofstream(dir + "/" + names[i]) << text;
    expected += text;
  }
  write_response(dir, names);
  EXPECT_EQ(output_of("cd '" + dir + "' && ar rc lib.a @args.rsp 2>&1"), "");
  EXPECT_EQ(output_of("cd '" + dir + "' && ar p lib.a"), expected);
  system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
