// Feeding the first stage and reading the last one through streams, with
// real children on POSIX: data flow, descriptors and times.

#include <errno.h>
#include <string.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "pex/pex_backend.h"
#include "testing/child.h"
#include "testing/descriptors.h"
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

TEST(Streams, InputPipeThroughTwoStagesToOutputStream) {
  std::set<int> fds_before = open_fds();
  pex_pipeline *p = pex_create(PEX_PIPES, "pex_test", nullptr);
  FILE *input = pex_open_input_pipe(p, 0);
  ASSERT_NE(input, nullptr);
  arg_vector b = child_args({"prefix", "b"}), c = child_args({"prefix", "c"});
  add_ok(p, 0, b.get(), self_path().c_str());
  add_ok(p, 0, c.get(), self_path().c_str());
  fputs("a", input);
  fclose(input);
  FILE *output = pex_output_stream(p, 0);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(read_all(output), "cba");
  int statuses[2];
  ASSERT_EQ(pex_get_status(p, 2, statuses), 1);
  EXPECT_EQ(statuses[0], 0);
  EXPECT_EQ(statuses[1], 0);
  pex_release(p);
  EXPECT_EQ(open_fds(), fds_before);
  EXPECT_TRUE(has_no_children());
}

TEST(Streams, InputFileAndOutputFileThroughIntermediateFiles) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "caller-named input" : "engine-named input");
    scratch_dir dir;
    std::string base = dir.file("stage"), input_name = dir.file("input");
    pex_pipeline *p = pex_create(0, "pex_test", base.c_str());
    FILE *input = pex_open_input_file(p, PEX_BINMODE_OUT, named ? input_name.c_str() : nullptr);
    ASSERT_NE(input, nullptr);
    fputs("a", input);
    arg_vector b = child_args({"prefix", "b"}), c = child_args({"prefix", "c"});
    add_ok(p, 0, b.get(), self_path().c_str());  // closes the input stream
    add_ok(p, 0, c.get(), self_path().c_str());
    FILE *output = pex_output_stream(p, 1);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(read_all(output), "cba");
    pex_release(p);
    // The caller's file stays; everything the engine named is removed.
    std::vector<std::string> left = dir.entries();
    EXPECT_EQ(left, named ? std::vector<std::string>{"input"} : std::vector<std::string>{});
    EXPECT_TRUE(has_no_children());
  }
}

TEST(Streams, ErrorPipeCarriesTheChildsStandardError) {
  scratch_dir dir;
  std::string out = dir.file("out");
  pex_pipeline *p = pex_create(0, "pex_test", nullptr);
  arg_vector both = child_args({"both", "to stdout", "to stderr"});
  add_ok(p, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, both.get(), self_path().c_str(), out.c_str());
  FILE *errors = pex_error_stream(p, 0);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(read_all(errors), "to stderr");
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  EXPECT_EQ(status, 0);
  pex_release(p);
  EXPECT_EQ(read_file(out), "to stdout");
}

TEST(Streams, CopyTimesOfRealChildren) {
  pex_pipeline *p = pex_create(PEX_KEEP_TIMES, "pex_test", nullptr);
  arg_vector spin = child_args({"spin", "30"});
  add_ok(p, PEX_FINAL_STAGE, spin.get(), self_path().c_str());
  pex_timing times[2];
  ASSERT_EQ(pex_copy_times(p, 2, times), 1);
  int64_t user_us = times[0].user_seconds * 1000000 + times[0].user_microseconds;
  int64_t system_us = times[0].system_seconds * 1000000 + times[0].system_microseconds;
  EXPECT_GE(user_us + system_us, 20000);
  EXPECT_LT(times[0].user_microseconds, 1000000);
  EXPECT_EQ(times[1].user_seconds, 0);
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  pex_release(p);
}

}  // namespace
