// testing/child.h on Windows: the modes a Windows back-end test needs.
// Standard input and output in binary mode, so that what the tests compare
// is the bytes the pipes and files carried, with no "\r" put in.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "testing/child.h"

namespace zov_test {

namespace {

void write_out(int fd, const std::string &text) {
  if (!text.empty()) _write(fd, text.data(), (unsigned)text.size());
}

std::string read_stdin() {
  std::string text;
  char buffer[4096];
  int n;
  while ((n = _read(0, buffer, sizeof buffer)) > 0) text.append(buffer, (size_t)n);
  return text;
}

// Burns CPU time (user time, as GetProcessTimes counts it).
void spin(long milliseconds) {
  FILETIME created, exited, kernel, user;
  auto cpu_ms = [&] {
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME &t) {
      return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
    };
    return (long)((ticks(kernel) + ticks(user)) / 10000);
  };
  long start = cpu_ms();
  volatile unsigned sink = 0;
  while (cpu_ms() - start < milliseconds)
    for (int i = 0; i < 100000; ++i) sink = sink + (unsigned)i;
}

}  // namespace

[[noreturn]] void run_child_mode(int argc, char **argv) {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  std::string mode = argv[2];
  std::string arg = argc > 3 ? argv[3] : "";
  if (mode == "echo") {  // echo TEXT: TEXT on stdout
    write_out(1, arg);
  } else if (mode == "prefix") {  // prefix TEXT: TEXT then stdin on stdout
    write_out(1, arg + read_stdin());
  } else if (mode == "stderr") {  // stderr TEXT: TEXT on stderr
    write_out(2, arg);
  } else if (mode == "both") {  // both OUT ERR
    write_out(1, arg);
    write_out(2, argc > 4 ? argv[4] : "");
  } else if (mode == "exit") {  // exit N
    ExitProcess((UINT)strtoul(arg.c_str(), nullptr, 0));
  } else if (mode == "env") {  // env NAME: its value or "<unset>"
    const char *value = getenv(arg.c_str());
    write_out(1, value != nullptr ? value : "<unset>");
  } else if (mode == "spin") {  // spin MS: burn MS ms of CPU time
    spin(atol(arg.c_str()));
  } else if (mode == "pause") {  // waits to be ended
    Sleep(INFINITE);
  } else {
    write_out(2, "unknown child mode " + mode + "\n");
    ExitProcess(122);
  }
  ExitProcess(0);
}

}  // namespace zov_test
