// main() of the pex tests and the child modes the tests start.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "pex/pex_backend.h"
#include "pex/pex_test_util.h"
#include "support/test_descriptors.h"

extern char **environ;

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

// The child modes.  Each ends with _exit so that a child never runs the
// test framework's or the sanitizers' exit work twice.
[[noreturn]] void child_main(int argc, char **argv) {
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
    long wanted = atol(arg.c_str()) * 1000000L;
    timespec start, now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    volatile unsigned sink = 0;
    do {
      for (int i = 0; i < 10000; ++i) sink = sink + (unsigned)i;
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < wanted);
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

}  // namespace

// From the build: /proc/self/exe is Linux's alone.
const std::string &self_path() {
  static const std::string path = ZOV_TEST_SELF;
  return path;
}

arg_vector::arg_vector(std::vector<std::string> items) : texts(std::move(items)) {
  for (std::string &text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
}

arg_vector child_args(std::initializer_list<std::string> mode_and_args) {
  std::vector<std::string> items{self_path(), "--pex-child"};
  items.insert(items.end(), mode_and_args);
  return arg_vector(std::move(items));
}

std::set<int> open_fds() {
  std::vector<int> fds = zov_test::probe_open_descriptors();
  return std::set<int>(fds.begin(), fds.end());
}

std::set<int> inheritable_fds() {
  std::set<int> fds;
  for (int fd : open_fds()) {
    int flags = fcntl(fd, F_GETFD);
    if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) fds.insert(fd);
  }
  return fds;
}

bool has_no_children() {
  int status;
  return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

std::string read_file(const std::string &path) {
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) return "<missing>";
  std::string text = read_all(file);
  fclose(file);
  return text;
}

void write_file(const std::string &path, const std::string &content) {
  FILE *file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
}

std::string read_all(FILE *stream) {
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return text;
}

scratch_dir::scratch_dir() {
  const char *base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/pex_test_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  path = pattern;
}

std::vector<std::string> scratch_dir::entries() const {
  std::vector<std::string> names;
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (dirent *entry = readdir(dir))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

scratch_dir::~scratch_dir() {
  for (const std::string &name : entries()) {
    std::string full = file(name);
    struct stat info;
    if (lstat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      for (DIR *dir = opendir(full.c_str()); dir != nullptr; dir = nullptr) {
        while (dirent *entry = readdir(dir))
          if (entry->d_name[0] != '.') unlink((full + "/" + entry->d_name).c_str());
        closedir(dir);
      }
      rmdir(full.c_str());
    } else {
      unlink(full.c_str());
    }
  }
  rmdir(path.c_str());
}

int run_in_subprocess(int (*body)(void *), void *data) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body(data));
  int status = -1;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// The fake back-end.

bool fake_backend::should_fail(const std::string &op) {
  int count = 1;
  for (auto &call : calls)
    if (call.first == op) count = ++call.second;
  if (count == 1) calls.push_back({op, 1});
  for (const fault &f : faults)
    if (f.op == op && f.on_call == count) {
      errno = f.error;
      return true;
    }
  return false;
}

int fake_backend::new_fd() {
  open.insert(next_fd);
  return next_fd++;
}

void fake_backend::close(int fd) {
  if (open.erase(fd) == 0) problems.push_back("closed unknown descriptor " + std::to_string(fd));
}

namespace {

fake_backend *fake_of(pex_pipeline *pipeline) {
  return static_cast<fake_backend *>(pipeline->backend_data);
}

int fake_open_input(pex_pipeline *pipeline, const char *name, int binary) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("open_input " + std::string(name) + " " + std::to_string(binary));
  return fake->should_fail("open_input") ? -1 : fake->new_fd();
}

int fake_open_output(pex_pipeline *pipeline, const char *name, int binary, int append) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("open_output " + std::string(name) + " " + std::to_string(binary) + " " +
                      std::to_string(append));
  return fake->should_fail("open_output") ? -1 : fake->new_fd();
}

bool usable(fake_backend *fake, int fd, int standard) {
  return fd == standard || fake->open.count(fd) != 0;
}

pid_t fake_spawn_child(pex_pipeline *pipeline, int flags, const char *executable,
                       char *const *, char *const *env, int in, int out, int errdes,
                       int toclose, const char **errmsg, int *err) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("spawn " + std::string(executable));
  if (!usable(fake, in, 0) || !usable(fake, out, 1) || !usable(fake, errdes, 2) ||
      (toclose != -1 && fake->open.count(toclose) == 0))
    fake->problems.push_back("spawn of " + std::string(executable) + " given a closed descriptor");
  if (fake->should_fail("spawn_child")) {
    *errmsg = "execvp";
    *err = errno;
    return -1;
  }
  if (in != 0) fake->close(in);
  if (out != 1) fake->close(out);
  if (errdes != 2) fake->close(errdes);
  pid_t pid = fake->next_pid++;
  fake->spawns.push_back({flags, executable, env, in, out, errdes, toclose, pid});
  fake->unwaited.insert(pid);
  return pid;
}

int fake_close_fd(pex_pipeline *pipeline, int fd) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("close " + std::to_string(fd));
  fake->close(fd);
  return 0;
}

int fake_wait_child(pex_pipeline *pipeline, pid_t pid, int *status, pex_timing *time,
                    int terminate_first, const char **errmsg, int *err) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("wait " + std::to_string(pid) + (terminate_first ? " terminate" : "") +
                      (time != nullptr ? " timed" : ""));
  if (fake->unwaited.erase(pid) == 0)
    fake->problems.push_back("waited twice for " + std::to_string(pid));
  if (fake->should_fail("wait_child")) {
    *errmsg = "wait";
    *err = errno;
    return -1;
  }
  *status = fake_backend::status_of(pid);
  if (time != nullptr) *time = pex_timing{pid, 1, pid, 2};
  return 0;
}

int fake_make_pipe(pex_pipeline *pipeline, int *fds, int binary) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back("make_pipe " + std::to_string(binary));
  if (fake->should_fail("make_pipe")) return -1;
  fds[0] = fake->new_fd();
  fds[1] = fake->new_fd();
  return 0;
}

// The engine fcloses the streams it owns, so they must be real ones.
FILE *fake_stream(pex_pipeline *pipeline, const char *op, int fd, const char *mode) {
  fake_backend *fake = fake_of(pipeline);
  fake->log.push_back(std::string(op) + " " + std::to_string(fd));
  if (fake->should_fail(op)) return nullptr;
  fake->close(fd);  // the stream owns it now
  return fopen("/dev/null", mode);
}

FILE *fake_stream_from_read_fd(pex_pipeline *pipeline, int fd, int) {
  return fake_stream(pipeline, "stream_from_read_fd", fd, "re");
}

FILE *fake_stream_from_write_fd(pex_pipeline *pipeline, int fd, int) {
  return fake_stream(pipeline, "stream_from_write_fd", fd, "we");
}

void fake_release(pex_pipeline *pipeline) { fake_of(pipeline)->released++; }

}  // namespace

const pex_backend fake_backend::table = {
    fake_open_input,          fake_open_output,          fake_spawn_child,
    fake_close_fd,            fake_wait_child,           fake_make_pipe,
    fake_stream_from_read_fd, fake_stream_from_write_fd, fake_release,
};

pex_pipeline *fake_backend::create(int pipeline_flags, const char *temp_base_name) {
  pex_pipeline *pipeline =
      pex_create_with_backend(pipeline_flags, "pex_test", temp_base_name, &table);
  pipeline->backend_data = this;
  return pipeline;
}

int main(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "--pex-child") == 0) child_main(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
