// The mapping of the tool's end on Windows: a 32-bit exit code relayed as
// it is, an exception told as POSIX tells a signal death.

#include <gtest/gtest.h>

#include <string>

#include "frontend/frontend.h"

namespace {

TEST(FrontendExitStatus, RelaysExitCodesAndReportsExceptions) {
  struct {
    unsigned code;
    int exit_status;
    std::string message;
  } cases[] = {
      {0, 0, ""},
      {1, 1, ""},
      {255, 255, ""},
      {256, 256, ""},
      {0x12345678u, 0x12345678, ""},
      {0xFFFFFFFFu, -1, ""},        // exit(-1): a customer-bit code, not an exception
      {0xE06D7363u, (int)0xE06D7363u, ""},  // a C++ runtime's code, customer bit set
      {0xC0000005u, 1, "C:\\t\\ar.exe terminated with exception 0xC0000005 [Access violation]\n"},
      {0xC00000FDu, 1, "C:\\t\\ar.exe terminated with exception 0xC00000FD [Stack overflow]\n"},
      {0xC000013Au, 1,
       "C:\\t\\ar.exe terminated with exception 0xC000013A [Interrupted by Ctrl-C]\n"},
      {0x80000003u, 1, "C:\\t\\ar.exe terminated with exception 0x80000003 [Breakpoint]\n"},
      {0xC0001234u, 1, "C:\\t\\ar.exe terminated with exception 0xC0001234 [unknown exception]\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    testing::internal::CaptureStderr();
    int exit_status = frontend_exit_status("C:\\t\\ar.exe", (int)c.code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(exit_status, c.exit_status);
  }
}

}  // namespace
