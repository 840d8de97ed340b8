// The pipeline engine against the fake back-end: what each stage is given,
// every message with its error number, and that a failure or a release
// leaves no descriptor open and no child unwaited.

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "pex/pex_backend.h"
#include "testing/fake_backend.h"
#include "testing/files.h"

using namespace zov_test;

namespace {

char *const prog_args[] = {const_cast<char *>("prog"), nullptr};

// What one test works with: the fake, a scratch directory, and names whose
// texts outlive the pipeline (it borrows them).
struct engine_env {
  fake_backend fake;
  scratch_dir dir;
  std::vector<std::unique_ptr<std::string>> kept;
  const char *keep(const std::string &text) {
    kept.push_back(std::make_unique<std::string>(text));
    return kept.back()->c_str();
  }
  const char *path(const std::string &leaf) { return keep(dir.file(leaf)); }
};

void add_ok(pex_pipeline *pipeline, int flags, const char *outname = nullptr,
            const char *errname = nullptr, const char *executable = "prog") {
  int err = 0;
  const char *errmsg =
      pex_add_stage(pipeline, flags, executable, prog_args, outname, errname, &err);
  ASSERT_EQ(errmsg, nullptr) << errmsg << " " << err;
}

// The descriptors still open at the fake are exactly those the record
// holds for later.
void expect_only_recorded_open(const fake_backend &fake, const pex_pipeline *pipeline) {
  std::set<int> recorded;
  if (pipeline->pending_input_fd >= 100) recorded.insert(pipeline->pending_input_fd);
  if (pipeline->error_pipe_fd >= 100) recorded.insert(pipeline->error_pipe_fd);
  EXPECT_EQ(fake.open, recorded);
}

void release_and_expect_clean(fake_backend &fake, pex_pipeline *pipeline) {
  pex_release(pipeline);
  EXPECT_TRUE(fake.open.empty()) << "descriptor left open: " << *fake.open.begin();
  EXPECT_TRUE(fake.unwaited.empty()) << "child left unwaited: " << *fake.unwaited.begin();
  EXPECT_EQ(fake.released, 1);
  EXPECT_EQ(fake.problems, std::vector<std::string>{});
}

size_t position_of(const std::vector<std::string> &log, const std::string &entry) {
  return (size_t)(std::find(log.begin(), log.end(), entry) - log.begin());
}

struct failure_case {
  const char *name;
  int pipeline_flags;
  const char *temp_base;  // leaf in the scratch directory, or null
  std::function<void(engine_env &, pex_pipeline *)> before;
  int flags;
  const char *outname;  // leaves in the scratch directory
  const char *errname;
  const char *message;
  int error;
};

const failure_case failure_cases[] = {
    {"input stream cannot be closed", 0, nullptr,
     [](engine_env &env, pex_pipeline *p) {
       FILE *input = pex_open_input_file(p, 0, env.path("input"));
       ASSERT_NE(input, nullptr);
       fputs("pending", input);
       close(fileno(input));  // the flush at fclose now fails
     },
     PEX_FINAL_STAGE, nullptr, nullptr, "closing pipeline input file", EBADF},
    {"previous output cannot be opened", 0, "stage",
     [](engine_env &env, pex_pipeline *p) {
       add_ok(p, 0);
       env.fake.fail("open_input", 1, ENOENT);
     },
     PEX_FINAL_STAGE, nullptr, nullptr, "open temporary file", ENOENT},
    {"stage after the final one", 0, nullptr,
     [](engine_env &, pex_pipeline *p) { add_ok(p, PEX_FINAL_STAGE); }, 0, nullptr, nullptr,
     "pipeline already complete", 0},
    {"stage after a final one that failed to start", 0, nullptr,
     [](engine_env &env, pex_pipeline *p) {
       env.fake.fail("spawn_child", 1, ENOENT);
       int err;
       pex_add_stage(p, PEX_FINAL_STAGE, "prog", prog_args, nullptr, nullptr, &err);
     },
     PEX_FINAL_STAGE, nullptr, nullptr, "pipeline already complete", 0},
    {"output pipe", PEX_PIPES, nullptr,
     [](engine_env &env, pex_pipeline *p) {
       add_ok(p, 0);
       env.fake.fail("make_pipe", 2, EMFILE);
     },
     0, nullptr, nullptr, "pipe", EMFILE},
    {"error pipe", PEX_PIPES, nullptr,
     [](engine_env &env, pex_pipeline *) { env.fake.fail("make_pipe", 1, ENFILE); },
     PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, nullptr, nullptr, "pipe", ENFILE},
    {"intermediate file cannot be named", 0, "missing/stage", nullptr, 0, nullptr, nullptr,
     "could not create temporary file", 0},
    {"output file", 0, nullptr,
     [](engine_env &env, pex_pipeline *) { env.fake.fail("open_output", 1, EACCES); },
     PEX_FINAL_STAGE, "out", nullptr, "open temporary output file", EACCES},
    {"error name with error pipe", PEX_PIPES, nullptr, nullptr,
     PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, "out", "err",
     "both ERRNAME and PEX_STDERR_TO_PIPE specified.", 0},
    {"stage after an error pipe", PEX_PIPES, nullptr,
     [](engine_env &, pex_pipeline *p) { add_ok(p, PEX_STDERR_TO_PIPE); }, PEX_FINAL_STAGE,
     nullptr, nullptr, "PEX_STDERR_TO_PIPE used in the middle of pipeline", 0},
    {"error file", 0, "stage",
     [](engine_env &env, pex_pipeline *) { env.fake.fail("open_output", 2, EACCES); }, 0,
     nullptr, "err", "open error file", EACCES},
    {"spawn failure passes through", PEX_PIPES, nullptr,
     [](engine_env &env, pex_pipeline *p) {
       add_ok(p, 0);
       env.fake.fail("spawn_child", 2, ENOENT);
     },
     PEX_STDERR_TO_PIPE, nullptr, nullptr, "execvp", ENOENT},
    {"earlier child cannot be collected", 0, "stage",
     [](engine_env &env, pex_pipeline *p) {
       add_ok(p, 0);
       env.fake.fail("wait_child", 1, ECHILD);
     },
     PEX_FINAL_STAGE, nullptr, nullptr, "wait", ECHILD},
};

void PrintTo(const failure_case &c, std::ostream *os) { *os << c.name; }

class EngineFailure : public testing::TestWithParam<failure_case> {};

TEST_P(EngineFailure, ReportsAndLeavesNothingBehind) {
  const failure_case &c = GetParam();
  engine_env env;
  pex_pipeline *p =
      env.fake.create(c.pipeline_flags, c.temp_base != nullptr ? env.path(c.temp_base) : nullptr);
  if (c.before) c.before(env, p);
  ASSERT_FALSE(HasFatalFailure());

  int err = -12345;
  const char *errmsg =
      pex_add_stage(p, c.flags, "prog", prog_args, c.outname ? env.path(c.outname) : nullptr,
                    c.errname ? env.path(c.errname) : nullptr, &err);
  ASSERT_NE(errmsg, nullptr);
  EXPECT_STREQ(errmsg, c.message);
  EXPECT_EQ(err, c.error) << strerror(err);
  expect_only_recorded_open(env.fake, p);
  release_and_expect_clean(env.fake, p);
  // Intermediate files the engine made are gone; a caller's input file stays.
  for (const std::string &entry : env.dir.entries()) EXPECT_EQ(entry, "input");
}

INSTANTIATE_TEST_SUITE_P(Messages, EngineFailure, testing::ValuesIn(failure_cases),
                         [](const testing::TestParamInfo<failure_case> &info) {
                           std::string name = info.param.name;
                           for (char &c : name)
                             if (!isalnum((unsigned char)c)) c = '_';
                           return name;
                         });

// A stage refused for its arguments or for what the pipeline already holds
// is refused before anything is waited for, opened or named: neither the
// back-end nor the record sees anything of it.
TEST(Engine, RefusedStageTouchesNothing) {
  struct refusal {
    const char *name;
    int first_flags;  // of the stage before, which leaves an intermediate file
    int flags;
    const char *errname;
    const char *message;
  };
  const refusal cases[] = {
      {"error name with error pipe", 0, PEX_FINAL_STAGE | PEX_STDERR_TO_PIPE, "err",
       "both ERRNAME and PEX_STDERR_TO_PIPE specified."},
      {"stage after an error pipe", PEX_STDERR_TO_PIPE, PEX_FINAL_STAGE, nullptr,
       "PEX_STDERR_TO_PIPE used in the middle of pipeline"},
  };
  for (const refusal &c : cases) {
    SCOPED_TRACE(c.name);
    engine_env env;
    pex_pipeline *p = env.fake.create(0, env.path("stage"));
    add_ok(p, c.first_flags);
    const char *pending = p->pending_input_path;
    size_t logged = env.fake.log.size();
    int err = -1;
    const char *errmsg = pex_add_stage(p, c.flags, "prog", prog_args, nullptr,
                                       c.errname != nullptr ? env.path(c.errname) : nullptr, &err);
    EXPECT_STREQ(errmsg, c.message);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(std::vector<std::string>(env.fake.log.begin() + (long)logged, env.fake.log.end()),
              std::vector<std::string>{});
    EXPECT_EQ(p->pending_input_path, pending);
    EXPECT_EQ(p->pending_input_fd, 0);  // the refused final stage did not complete it
    EXPECT_EQ(p->removal_count, 1);
    EXPECT_EQ(p->waited_count, 0);
    release_and_expect_clean(env.fake, p);
  }
}

TEST(Engine, PipeModeWiresStagesThroughPipes) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES);
  char *const env[] = {const_cast<char *>("A=1"), nullptr};
  int err;
  add_ok(p, PEX_USE_PATH, nullptr, nullptr, "one");
  ASSERT_EQ(pex_add_stage_env(p, PEX_MERGE_STDERR, "two", prog_args, env, nullptr, nullptr, &err),
            nullptr);
  add_ok(p, PEX_FINAL_STAGE, nullptr, nullptr, "three");

  ASSERT_EQ(fake.spawns.size(), 3u);
  // make_pipe hands out read end first: 100/101, then 102/103.
  const fake_spawn &one = fake.spawns[0], &two = fake.spawns[1], &three = fake.spawns[2];
  EXPECT_EQ(std::vector<int>({one.in, one.out, one.errdes, one.toclose}),
            std::vector<int>({0, 101, 2, 100}));
  EXPECT_EQ(std::vector<int>({two.in, two.out, two.errdes, two.toclose}),
            std::vector<int>({100, 103, 2, 102}));
  EXPECT_EQ(std::vector<int>({three.in, three.out, three.errdes, three.toclose}),
            std::vector<int>({102, 1, 2, -1}));
  EXPECT_EQ(one.flags, PEX_USE_PATH);
  EXPECT_EQ(two.flags, PEX_MERGE_STDERR);
  EXPECT_EQ(one.env, nullptr);
  EXPECT_EQ(two.env, env);
  EXPECT_EQ(p->pending_input_fd, -1);
  // Pipe mode runs all stages at once: nothing is waited for yet.
  EXPECT_EQ(std::count_if(fake.log.begin(), fake.log.end(),
                          [](const std::string &s) { return s.rfind("wait", 0) == 0; }),
            0);

  int statuses[3];
  ASSERT_EQ(pex_get_status(p, 3, statuses), 1);
  EXPECT_EQ(statuses[0], fake_backend::status_of(1000));
  EXPECT_EQ(statuses[2], fake_backend::status_of(1002));
  release_and_expect_clean(fake, p);
}

