#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/support.h"
#include "testing/emulator.h"
#include "testing/files.h"

namespace {

using ::testing::ExitedWithCode;
using ::testing::KilledBySignal;

// temp_dir chooses once per process, so every check runs in a child that
// gtest starts afresh (threadsafe style re-executes the binary).  The child
// re-runs the test body up to its EXPECT_EXIT; it finds the parent's scratch
// directory through the environment, and only the parent removes it.
constexpr const char kScratchVar[] = "ZOV_TEMP_FILE_TEST_SCRATCH";

class TempFileTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  // Idempotent, since the child runs them again.
  std::string Dir(const std::string &name, mode_t mode = 0700) {
    std::string path = scratch_ + "/" + name;
    mkdir(path.c_str(), mode);
    chmod(path.c_str(), mode);
    return path;
  }
  std::string File(const std::string &name, mode_t mode) {
    std::string path = scratch_ + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd >= 0) close(fd);
    chmod(path.c_str(), mode);
    return path;
  }

  zov_test::scratch_dir dir_{kScratchVar};
  // Canonical: the same directory however it is reached, so names compare
  // as text.
  const std::string scratch_ = dir_.path();
};

// In the child: sets or unsets the three variables.
void set_temp_env(const char *tmpdir, const char *tmp, const char *temp) {
  const char *names[] = {"TMPDIR", "TMP", "TEMP"};
  const char *values[] = {tmpdir, tmp, temp};
  for (int i = 0; i < 3; i++) {
    if (values[i] != nullptr)
      setenv(names[i], values[i], 1);
    else
      unsetenv(names[i]);
  }
}

// In the child: 0 when text is what was wanted, else 1 with both on stderr.
int expect_text(const char *what, const std::string &got, const std::string &want) {
  if (got == want) return 0;
  fprintf(stderr, "%s: got '%s', want '%s'\n", what, got.c_str(), want.c_str());
  return 1;
}

