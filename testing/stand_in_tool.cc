// Stand-in for the wrapped ar/nm/ranlib in the front-end tests.
//
// Environment:
//   ZOV_STAND_IN_RECORD  file to (re)write with what this run saw: one line
//                        "arg:<text>" per argument, then "fds:" and the open
//                        descriptors, e.g. "fds: 0 1 2", then "sigpipe:"
//                        and how SIGPIPE was disposed of.
//   ZOV_STAND_IN_STDOUT, ZOV_STAND_IN_STDERR
//                        texts to write on standard output / error.
//   ZOV_STAND_IN_SIGNAL  die by this signal (default disposition);
//   ZOV_STAND_IN_CORE    when set, raise the core-size limit first.
//   ZOV_STAND_IN_EXIT    otherwise exit with this code (default 0).

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testing/descriptors.h"

namespace {

std::string open_descriptors() {
  std::string text;
  for (int fd : zov_test::probe_open_descriptors()) text += " " + std::to_string(fd);
  return text;
}

void write_text(int fd, const char *text) {
  if (text == nullptr) return;
  size_t left = strlen(text);
  while (left > 0) {
    ssize_t n = write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= (size_t)n;
  }
}

}  // namespace

int main(int argc, char **argv) {
  // Taken first, before this program opens anything itself.
  std::string fds = open_descriptors();

  if (const char *record = getenv("ZOV_STAND_IN_RECORD")) {
    FILE *out = fopen(record, "w");
    if (out == nullptr) {
      perror(record);
      return 125;
    }
    for (int i = 0; i < argc; ++i) fprintf(out, "arg:%s\n", argv[i]);
    fprintf(out, "fds:%s\n", fds.c_str());
    struct sigaction sigpipe;
    sigaction(SIGPIPE, nullptr, &sigpipe);
    fprintf(out, "sigpipe:%s\n", sigpipe.sa_handler == SIG_DFL   ? "default"
                                 : sigpipe.sa_handler == SIG_IGN ? "ignored"
                                                                 : "handled");
    fclose(out);
  }

  write_text(1, getenv("ZOV_STAND_IN_STDOUT"));
  write_text(2, getenv("ZOV_STAND_IN_STDERR"));

  if (const char *signal_text = getenv("ZOV_STAND_IN_SIGNAL")) {
    int sig = atoi(signal_text);
    if (getenv("ZOV_STAND_IN_CORE") != nullptr) {
      rlimit limit;
      if (getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_CORE, &limit);
      }
    } else {
      rlimit none = {0, 0};
      setrlimit(RLIMIT_CORE, &none);
    }
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    return 126;  // the signal did not end us
  }

  const char *exit_text = getenv("ZOV_STAND_IN_EXIT");
  return exit_text != nullptr ? atoi(exit_text) : 0;
}
