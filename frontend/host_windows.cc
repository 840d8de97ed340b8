// The driver's Windows side: the environment, response files for a command
// line over the system's limit, exit codes and exceptions.
//
// Windows has no signals between processes: Ctrl-C reaches every process
// of the console (the front-end and the tool alike, as a terminal's
// process group does on POSIX), and a write to a pipe whose reader has
// gone fails instead of ending the writer, so neither needs anything here.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "frontend/frontend.h"
#include "frontend/host.h"
#include "pex/pex_command_line.h"
#include "support/support.h"
#include "support/wide_text.h"

const bool host_argument_0_locates_program = false;

char **host_environment() { return _environ; }
void host_set_environment(char **environment) { _environ = environment; }

void host_quiet_broken_pipe() {}
void host_restore_broken_pipe() {}
void host_prepare_run() {}

namespace {

// The response file of this run, removed once the tool has ended.
char *response_file;

// Writes text into a new temporary file (named as every temporary file
// is) and returns its name.  A file that cannot be written ends the run
// as one that cannot be made does.
char *write_response_file(const char *text) {
  char *name = temp_file_make(nullptr, nullptr);
  wchar_t *wide = wide_from_utf8(name);
  FILE *file = _wfopen(wide, L"wb");
  free(wide);
  size_t length = strlen(text);
  if (file == nullptr || fwrite(text, 1, length, file) != length || fclose(file) != 0) {
    fprintf(stderr, "Cannot write temporary file %s\n", name);
    abort();
  }
  return name;
}

}  // namespace

char **host_fit_command_line(char **tool_argv, int first_user_argument) {
  char *line = command_line_from_argv(tool_argv);
  bool fits = command_line_utf16_length(line) <= command_line_limit;
  free(line);
  if (fits || tool_argv[first_user_argument] == nullptr) return tool_argv;

  // ar, nm and ranlib read @file themselves, on every host: the tool gets
  // its own options, then the one word that names the rest.
  char *text = response_file_text(tool_argv + first_user_argument);
  response_file = write_response_file(text);
  free(text);
  char **fitted = (char **)must_calloc((size_t)first_user_argument + 2, sizeof(char *));
  for (int i = 0; i < first_user_argument; ++i) fitted[i] = tool_argv[i];
  fitted[first_user_argument] = str_join("@", response_file, (char *)nullptr);
  return fitted;
}

void host_after_run() {
  if (response_file == nullptr) return;
  wchar_t *wide = wide_from_utf8(response_file);
  _wremove(wide);
  free(wide);
}

// A shell's single quotes mean nothing to cmd.exe or to a program's C
// runtime: the line that CreateProcessW gets is what a user can paste.
void host_put_command(char **tool_argv) {
  char *line = command_line_from_argv(tool_argv);
  fputc(' ', stderr);
  fputs(line, stderr);
  free(line);
}

const char *host_error_text(int err) {
  wchar_t *text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, (DWORD)err, 0, (LPWSTR)&text, 0, nullptr);
  if (length == 0 || text == nullptr) return "no text for this error";
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                        text[length - 1] == L'.' || text[length - 1] == L' '))
    text[--length] = L'\0';
  char *narrow = utf8_from_wide(text);
  LocalFree(text);
  return narrow;
}
