#include "testing/fake_backend.h"

#include <errno.h>
#include <stdio.h>

#include "pex/pex_backend.h"

namespace zov_test {

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

}  // namespace zov_test
