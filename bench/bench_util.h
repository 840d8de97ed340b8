// Helpers the benchmark programs share.
#pragma once

#include <sched.h>

#include <algorithm>
#include <vector>

namespace bench {

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Keeps this process, and so every child it starts, on one CPU.  Where
// the child lands otherwise (this CPU or another one, woken or not) makes
// start-up times bimodal, and a median of a bimodal sample jumps between
// its modes from one run to the next.
inline void stay_on_one_cpu() {
#ifdef __linux__
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
    return;
  }
#endif
}

}  // namespace bench
