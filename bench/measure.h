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
// Measure and MeasureThreads count the CPU time and context switches of the
// whole process, so work done on other threads while they run (the pool
// benchmark's borrowers, the driver's) is counted too. MedianOf gives the
// median of several runs, each part on its own.
#pragma once

#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct Cost {
  double wall = 0;      // seconds
  double cpu = 0;       // seconds of user and system time of the process
  double switches = 0;  // context switches of the process, voluntary or not
  Cost& operator+=(const Cost& other) {
    wall += other.wall;
    cpu += other.cpu;
    switches += other.switches;
    return *this;
  }
};

// The process's CPU time and context switches so far (wall left at 0).
inline Cost ProcessUsage() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return Cost{0, seconds(usage.ru_utime) + seconds(usage.ru_stime),
              static_cast<double>(usage.ru_nvcsw) + static_cast<double>(usage.ru_nivcsw)};
}

// The cost of running `work` once.
template <typename F>
Cost Measure(F work) {
  const Cost before = ProcessUsage();
  const auto start = std::chrono::steady_clock::now();
  work();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Cost after = ProcessUsage();
  return Cost{wall, after.cpu - before.cpu, after.switches - before.switches};
}

// The cost of running `work(thread)` on `threads` threads started together,
// from the start signal to the last thread's end (the threads are made
// before it).
template <typename F>
Cost MeasureThreads(int threads, F& work) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      work(t);
    });
  }
  while (ready.load() < threads) std::this_thread::yield();
  return Measure([&] {
    go = true;
    for (std::thread& thread : pool) thread.join();
  });
}

// The cheaper of two costs, each part on its own.
inline Cost Least(const Cost& a, const Cost& b) {
  return Cost{std::min(a.wall, b.wall), std::min(a.cpu, b.cpu), std::min(a.switches, b.switches)};
}

// The median of `runs` (at least one), each part on its own.
inline Cost MedianOf(const std::vector<Cost>& runs) {
  auto median = [&runs](double Cost::*part) {
    std::vector<double> values;
    for (const Cost& run : runs) values.push_back(run.*part);
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
  };
  return Cost{median(&Cost::wall), median(&Cost::cpu), median(&Cost::switches)};
}

// Takes "--pin[=N]" out of the arguments and pins the process (and every
// thread it starts) to that CPU, and says how to put the server there too.
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
      std::printf("pinned to CPU %d. Pin the server there too, before the benchmark opens its connections\n"
                  "(new backends inherit the postmaster's CPU):\n"
                  "  taskset -cp %d $(head -1 <cluster dir>/data/postmaster.pid)\n",
                  cpu, cpu);
    }
  }
  *argc = kept;
  return ok;
}

// The process's resident memory now ("VmRSS") and its peak ("VmHWM") in
// bytes, from /proc/self/status; 0 when unreadable.
inline std::size_t ResidentBytes(const char* field = "VmRSS:") {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  std::size_t kilobytes = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, std::strlen(field)) == 0) kilobytes = std::strtoull(line + std::strlen(field), nullptr, 10);
  }
  std::fclose(status);
  return kilobytes * 1024;
}
inline std::size_t PeakResidentBytes() { return ResidentBytes("VmHWM:"); }

// Starts the peak over at the resident memory of now (Linux 4.0 and later);
// false when the kernel refuses.
inline bool ResetPeakResident() {
  std::FILE* refs = std::fopen("/proc/self/clear_refs", "w");
  if (refs == nullptr) return false;
  const bool ok = std::fputs("5", refs) >= 0;
  return std::fclose(refs) == 0 && ok;
}

// The bytes the C heap holds for the process's allocations now (small
// blocks and the large ones mapped on their own). Unlike the resident
// size, it falls when memory is freed and grows when it is taken again,
// so the growth over a piece of work is the same in every run.
inline std::size_t HeldHeapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// "wall us / cpu us" of one operation of `cost`, which ran `operations`.
inline std::string PerOperation(const Cost& cost, double operations) {
  char text[64];
  std::snprintf(text, sizeof text, "%8.1f /%8.1f", cost.wall / operations * 1e6, cost.cpu / operations * 1e6);
  return text;
}

}  // namespace bench
