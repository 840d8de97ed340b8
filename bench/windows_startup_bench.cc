// Start-up under Wine: zov-nm.exe in a tree whose tool (nm.exe) is a
// program that only exits, against windows_start_only.exe starting that
// same tool and waiting for it, and against the tool run directly.  Runs
// in alternating pairs; prints the medians of each and of the per-pair
// ratio.  Figures only: Wine's process creation is not Windows'.
//
//   windows_startup_bench.exe FRONTEND START_ONLY TOOL [PAIRS]

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

double seconds_now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

// Wall time of one run of the command line, to its end.
double run_once(const std::wstring &program, const std::wstring &arguments) {
  std::wstring line = L"\"" + program + L"\"" + arguments;
  STARTUPINFOW info;
  PROCESS_INFORMATION process;
  ZeroMemory(&info, sizeof info);
  info.cb = sizeof info;
  double start = seconds_now();
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &info, &process)) {
    fprintf(stderr, "cannot start %ls: error %lu\n", program.c_str(), GetLastError());
    exit(1);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  double elapsed = seconds_now() - start;
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (code != 0) {
    fprintf(stderr, "%ls exited with %lu\n", program.c_str(), code);
    exit(1);
  }
  return elapsed;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: windows_startup_bench FRONTEND START_ONLY TOOL [PAIRS]\n");
    return 2;
  }
  std::wstring frontend = argv[1], start_only = argv[2], tool = argv[3];
  int pairs = argc > 4 ? _wtoi(argv[4]) : 40;
  std::vector<double> front, baseline, direct, ratio;
  for (int i = 0; i < pairs; ++i) {
    bool frontend_first = i % 2 == 0;
    double a = frontend_first ? run_once(frontend, L"") : 0;
    double b = run_once(start_only, L" \"" + tool + L"\"");
    if (!frontend_first) a = run_once(frontend, L"");
    front.push_back(a);
    baseline.push_back(b);
    ratio.push_back(a / b);
    direct.push_back(run_once(tool, L""));
  }
  printf("pairs: %d\n", pairs);
  printf("zov-nm.exe starting the tool:          median %.2f ms\n", median(front) * 1e3);
  printf("start-only program starting the tool:  median %.2f ms\n", median(baseline) * 1e3);
  printf("the tool alone:                        median %.2f ms\n", median(direct) * 1e3);
  printf("zov-nm / start-only, per pair:         median %.3f\n", median(ratio));
  return 0;
}