class FileMode : public testing::TestWithParam<bool> {};

TEST_P(FileMode, EachStageReadsThePreviousFileAfterItsWriterEnded) {
  bool keep_temps = GetParam();
  engine_env env;
  pex_pipeline *p = env.fake.create(keep_temps ? PEX_KEEP_TEMPS : 0, env.path("stage"));
  add_ok(p, 0, nullptr, nullptr, "one");
  std::string first = p->pending_input_path;
  add_ok(p, PEX_BINMODE_IN, nullptr, nullptr, "two");
  std::string second = p->pending_input_path;
  add_ok(p, PEX_FINAL_STAGE, nullptr, nullptr, "three");

  EXPECT_EQ(first.rfind(env.dir.file("stage"), 0), 0u);
  EXPECT_EQ(first.size(), env.dir.file("stage").size() + 6);
  EXPECT_NE(first, second);
  const std::vector<std::string> &log = env.fake.log;
  // Stage two asked for a binary input; stage three did not.
  EXPECT_LT(position_of(log, "wait 1000"), position_of(log, "open_input " + first + " 1"));
  EXPECT_LT(position_of(log, "open_input " + first + " 1"), position_of(log, "spawn two"));
  EXPECT_LT(position_of(log, "wait 1001"), position_of(log, "open_input " + second + " 0"));
  EXPECT_LT(position_of(log, "open_input " + second + " 0"), position_of(log, "spawn three"));
  for (const fake_spawn &spawn : env.fake.spawns) EXPECT_EQ(spawn.toclose, -1);

  EXPECT_EQ(env.dir.entries().size(), 2u);
  // The last child was started after the last collection; release must
  // still reap it.
  release_and_expect_clean(env.fake, p);
  EXPECT_EQ(position_of(env.fake.log, "wait 1002 terminate") < env.fake.log.size(), true);
  EXPECT_EQ(env.dir.entries().size(), keep_temps ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Temps, FileMode, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "Kept" : "Removed";
                         });

