#include "testing/child.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "testing/descriptors.h"

extern char **environ;

namespace zov_test {

namespace {

void write_out(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      _exit(120);
    }
    done += (size_t)n;
  }
}

std::string read_input() {
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, (size_t)n);
  }
  return text;
}

// Length-prefixed so that any byte but NUL survives the trip.
std::string framed(char tag, const char *text) {
  return tag + std::to_string(strlen(text)) + ":" + text;
}

void spin(long milliseconds) {
  long wanted = milliseconds * 1000000L;
  timespec start, now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
  volatile unsigned sink = 0;
  do {
    for (int i = 0; i < 10000; ++i) sink = sink + (unsigned)i;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < wanted);
}

// The child modes.  Each ends with _exit so that a child never runs the
// test framework's or the sanitizers' exit work twice.
}  // namespace

[[noreturn]] void run_child_mode(int argc, char **argv) {
  std::string mode = argv[2];
  std::string arg = argc > 3 ? argv[3] : "";
  if (mode == "echo") {  // echo TEXT: TEXT on stdout
    write_out(1, arg);
  } else if (mode == "prefix") {  // prefix TEXT: TEXT then stdin on stdout
    write_out(1, arg + read_input());
  } else if (mode == "stderr") {  // stderr TEXT: TEXT on stderr
    write_out(2, arg);
  } else if (mode == "both") {  // both OUT ERR
    write_out(1, arg);
    write_out(2, argc > 4 ? argv[4] : "");
  } else if (mode == "exit") {  // exit N
    _exit(atoi(arg.c_str()));
  } else if (mode == "signal") {  // signal N: dies by signal N
    int sig = atoi(arg.c_str());
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(121);
  } else if (mode == "dump") {  // argv after the mode, then environ
    std::string out;
    for (int i = 3; i < argc; ++i) out += framed('A', argv[i]);
    for (char **e = environ; *e != nullptr; ++e) out += framed('E', *e);
    write_out(1, out);
  } else if (mode == "env") {  // env NAME: its value or "<unset>"
    const char *value = getenv(arg.c_str());
    write_out(1, value != nullptr ? value : "<unset>");
  } else if (mode == "fds") {  // the open descriptors, ascending
    std::string out;
    for (int fd : open_fds()) out += std::to_string(fd) + " ";
    write_out(1, out);
  } else if (mode == "spin") {  // spin MS: burn MS ms of CPU time
    spin(atol(arg.c_str()));
  } else if (mode == "yes") {  // writes until its reader goes away
    std::string line(4096, 'y');
    for (;;) write_out(1, line);
  } else if (mode == "pause") {  // waits to be signalled
    for (;;) pause();
  } else {
    write_out(2, "unknown child mode " + mode + "\n");
    _exit(122);
  }
  _exit(0);
}

}  // namespace zov_test
