// What every benchmark of bench/ measures and how it is run: wall time and
// the client's CPU time (user and system) of a piece of work, and the
// option to pin the process to one CPU.
//
// A shared machine's wake-up latency swamps single-call timings; the CPU
// time says what the client itself spent, the wall time what a caller
// waits. "--pin[=N]" among a benchmark's arguments pins the process to CPU
// N (default 0) before anything runs; without it the process runs
// unpinned. Standard types only, so that both sides of a benchmark may
// include it.
//
// One thread measures; Measure counts the CPU time of the whole process, so
// work done on other threads while it runs (the pool benchmark's borrowers)
// is counted too.
#pragma once

#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

struct Cost {
  double wall = 0;  // seconds
  double cpu = 0;   // seconds of user and system time of the process
  Cost& operator+=(const Cost& other) {
    wall += other.wall;
    cpu += other.cpu;
    return *this;
  }
};

inline double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The cost of running `work` once.
template <typename F>
Cost Measure(F work) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ProcessCpuSeconds();
  work();
  return Cost{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              ProcessCpuSeconds() - cpu};
}

// The cheaper of two costs, each part on its own.
inline Cost Least(const Cost& a, const Cost& b) {
  return Cost{a.wall < b.wall ? a.wall : b.wall, a.cpu < b.cpu ? a.cpu : b.cpu};
}

// Takes "--pin[=N]" out of the arguments and pins the process to that CPU.
// The arguments left keep their order; argv[0] stays first. False (with a
// message) when pinning fails.
inline bool TakePinOption(int* argc, char** argv) {
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp(argv[i], "--pin", 5) != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    const int cpu = argv[i][5] == '=' ? std::atoi(argv[i] + 6) : 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
      std::fprintf(stderr, "cannot pin to CPU %d\n", cpu);
      ok = false;
    } else {
      std::printf("pinned to CPU %d\n", cpu);
    }
  }
  *argc = kept;
  return ok;
}

// "wall us / cpu us" of one operation of `cost`, which ran `operations`.
inline std::string PerOperation(const Cost& cost, double operations) {
  char text[64];
  std::snprintf(text, sizeof text, "%8.1f /%8.1f", cost.wall / operations * 1e6, cost.cpu / operations * 1e6);
  return text;
}

}  // namespace bench
