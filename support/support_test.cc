#include "support/support.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

// The out-of-memory tests ask for impossible sizes; under AddressSanitizer
// those must come back as null instead of ending the run with a report.
extern "C" __attribute__((used, visibility("default"))) const char *__asan_default_options() {
  return "allocator_may_return_null=1";
}

// Set to make strerror return null (testing/strerror_stand_in.c).
extern "C" int zov_test_strerror_gives_null;

namespace {

using ::testing::ExitedWithCode;

// Kept reachable so LeakSanitizer in a child that exits from inside an
// allocator does not count it.
void *live_block;

void report_hook(int status) { fprintf(stderr, "hook saw %d\n", status); }

// The whole of the child's stderr, after the one line AddressSanitizer adds
// when it refuses an allocation.  Compared as a text, not as a regular
// expression: GoogleTest's Windows build has only its simple ones.
class whole_stderr_matcher : public testing::MatcherInterface<const std::string &> {
 public:
  explicit whole_stderr_matcher(std::string text) : text_(std::move(text)) {}
  bool MatchAndExplain(const std::string &err, testing::MatchResultListener *) const override {
    static const std::string asan_line = "WARNING: AddressSanitizer failed to allocate ";
    std::string rest = err;
    size_t warning = rest.find(asan_line);
    if (rest.rfind("==", 0) == 0 && warning != std::string::npos &&
        rest.find('\n') > warning)
      rest = rest.substr(rest.find('\n') + 1);
    return rest == text_;
  }
  void DescribeTo(std::ostream *os) const override { *os << "is " << testing::PrintToString(text_); }

 private:
  std::string text_;
};

testing::Matcher<const std::string &> whole_stderr(const std::string &text) {
  return testing::MakeMatcher(new whole_stderr_matcher(text));
}

TEST(MustAlloc, ZeroSizesStillGiveUsableBlocks) {
  char *m = (char *)must_malloc(0);
  m[0] = 'm';

  for (auto [count, size] : {std::pair<size_t, size_t>{0, 8}, {8, 0}, {0, 0}}) {
    char *c = (char *)must_calloc(count, size);
    EXPECT_EQ(c[0], '\0') << count << " x " << size;
    free(c);
  }

  // A resize to 0 keeps the block (1 byte) instead of freeing it.
  char *r = (char *)must_realloc(must_strdup("abc"), 0);
  EXPECT_EQ(r[0], 'a');
  free(r);

  char *fresh = (char *)must_realloc(nullptr, 4);
  memcpy(fresh, "xyz", 4);
  EXPECT_STREQ(fresh, "xyz");
  free(fresh);
  free(m);

  char *copy = must_strdup("");
  EXPECT_STREQ(copy, "");
  free(copy);
}

TEST(MustAllocDeathTest, FailureReportsSizeRunsHookAndExitsOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string max = std::to_string(SIZE_MAX);  // all 64 bits, on Windows too

  // No program name: the message opens with a bare newline.
  EXPECT_EXIT(must_malloc(SIZE_MAX), ExitedWithCode(1),
              whole_stderr("\nout of memory allocating " + max + " bytes\n"));

  EXPECT_EXIT(
      {
        set_alloc_program_name("zov-ar");
        exit_hook = report_hook;
        live_block = must_malloc(16);
        must_realloc(live_block, SIZE_MAX - 1);
      },
      ExitedWithCode(1),
      whole_stderr("\nzov-ar: out of memory allocating " +
                   std::to_string(SIZE_MAX - 1) + " bytes\nhook saw 1\n"));

  // A count times size that overflows is reported as the largest size, not
  // as whatever the multiplication wrapped around to.
  EXPECT_EXIT(must_calloc(SIZE_MAX / 2 + 1, 4), ExitedWithCode(1),
              whole_stderr("\nout of memory allocating " + max + " bytes\n"));
  EXPECT_EXIT(must_calloc(1, SIZE_MAX), ExitedWithCode(1),
              whole_stderr("\nout of memory allocating " + max + " bytes\n"));
}

TEST(ExitWithHookDeathTest, RunsHookWithStatusThenExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exit_with_hook(7), ExitedWithCode(7), whole_stderr(""));
  EXPECT_EXIT(
      {
        exit_hook = report_hook;
        exit_with_hook(3);
      },
      ExitedWithCode(3), "^hook saw 3\n$");
}

TEST(ErrnoText, SystemTextOrNumberedFallback) {
  EXPECT_STREQ(errno_text(ENOENT), strerror(ENOENT));

  zov_test_strerror_gives_null = 1;
  // INT_MIN is the longest text the 32-byte buffer must hold.
  std::string longest = errno_text(INT_MIN);
  const char *other = errno_text(42);
  std::string negative = errno_text(-7);
  const char *again = errno_text(0);
  zov_test_strerror_gives_null = 0;

  EXPECT_EQ(longest, "undocumented error #-2147483648");
  EXPECT_EQ(negative, "undocumented error #-7");
  EXPECT_EQ(other, again) << "fallbacks share one buffer";
  EXPECT_STREQ(again, "undocumented error #0");
}

// An empty list is a lone null first argument, which the sentinel check
// flags at compile time; these tests make such calls on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#ifdef __clang__
#pragma GCC diagnostic ignored "-Wsentinel"
#endif

TEST(StrJoin, EmptyListAndParts) {
  EXPECT_EQ(str_join_length((char *)nullptr), 0u);
  EXPECT_EQ(str_join_length("ab", "", "cde", (char *)nullptr), 5u);

  char *empty = str_join((char *)nullptr);
  EXPECT_STREQ(empty, "");
  free(empty);
  char *joined = str_join("/usr/", "", "local", "/bin/", (char *)nullptr);
  EXPECT_STREQ(joined, "/usr/local/bin/");
  free(joined);
}

TEST(StrJoin, IntoCallerBuffers) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(str_join_into(buffer, (char *)nullptr), buffer);
  EXPECT_EQ(std::string(buffer, 2), std::string("\0x", 2)) << "only a terminator";

  memset(buffer, 'x', sizeof buffer);
  str_join_into(buffer, "ab", "", "cde", (char *)nullptr);
  EXPECT_EQ(std::string(buffer, 7), std::string("abcde\0x", 7));

  char shared[16];
  str_join_buffer = shared;
  EXPECT_EQ(str_join_shared("zov", "-", "ar", (char *)nullptr), shared);
  EXPECT_STREQ(shared, "zov-ar");
  EXPECT_STREQ(str_join_shared((char *)nullptr), "");
  str_join_buffer = nullptr;
}

#pragma GCC diagnostic pop

TEST(StrJoin, RejoinMayReuseTheOldString) {
  // The old string is one of the parts and is freed only after the copy;
  // LeakSanitizer and AddressSanitizer check both halves of that.
  char *text = must_strdup("/opt/x/");
  text = str_rejoin(text, text, "bin/", (char *)nullptr);
  EXPECT_STREQ(text, "/opt/x/bin/");
  text = str_rejoin(text, "zov-ar", (char *)nullptr);
  EXPECT_STREQ(text, "zov-ar");
  free(text);

  char *from_null = str_rejoin(nullptr, "a", "b", (char *)nullptr);
  EXPECT_STREQ(from_null, "ab");
  free(from_null);
}

}  // namespace