TEST(Engine, CallerNamedIntermediateFileIsCopiedOntoTheRemovalList) {
  engine_env env;
  pex_pipeline *p = env.fake.create(0);
  const char *name = env.path("mid");
  write_file(name, "x");
  add_ok(p, 0, name);
  ASSERT_EQ(p->removal_count, 1);
  EXPECT_NE(p->removal_paths[0], name);
  EXPECT_STREQ(p->removal_paths[0], name);
  EXPECT_EQ(p->pending_input_path, name);
  EXPECT_EQ(p->pending_input_path_owned, 0);
  release_and_expect_clean(env.fake, p);
  EXPECT_TRUE(env.dir.entries().empty());
}

struct open_case {
  const char *name;
  const char *temp_base;
  int flags;
  const char *outname;
  const char *errname;
  std::vector<std::string> opens;
};

TEST(Engine, OutputAndErrorFilesOpenWithTheStageFlags) {
  const open_case cases[] = {
      {"plain", nullptr, PEX_FINAL_STAGE, "o", nullptr, {"open_output o 0 0"}},
      {"append binary", nullptr, PEX_FINAL_STAGE | PEX_APPEND_OUT | PEX_BINMODE_OUT, "o", nullptr,
       {"open_output o 1 1"}},
      {"suffix", "base/", PEX_FINAL_STAGE | PEX_NAME_IS_SUFFIX, ".s", nullptr,
       {"open_output base/.s 0 0"}},
      // The join stops at the missing base: an empty name.
      {"suffix without base", nullptr, PEX_FINAL_STAGE | PEX_NAME_IS_SUFFIX, ".s", nullptr,
       {"open_output  0 0"}},
      {"error file", nullptr, PEX_FINAL_STAGE | PEX_APPEND_ERR | PEX_BINMODE_ERR, nullptr, "e",
       {"open_output e 1 1"}},
      {"both", nullptr, PEX_FINAL_STAGE | PEX_APPEND_OUT | PEX_BINMODE_ERR, "o", "e",
       {"open_output o 0 1", "open_output e 1 0"}},
  };
  for (const open_case &c : cases) {
    SCOPED_TRACE(c.name);
    fake_backend fake;
    pex_pipeline *p = fake.create(0, c.temp_base);
    add_ok(p, c.flags, c.outname, c.errname);
    std::vector<std::string> opens;
    for (const std::string &entry : fake.log)
      if (entry.rfind("open_", 0) == 0) opens.push_back(entry);
    EXPECT_EQ(opens, c.opens);
    ASSERT_EQ(fake.spawns.size(), 1u);
    EXPECT_EQ(fake.spawns[0].out == 1, c.outname == nullptr);
    EXPECT_EQ(fake.spawns[0].errdes == 2, c.errname == nullptr);
    release_and_expect_clean(fake, p);
  }
}

