// The tool's end on Windows: its 32-bit exit code, or an exception that
// ended it (the system then makes the exception's NTSTATUS the exit
// code), which is told as a signal death is on POSIX.

#include <stdint.h>
#include <stdio.h>

#include "frontend/frontend.h"

namespace {

struct exception_text {
  uint32_t code;
  const char *text;
};

// The exceptions a crashing program ends with, in the words of their
// STATUS_ names: the system's own message texts for them hold inserts (an
// address) or are missing (Wine), so they are written out here.
const exception_text exception_texts[] = {
    {0x80000002u, "Datatype misalignment"},
    {0x80000003u, "Breakpoint"},
    {0x80000004u, "Single step"},
    {0xC0000005u, "Access violation"},
    {0xC0000006u, "In-page I/O error"},
    {0xC000001Du, "Illegal instruction"},
    {0xC0000025u, "Non-continuable exception"},
    {0xC000008Cu, "Array bounds exceeded"},
    {0xC000008Du, "Floating-point denormal operand"},
    {0xC000008Eu, "Floating-point division by zero"},
    {0xC000008Fu, "Floating-point inexact result"},
    {0xC0000090u, "Floating-point invalid operation"},
    {0xC0000091u, "Floating-point overflow"},
    {0xC0000092u, "Floating-point stack check"},
    {0xC0000093u, "Floating-point underflow"},
    {0xC0000094u, "Integer division by zero"},
    {0xC0000095u, "Integer overflow"},
    {0xC0000096u, "Privileged instruction"},
    {0xC00000FDu, "Stack overflow"},
    {0xC0000135u, "A DLL it needs was not found"},
    {0xC0000139u, "Entry point not found"},
    {0xC0000142u, "DLL initialization failed"},
    {0xC000013Au, "Interrupted by Ctrl-C"},
    {0xC0000374u, "Heap corruption"},
    {0xC0000409u, "Stack buffer overrun"},
    {0xC0000417u, "Invalid C runtime parameter"},
};

// NTSTATUS: severity warning or error (the top bit), not a customer code
// (bit 29), so that exit(-1) (0xFFFFFFFF) and every other small negative
// exit code stay exit codes.
bool is_exception(uint32_t code) { return (code & 0x80000000u) != 0 && (code & 0x20000000u) == 0; }

const char *exception_name(uint32_t code) {
  for (const exception_text &entry : exception_texts)
    if (entry.code == code) return entry.text;
  return "unknown exception";
}

}  // namespace

int frontend_exit_status(const char *tool_path, int wait_status) {
  uint32_t code = (uint32_t)wait_status;
  if (!is_exception(code)) return wait_status;
  fprintf(stderr, "%s terminated with exception 0x%08X [%s]\n", tool_path, (unsigned)code,
          exception_name(code));
  return 1;
}
