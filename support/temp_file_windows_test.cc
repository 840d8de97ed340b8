// Temporary files on Windows: TMPDIR, TMP and TEMP in that order, then the
// system's temporary directory, and "cc" names made unique, under folders
// named outside ASCII.  temp_dir chooses once per process, so each check
// runs in a child that GoogleTest starts afresh (threadsafe death tests).

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/support.h"
#include "testing/files.h"

namespace {

using ::testing::ExitedWithCode;

constexpr const char kScratchVar[] = "ZOV_TEMP_FILE_TEST_SCRATCH";

class TempFileWindows : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  std::string Dir(const std::string &name) {
    std::string path = scratch_ + "\\" + name;
    zov_test::make_dirs(path);
    return path;
  }
  zov_test::scratch_dir dir_{kScratchVar};
  const std::string scratch_ = dir_.path();
};

// In the child: sets the three variables; null unsets one ("NAME=" is
// the C runtime's removal, which it passes on to the system's copy that
// GetTempPathW reads).
void set_temp_env(const char *tmpdir, const char *tmp, const char *temp) {
  const char *names[] = {"TMPDIR", "TMP", "TEMP"};
  const char *values[] = {tmpdir, tmp, temp};
  for (int i = 0; i < 3; i++) {
    std::string entry = std::string(names[i]) + "=" + (values[i] != nullptr ? values[i] : "");
    _putenv(entry.c_str());
  }
}

int expect_text(const char *what, const std::string &got, const std::string &want) {
  if (got == want) return 0;
  fprintf(stderr, "%s: got '%s', want '%s'\n", what, got.c_str(), want.c_str());
  return 1;
}

TEST_F(TempFileWindows, CandidateOrder) {
  std::string a = Dir("a Zoë"), b = Dir("b 漢字"), c = Dir("c");
  std::string file = scratch_ + "\\a file";
  zov_test::write_file(file, "");
  std::string missing = scratch_ + "\\missing", c_slash = c + "\\";
  struct Case {
    const char *tmpdir, *tmp, *temp;
    std::string want;
  } cases[] = {
      {a.c_str(), b.c_str(), c.c_str(), a + "/"},
      {missing.c_str(), b.c_str(), c.c_str(), b + "/"},
      {missing.c_str(), nullptr, c_slash.c_str(), c + "\\/"},
      {file.c_str(), a.c_str(), nullptr, a + "/"},  // a file is no folder
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
}

// With none of the three set, the system's own: what GetTempPathW answers
// then (USERPROFILE's folder or the Windows folder), with "/" behind.
TEST_F(TempFileWindows, SystemTemporaryDirectoryLast) {
  EXPECT_EXIT(
      {
        set_temp_env(nullptr, nullptr, nullptr);
        wchar_t path[MAX_PATH + 2];
        GetTempPathW(MAX_PATH + 2, path);
        std::u8string system = std::filesystem::path(path).u8string();
        exit(expect_text("temp_dir", temp_dir(), std::string(system.begin(), system.end()) + "/"));
      },
      ExitedWithCode(0), "");
}

TEST_F(TempFileWindows, UniqueEmptyFilesUnderANonAsciiFolder) {
  std::string dir = Dir("temp Zoë 漢字");
  EXPECT_EXIT(
      {
        set_temp_env(nullptr, dir.c_str(), nullptr);
        char *first = temp_file_make_suffixed(".o");
        char *second = temp_file_make_suffixed(".o");
        std::string head = dir + "/cc";
        std::string a = first;
        std::string b = second;
        bool shaped = a.size() == head.size() + 8 && a.compare(0, head.size(), head) == 0 &&
                      a.compare(a.size() - 2, 2, ".o") == 0 &&
                      a.compare(head.size(), 6, "XXXXXX") != 0;
        bool there = zov_test::file_exists(a) && zov_test::read_file(a).empty() &&
                     zov_test::file_exists(b);
        if (!shaped || !there || a == b) fprintf(stderr, "made '%s' and '%s'\n", first, second);
        exit(shaped && there && a != b ? 0 : 1);
      },
      ExitedWithCode(0), "");
}

}  // namespace
