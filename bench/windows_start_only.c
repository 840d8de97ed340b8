/* The Windows benchmark's baseline: a program that does what a front-end
 * must do at the least, start the tool named by its first argument and
 * wait for it, and nothing else: no lookup, no command line of its own
 * making beyond quoting the tool's path. */

#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
  if (argc < 2) return 2;
  wchar_t line[32768];
  if (wcslen(argv[1]) + 3 > 32768) return 2;
  wcscpy(line, L"\"");
  wcscat(line, argv[1]);
  wcscat(line, L"\"");
  STARTUPINFOW info;
  PROCESS_INFORMATION process;
  ZeroMemory(&info, sizeof info);
  info.cb = sizeof info;
  if (!CreateProcessW(argv[1], line, NULL, NULL, FALSE, 0, NULL, NULL, &info, &process))
    return 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  return (int)code;
}
