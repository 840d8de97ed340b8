// Feeding the first stage and reading the last one through streams, and
// the children's times: refusals and descriptor ownership against the fake
// back-end, on every host (data flow with real POSIX children is
// pex_stream_posix_test.cc, with Windows children pex_win32_test.cc).

#include <errno.h>
#include <string.h>

#include <functional>

#include <gtest/gtest.h>

#include "pex/pex_backend.h"
#include "testing/fake_backend.h"
#include "testing/files.h"

using namespace zov_test;

namespace {

char *const prog_args[] = {const_cast<char *>("prog"), nullptr};

void add_ok(pex_pipeline *pipeline, int flags, char *const *argv = prog_args,
            const char *executable = "prog", const char *outname = nullptr) {
  int err = 0;
  const char *errmsg = pex_add_stage(pipeline, flags, executable, argv, outname, nullptr, &err);
  ASSERT_EQ(errmsg, nullptr) << errmsg << ": " << strerror(err);
}

void release_and_expect_clean(fake_backend &fake, pex_pipeline *pipeline) {
  pex_release(pipeline);
  EXPECT_TRUE(fake.open.empty()) << "descriptor left open: " << *fake.open.begin();
  EXPECT_TRUE(fake.unwaited.empty());
  EXPECT_EQ(fake.problems, std::vector<std::string>{});
}

struct refusal_case {
  const char *name;
  int pipeline_flags;
  std::function<void(pex_pipeline *, std::vector<FILE *> &, const std::string &)> before;
  bool pipe;  // pex_open_input_pipe, else pex_open_input_file
};

TEST(Streams, InputRefusals) {
  const refusal_case cases[] = {
      {"pipe without PEX_PIPES", 0, nullptr, true},
      {"pipe after a stage", PEX_PIPES,
       [](pex_pipeline *p, std::vector<FILE *> &, const std::string &) { add_ok(p, 0); }, true},
      {"file after a stage", 0,
       [](pex_pipeline *p, std::vector<FILE *> &, const std::string &) {
         add_ok(p, PEX_FINAL_STAGE);
       },
       false},
      {"second input file", 0,
       [](pex_pipeline *p, std::vector<FILE *> &owned, const std::string &name) {
         owned.push_back(pex_open_input_file(p, 0, name.c_str()));
       },
       false},
      {"second input pipe", PEX_PIPES,
       [](pex_pipeline *p, std::vector<FILE *> &owned, const std::string &) {
         owned.push_back(pex_open_input_pipe(p, 0));
       },
       true},
      {"input file after input pipe", PEX_PIPES,
       [](pex_pipeline *p, std::vector<FILE *> &owned, const std::string &) {
         owned.push_back(pex_open_input_pipe(p, 0));
       },
       false},
  };
  for (const refusal_case &c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir dir;
    std::string first = dir.file("first"), second = dir.file("second");
    fake_backend fake;
    pex_pipeline *p = fake.create(c.pipeline_flags);
    std::vector<FILE *> owned;  // streams still the caller's
    if (c.before) c.before(p, owned, first);
    for (FILE *stream : owned) ASSERT_NE(stream, nullptr);
    errno = 0;
    FILE *refused = c.pipe ? pex_open_input_pipe(p, 0) : pex_open_input_file(p, 0, second.c_str());
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(errno, EINVAL);
    for (FILE *stream : owned) fclose(stream);
    p->input_stream = nullptr;  // closed just above, as the caller's
    release_and_expect_clean(fake, p);
    for (const std::string &entry : dir.entries()) EXPECT_EQ(entry, "first");
  }
}

TEST(Streams, OutputStreamsHandOverOnce) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES);
  add_ok(p, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE);
  errno = 0;
  EXPECT_EQ(pex_output_stream(p, 0), nullptr);  // nothing pending after a final stage
  EXPECT_EQ(errno, 0);
  FILE *error_stream = pex_error_stream(p, 0);
  EXPECT_NE(error_stream, nullptr);
  EXPECT_EQ(p->last_error_stream, error_stream);
  EXPECT_EQ(pex_error_stream(p, 0), nullptr);
  release_and_expect_clean(fake, p);
}

// A read end that cannot be wrapped is closed, not dropped on the floor.
TEST(Streams, UnwrappableDescriptorsAreClosed) {
  for (bool error_pipe : {false, true}) {
    SCOPED_TRACE(error_pipe ? "error stream" : "output stream");
    fake_backend fake;
    pex_pipeline *p = fake.create(PEX_PIPES);
    add_ok(p, error_pipe ? PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE : 0);
    fake.fail("stream_from_read_fd", 1, EMFILE);
    errno = 0;
    EXPECT_EQ(error_pipe ? pex_error_stream(p, 0) : pex_output_stream(p, 0), nullptr);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_TRUE(fake.open.empty());
    EXPECT_EQ(p->pending_input_fd, -1);
    EXPECT_EQ(p->error_pipe_fd, -1);
    release_and_expect_clean(fake, p);
  }

  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES);
  fake.fail("stream_from_write_fd", 1, EBADF);
  errno = 0;
  EXPECT_EQ(pex_open_input_pipe(p, 1), nullptr);
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(fake.open.empty());
  EXPECT_EQ(p->pending_input_fd, 0);
  release_and_expect_clean(fake, p);
}

TEST(Streams, OutputFileAfterFailedCollection) {
  scratch_dir dir;
  std::string base = dir.file("stage");
  fake_backend fake;
  pex_pipeline *p = fake.create(0, base.c_str());
  add_ok(p, 0);
  fake.fail("wait_child", 1, ECHILD);
  errno = 0;
  EXPECT_EQ(pex_output_stream(p, 0), nullptr);
  EXPECT_EQ(errno, ECHILD);
  release_and_expect_clean(fake, p);
}

TEST(Streams, CopyTimes) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES | PEX_KEEP_TIMES);
  add_ok(p, 0);
  add_ok(p, PEX_FINAL_STAGE);
  pex_timing times[3];
  memset(times, 0x5a, sizeof times);
  ASSERT_EQ(pex_copy_times(p, 3, times), 1);  // collects first
  EXPECT_EQ(times[0].user_seconds, 1000);
  EXPECT_EQ(times[1].system_seconds, 1001);
  EXPECT_EQ(times[1].system_microseconds, 2);
  EXPECT_EQ(times[2].user_seconds, 0);
  EXPECT_EQ(times[2].system_microseconds, 0);
  memset(times, 0x5a, sizeof times);
  ASSERT_EQ(pex_copy_times(p, 1, times), 1);
  EXPECT_EQ(times[0].user_seconds, 1000);
  EXPECT_NE(times[1].user_seconds, 1001);
  release_and_expect_clean(fake, p);

  fake_backend untimed;
  p = untimed.create(PEX_PIPES);
  add_ok(p, PEX_FINAL_STAGE);
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  EXPECT_EQ(pex_copy_times(p, 1, times), 0);
  release_and_expect_clean(untimed, p);
}

}  // namespace
