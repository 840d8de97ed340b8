// Stand-in for the wrapped ar/nm/ranlib in the Windows front-end tests,
// reading its command line and environment as UTF-16 (linked with
// -municode) so that it records exactly what reached it.
//
// Environment:
//   ZOV_STAND_IN_RECORD     file to (re)write, in UTF-8: one line
//                           "arg:<text>" per argument (a newline in an
//                           argument written as \n, a backslash as \\), and
//                           for an argument "@file" the file's bytes after
//                           a line "rsp:<length>".
//   ZOV_STAND_IN_EXIT       exit with this code (decimal or 0x hex, all 32
//                           bits; default 0).
//   ZOV_STAND_IN_EXCEPTION  when set, end by an access violation instead.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include <string>

namespace {

std::string utf8(const wchar_t *text) {
  int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(count > 0 ? (size_t)count - 1 : 0, '\0');
  if (count > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), count, nullptr, nullptr);
  return out;
}

std::string escaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out;
}

std::string file_bytes(const wchar_t *name) {
  std::string bytes;
  FILE *file = _wfopen(name, L"rb");
  if (file == nullptr) return "(cannot open)";
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  fclose(file);
  return bytes;
}

void record(const wchar_t *path, int argc, wchar_t **argv) {
  FILE *out = _wfopen(path, L"wb");
  if (out == nullptr) exit(125);
  for (int i = 0; i < argc; ++i) {
    fprintf(out, "arg:%s\n", escaped(utf8(argv[i])).c_str());
    if (i > 0 && argv[i][0] == L'@') {
      std::string bytes = file_bytes(argv[i] + 1);
      fprintf(out, "rsp:%zu\n", bytes.size());
      fwrite(bytes.data(), 1, bytes.size(), out);
    }
  }
  fclose(out);
}

// What an unhandled exception does on Windows, without Wine's debugger
// being started for it: the process ends with the exception's code.
LONG WINAPI end_with_exception(EXCEPTION_POINTERS *) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (const wchar_t *path = _wgetenv(L"ZOV_STAND_IN_RECORD")) record(path, argc, argv);
  if (_wgetenv(L"ZOV_STAND_IN_EXCEPTION") != nullptr) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(end_with_exception);
    volatile int *nowhere = nullptr;
    *nowhere = 1;
  }
  const wchar_t *code = _wgetenv(L"ZOV_STAND_IN_EXIT");
  if (code == nullptr) return 0;
  ExitProcess((UINT)wcstoul(code, nullptr, 0));
}