TEST(Engine, StageOutputNames) {
  scratch_dir dir;
  std::string base_x = dir.file("buildXXXXXX"), base = dir.file("build"),
              five = dir.file("XXXXX"), missing = dir.file("missing/b");
  struct naming {
    const char *base;
    int flags;
    const char *name;
    std::string prefix;  // of the result
    size_t extra;        // result length minus prefix length
  };
  const naming cases[] = {
      {base_x.c_str(), 0, nullptr, dir.file("build"), 6},
      {base.c_str(), 0, nullptr, base, 6},
      {five.c_str(), 0, nullptr, five, 6},
      {base.c_str(), PEX_NAME_IS_SUFFIX, ".o", base + ".o", 0},
  };
  for (const naming &c : cases) {
    SCOPED_TRACE(c.base);
    fake_backend fake;
    pex_pipeline *p = fake.create(0, c.base);
    const char *result = pex_stage_output_name(p, c.flags, c.name);
    ASSERT_NE(result, nullptr);
    std::string text = result;
    EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << text;
    EXPECT_EQ(text.size(), c.prefix.size() + c.extra) << text;
    if (c.name == nullptr) {
      struct stat info;
      EXPECT_EQ(stat(result, &info), 0) << "template file not created: " << text;
      EXPECT_NE(text, base_x);
      unlink(result);
    }
    free(const_cast<char *>(result));
    pex_release(p);
  }

  fake_backend fake;
  pex_pipeline *p = fake.create(0, missing.c_str());
  const char *caller = "given";
  EXPECT_EQ(pex_stage_output_name(p, 0, caller), caller);
  EXPECT_EQ(pex_stage_output_name(p, 0, nullptr), nullptr);
  pex_release(p);

  // Without a base the support library makes a temporary file.
  p = fake.create(0, nullptr);
  for (const char *suffix : {".sfx", static_cast<const char *>(nullptr)}) {
    const char *made = pex_stage_output_name(p, suffix ? PEX_NAME_IS_SUFFIX : 0, suffix);
    ASSERT_NE(made, nullptr);
    std::string text = made;
    EXPECT_NE(text.find("/cc"), std::string::npos) << text;
    if (suffix) {
      EXPECT_EQ(text.substr(text.size() - 4), suffix);
    }
    EXPECT_EQ(unlink(made), 0) << text;
    free(const_cast<char *>(made));
  }
  pex_release(p);
}