// In the child: a fresh, empty, closed regular file of the given name shape.
int expect_new_file(const char *name, const std::string &head, const std::string &tail) {
  std::string text = name;
  struct stat st;
  int bad = 0;
  if (text.size() != head.size() + 6 + tail.size() || text.compare(0, head.size(), head) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0 ||
      text.compare(head.size(), 6, "XXXXXX") == 0) {
    fprintf(stderr, "name '%s' is not '%sXXXXXX%s' made unique\n", name, head.c_str(),
            tail.c_str());
    bad = 1;
  } else if (stat(name, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) {
    fprintf(stderr, "'%s' is not a new empty file\n", name);
    bad = 1;
  }
  return bad;
}

TEST_F(TempFileTest, CandidateOrderAndAppendedSlash) {
  std::string a = Dir("a"), b = Dir("b"), c = Dir("c");
  std::string file = File("rwx_file", 0700);
  std::string missing = scratch_ + "/missing", c_slash = c + "/";
  struct Case {
    const char *tmpdir, *tmp, *temp;
    std::string want;
  };
  const Case cases[] = {
      {a.c_str(), b.c_str(), c.c_str(), a + "/"},
      {"", b.c_str(), c.c_str(), b + "/"},  // set but empty: passed over
      {missing.c_str(), nullptr, c_slash.c_str(), c + "//"},
      {nullptr, missing.c_str(), c.c_str(), c + "/"},
      // access() alone decides: a file with all permissions passes.
      {file.c_str(), a.c_str(), nullptr, file + "/"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.want);
    EXPECT_EXIT(
        {
          set_temp_env(k.tmpdir, k.tmp, k.temp);
          exit(expect_text("temp_dir", temp_dir(), k.want));
        },
        ExitedWithCode(0), "");
  }

  if (access("/tmp/", R_OK | W_OK | X_OK) == 0) {
    EXPECT_EXIT(
        {
          set_temp_env(nullptr, nullptr, nullptr);
          exit(expect_text("temp_dir", temp_dir(), "/tmp//"));
        },
        ExitedWithCode(0), "");
  }
}

TEST_F(TempFileTest, DirectoryWithoutWritePermissionIsPassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "access() grants root write permission anyway";
  std::string read_only = Dir("read_only", 0500), b = Dir("b");
  EXPECT_EXIT(
      {
        set_temp_env(read_only.c_str(), b.c_str(), nullptr);
        exit(expect_text("temp_dir", temp_dir(), b + "/"));
      },
      ExitedWithCode(0), "");
}

TEST_F(TempFileTest, NamesArePrefixSixUniqueCharsSuffix) {
  std::string dir = scratch_ + "/";
  EXPECT_EXIT(
      {
        // A TMPDIR ending in '/' still gets one more.
        set_temp_env(dir.c_str(), nullptr, nullptr);
        const std::string head = dir + "/";
        char *object = temp_file_make_suffixed(".o");
        char *bare = temp_file_make_suffixed(nullptr);
        char *prefixed = temp_file_make("zz", ".s");
        char *plain = temp_file_make(nullptr, nullptr);
        int bad = expect_new_file(object, head + "cc", ".o") +
                  expect_new_file(bare, head + "cc", "") +
                  expect_new_file(prefixed, head + "zz", ".s") +
                  expect_new_file(plain, head + "cc", "") + (strcmp(bare, plain) == 0);
        free(object);
        free(bare);
        free(prefixed);
        free(plain);
        exit(bad);
      },
      ExitedWithCode(0), "");
}

TEST_F(TempFileTest, ChoiceOutlivesLaterEnvironmentChanges) {
  std::string a = Dir("a"), b = Dir("b");
  EXPECT_EXIT(
      {
        set_temp_env(a.c_str(), nullptr, nullptr);
        char *first = temp_file_make_suffixed(nullptr);
        set_temp_env(b.c_str(), b.c_str(), b.c_str());
        char *second = temp_file_make_suffixed(nullptr);
        int bad = expect_text("temp_dir", temp_dir(), a + "/") +
                  expect_new_file(second, a + "/cc", "");
        free(first);
        free(second);
        exit(bad);
      },
      ExitedWithCode(0), "");
}

TEST_F(TempFileTest, RelativeTmpdirFollowsTheCurrentDirectory) {
  std::string x = Dir("x"), y = Dir("y");
  Dir("x/tmp");
  Dir("y/tmp");
  EXPECT_EXIT(
      {
        int bad = chdir(x.c_str()) != 0;
        set_temp_env("tmp", nullptr, nullptr);
        char *in_x = temp_file_make_suffixed(nullptr);
        bad += chdir(y.c_str()) != 0;
        char *in_y = temp_file_make_suffixed(nullptr);
        bad += expect_text("temp_dir", temp_dir(), "tmp/");
        bad += expect_new_file(in_y, "tmp/cc", "");
        bad += access((x + "/" + in_x).c_str(), F_OK) != 0;
        bad += access((y + "/" + in_y).c_str(), F_OK) != 0;
        free(in_x);
        free(in_y);
        exit(bad);
      },
      ExitedWithCode(0), "");
}

std::string regex_quote(const std::string &text) {
  std::string quoted;
  for (char ch : text) {
    if (strchr("\\^$.|?*+()[]{}", ch) != nullptr) quoted += '\\';
    quoted += ch;
  }
  return quoted;
}

TEST_F(TempFileTest, UncreatableFileReportsAndAborts) {
  std::string file = File("rwx_file", 0700);
  EXPECT_EXIT(
      {
        set_temp_env(file.c_str(), nullptr, nullptr);
        temp_file_make_suffixed(".o");
      },
      KilledBySignal(SIGABRT),
      "^" + regex_quote("Cannot create temporary file in " + file + "/: " + strerror(ENOTDIR)) +
          "\n" + zov_test::emulator_signal_line() + "$");
}

}  // namespace
