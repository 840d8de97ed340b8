// Windows command lines and response files, as texts (pex_command_line.h).

#include "pex/pex_command_line.h"

#include <string.h>

#include "support/support.h"

namespace {

bool needs_quotes(const char *argument) {
  if (argument[0] == '\0') return true;
  for (const char *p = argument; *p != '\0'; ++p)
    if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '"') return true;
  return false;
}

// Writes the quoted form of argument at out (when out is not null) and
// returns its length: the rules of the runtime's split, run backwards.
size_t put_quoted(char *out, const char *argument) {
  size_t length = 0;
  auto put = [&](char c) {
    if (out != nullptr) out[length] = c;
    ++length;
  };
  put('"');
  size_t backslashes = 0;
  for (const char *p = argument;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    // A run before a quote (the argument's own or the closing one) is
    // doubled, so that the quote stays a quote; elsewhere it is literal.
    bool before_quote = *p == '"' || *p == '\0';
    for (size_t i = 0; i < (before_quote ? 2 * backslashes : backslashes); ++i) put('\\');
    backslashes = 0;
    if (*p == '\0') break;
    if (*p == '"') put('\\');
    put(*p);
  }
  put('"');
  return length;
}

size_t put_argument(char *out, const char *argument, bool is_program) {
  size_t length = strlen(argument);
  if (is_program && strchr(argument, '"') == nullptr) {
    if (out != nullptr) {
      out[0] = '"';
      memcpy(out + 1, argument, length);
      out[length + 1] = '"';
    }
    return length + 2;
  }
  if (!needs_quotes(argument)) {
    if (out != nullptr) memcpy(out, argument, length);
    return length;
  }
  return put_quoted(out, argument);
}

}  // namespace

size_t command_line_argument_length(const char *argument, bool is_program) {
  return put_argument(nullptr, argument, is_program);
}

char *command_line_from_argv(char *const *argv) {
  size_t total = 1;
  for (size_t i = 0; argv[i] != nullptr; ++i)
    total += (i > 0) + command_line_argument_length(argv[i], i == 0);
  char *line = (char *)must_malloc(total);
  char *out = line;
  for (size_t i = 0; argv[i] != nullptr; ++i) {
    if (i > 0) *out++ = ' ';
    out += put_argument(out, argv[i], i == 0);
  }
  *out = '\0';
  return line;
}

size_t command_line_utf16_length(const char *text) {
  size_t units = 0;
  for (const unsigned char *p = (const unsigned char *)text; *p != '\0'; ++p) {
    // Every byte but a continuation byte starts a character; one of four
    // bytes (U+10000 and above) takes a surrogate pair.
    if ((*p & 0xC0) != 0x80) ++units;
    if (*p >= 0xF0) ++units;
  }
  return units;
}

char *response_file_text(char *const *argv) {
  size_t total = 1;
  for (size_t i = 0; argv[i] != nullptr; ++i) {
    total += 3;  // the quotes and the newline
    for (const char *p = argv[i]; *p != '\0'; ++p) total += (*p == '\\' || *p == '"') ? 2 : 1;
  }
  char *text = (char *)must_malloc(total);
  char *out = text;
  for (size_t i = 0; argv[i] != nullptr; ++i) {
    *out++ = '"';
    for (const char *p = argv[i]; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '"') *out++ = '\\';
      *out++ = *p;
    }
    *out++ = '"';
    *out++ = '\n';
  }
  *out = '\0';
  return text;
}