TEST(Engine, GetStatusCopiesAndPads) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES);
  int statuses[4] = {-1, -1, -1, -1};
  ASSERT_EQ(pex_get_status(p, 3, statuses), 1);
  EXPECT_EQ(std::vector<int>(statuses, statuses + 4), std::vector<int>({0, 0, 0, -1}));
  add_ok(p, 0);
  add_ok(p, PEX_FINAL_STAGE);

  std::fill(statuses, statuses + 4, -1);
  ASSERT_EQ(pex_get_status(p, 1, statuses), 1);
  EXPECT_EQ(std::vector<int>(statuses, statuses + 4),
            std::vector<int>({fake_backend::status_of(1000), -1, -1, -1}));
  ASSERT_EQ(pex_get_status(p, 4, statuses), 1);
  EXPECT_EQ(std::vector<int>(statuses, statuses + 4),
            std::vector<int>({fake_backend::status_of(1000), fake_backend::status_of(1001), 0, 0}));
  // Collected once: release neither waits again nor terminates.
  pex_release(p);
  EXPECT_EQ(position_of(fake.log, "wait 1000 terminate"), fake.log.size());
  EXPECT_TRUE(fake.problems.empty());
}

TEST(Engine, FailedWaitFailsGetStatus) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES);
  add_ok(p, 0);
  add_ok(p, PEX_FINAL_STAGE);
  fake.fail("wait_child", 1, ECHILD);
  int statuses[2] = {-1, -1};
  EXPECT_EQ(pex_get_status(p, 2, statuses), 0);
  EXPECT_EQ(statuses[0], -1);
  // The second child was still waited for.
  release_and_expect_clean(fake, p);
}

TEST(Engine, ReleaseClosesReadEndsBeforeEndingChildren) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES | PEX_KEEP_TIMES);
  add_ok(p, 0);
  add_ok(p, PEX_STDERR_TO_PIPE);
  int pending = p->pending_input_fd, error_pipe = p->error_pipe_fd;
  release_and_expect_clean(fake, p);
  size_t first_wait = position_of(fake.log, "wait 1000 terminate");
  ASSERT_LT(first_wait, fake.log.size()) << "children not ended at release";
  EXPECT_LT(position_of(fake.log, "close " + std::to_string(pending)), first_wait);
  EXPECT_LT(position_of(fake.log, "close " + std::to_string(error_pipe)), first_wait);
  // Times are not collected at release.
  EXPECT_LT(position_of(fake.log, "wait 1001 terminate"), fake.log.size());
}

TEST(Engine, TimedCollectionsAskForTimes) {
  fake_backend fake;
  pex_pipeline *p = fake.create(PEX_PIPES | PEX_KEEP_TIMES);
  add_ok(p, PEX_FINAL_STAGE);
  int status;
  ASSERT_EQ(pex_get_status(p, 1, &status), 1);
  EXPECT_LT(position_of(fake.log, "wait 1000 timed"), fake.log.size());
  release_and_expect_clean(fake, p);
}

}  // namespace
