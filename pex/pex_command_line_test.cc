// The Windows command line, as a text, checked on every host against the
// table of what the C runtime's split needs (the front-ends' Windows tests
// hand hostile arguments to a real runtime under Wine).

#include "pex/pex_command_line.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "testing/process.h"

namespace {

std::string line_of(const std::vector<std::string> &args) {
  char *line = command_line_from_argv(zov_test::arg_vector(args).get());
  std::string text = line;
  free(line);
  return text;
}

struct quoting_case {
  std::string argument;
  std::string written;  // as the command line carries it
};

// The runtime's rules: 2n backslashes and a quote give n backslashes and
// end or begin quoting; 2n+1 and a quote give n and a literal quote;
// backslashes before anything else are literal.
const quoting_case quoting_cases[] = {
    {"plain", "plain"},
    {"", "\"\""},
    {"a b", "\"a b\""},
    {"tab\there", "\"tab\there\""},
    {"new\nline", "\"new\nline\""},
    {"\"", "\"\\\"\""},
    {"say \"hi\"", "\"say \\\"hi\\\"\""},
    {"C:\\dir\\file.o", "C:\\dir\\file.o"},          // literal: no quote follows
    {"C:\\dir with space\\", "\"C:\\dir with space\\\\\""},  // doubled before the closing quote
    {"a\\\"b", "\"a\\\\\\\"b\""},                    // \" : 2n+1 backslashes then the quote
    {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},              // \\" : 5 backslashes then the quote
    {"\\\\", "\\\\"},                                 // no quoting: literal
    {"end\\ x\\\\", "\"end\\ x\\\\\\\\\""},
    {"Zoë 漢字", "\"Zoë 漢字\""},
    {"@file", "@file"},
};

TEST(CommandLine, QuotesEachArgumentAsTheRuntimeSplitsIt) {
  for (const quoting_case &c : quoting_cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(line_of({"C:\\t\\nm.exe", c.argument}), "\"C:\\t\\nm.exe\" " + c.written);
    EXPECT_EQ(command_line_argument_length(c.argument.c_str(), false), c.written.size());
  }
}

// Argument 0 is split by quotes alone (a backslash before its closing
// quote is not an escape), so it is quoted whole and never escaped.
TEST(CommandLine, QuotesTheProgramWithoutEscapes) {
  EXPECT_EQ(line_of({"C:\\Program Files\\t\\"}), "\"C:\\Program Files\\t\\\"");
  EXPECT_EQ(line_of({"nm.exe", "--plugin", "p q.dll"}), "\"nm.exe\" --plugin \"p q.dll\"");
}

TEST(CommandLine, CountsUtf16Units) {
  EXPECT_EQ(command_line_utf16_length("abc"), 3u);
  EXPECT_EQ(command_line_utf16_length("Zoë"), 3u);      // ë: two bytes, one unit
  EXPECT_EQ(command_line_utf16_length("漢字"), 2u);     // three bytes each
  EXPECT_EQ(command_line_utf16_length("\xF0\x9F\x98\x80"), 2u);  // U+1F600: a surrogate pair
}

}  // namespace
