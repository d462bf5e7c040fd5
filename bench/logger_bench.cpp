// The debug logger beside spdlog, in one run, printing the ratios: T
// threads (1, 4 and 8) each log N records (1,000,000 unless given) with two
// text and two integer arguments to a file.
//
//   ours            LogEvent through the process-wide DebugLogger to its
//                   debug file (each line written with write(2) before the
//                   next, no size limit)
//   spdlog flush    spdlog's async logger (one worker, default queue of
//                   8192, blocking when full) on a basic file sink, flushed
//                   after every line: the same durability as ours
//   spdlog default  the same logger left at spdlog's default (its file is
//                   flushed when the logger is dropped)
//
// End to end is records per second from the first call until the last line
// has been handed to the kernel (ours: Stop returns; spdlog: flush and drop
// return). Caller cost is the time one call takes on the calling thread:
// wall and thread CPU time per call, averaged over the callers. Each figure
// is the best of the repetitions (3 unless given). Goals: end to end at
// least 1.0x spdlog at equal durability; the caller's cost within 2x of
// spdlog's.
//
// Run by hand on a Release build; files go to a temporary folder under
// /tmp (or --dir), and only they are removed afterwards:
//   build/rel/bench/logger_bench [--records N] [--threads 1,4,8] [--runs R] [--pin] [--dir D]
// --pin keeps every thread of the process on one CPU.
#include <sched.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/debug_file.h"
#include "diagnostics/debug_logger.h"
#include "diagnostics/log.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  long records = 1000000;
  std::vector<int> threads = {1, 4, 8};
  int runs = 3;
  bool pin = false;
  std::string dir;
};

struct Result {
  double endToEnd = 0;      // records per second
  double callerWallNs = 0;  // per call
  double callerCpuNs = 0;   // per call
  long lines = 0;           // lines found in the file
};

double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The record lines of a file (ours also opens with a date line).
long CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  long lines = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(" record ") != std::string::npos) ++lines;
  }
  return lines;
}

// Runs `log(thread, i)` N times on each of `threads` threads, started
// together; `finish` runs once all callers are done. Fills the timings.
template <typename Log, typename Finish>
Result Measure(const Options& o, int threads, Log log, Finish finish) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<double> wall(threads), cpu(threads);
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([&, t] {
      ++ready;
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      const auto start = Clock::now();
      const double cpuStart = ThreadCpuSeconds();
      for (long i = 0; i < o.records; ++i) log(t, i);
      cpu[t] = ThreadCpuSeconds() - cpuStart;
      wall[t] = std::chrono::duration<double>(Clock::now() - start).count();
    });
  }
  while (ready.load() < threads) std::this_thread::yield();
  const auto start = Clock::now();
  go.store(true, std::memory_order_release);
  for (std::thread& c : callers) c.join();
  finish();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  Result r;
  const double calls = static_cast<double>(o.records) * threads;
  r.endToEnd = calls / seconds;
  for (int t = 0; t < threads; ++t) {
    r.callerWallNs += wall[t] * 1e9 / calls;
    r.callerCpuNs += cpu[t] * 1e9 / calls;
  }
  return r;
}

Result Ours(const Options& o, int threads, const std::string& path) {
  DebugLogSettings settings;
  settings.debugFilePath = std::wstring(path.begin(), path.end());
  settings.maxFileSize = 0;
  settings.SysLogEnabled = false;
  settings.EventLogEnabled = false;
  settings.environmentReportOnOpen = false;
  DebugLogOutputs outputs;
  outputs[static_cast<int>(LogSlot::kDebugFile)] = std::make_unique<DebugFileOutput>();
  DebugLogger& logger = GetDebugLogger();
  logger.Configure(settings, std::move(outputs));
  logger.Start();
  while (!logger.IsActive()) std::this_thread::yield();
  Result r = Measure(
      o, threads,
      [](int t, long i) {
        LogEvent(3, 0x6FFF7530, "%s record %s %d %d", "alpha", "beta", static_cast<int>(i), t);
      },
      [&logger] { logger.Stop(); });
  logger.Configure(DebugLogSettings{}, DebugLogOutputs{});  // closes nothing: the thread closed it
  r.lines = CountLines(path);
  return r;
}

Result Spdlog(const Options& o, int threads, const std::string& path, bool flushEachLine) {
  spdlog::init_thread_pool(8192, 1);
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
  auto logger = std::make_shared<spdlog::async_logger>("bench", sink, spdlog::thread_pool(),
                                                       spdlog::async_overflow_policy::block);
  logger->set_pattern("[30000] (%m/%d %H:%M:%S.%e):{0x%t} %v");
  if (flushEachLine) logger->flush_on(spdlog::level::trace);
  Result r = Measure(
      o, threads,
      [&logger](int t, long i) { logger->info("{} record {} {} {}", "alpha", "beta", i, t); },
      [&logger] {
        logger->flush();
        logger.reset();
        spdlog::shutdown();  // joins the worker once the queue is drained
      });
  r.lines = CountLines(path);
  return r;
}

Result Best(const std::vector<Result>& runs) {
  Result best = runs[0];
  for (const Result& r : runs) {
    best.endToEnd = std::max(best.endToEnd, r.endToEnd);
    best.callerWallNs = std::min(best.callerWallNs, r.callerWallNs);
    best.callerCpuNs = std::min(best.callerCpuNs, r.callerCpuNs);
    best.lines = std::min(best.lines, r.lines);
  }
  return best;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--records") {
      o.records = std::atol(value), ++i;
    } else if (arg == "--runs") {
      o.runs = std::max(1, std::atoi(value)), ++i;
    } else if (arg == "--dir") {
      o.dir = value, ++i;
    } else if (arg == "--pin") {
      o.pin = true;
    } else if (arg == "--threads") {
      o.threads.clear();
      for (const char* p = value; *p != '\0';) {
        o.threads.push_back(std::max(1, std::atoi(p)));
        const char* comma = std::strchr(p, ',');
        p = comma != nullptr ? comma + 1 : p + std::strlen(p);
      }
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: logger_bench [--records N] [--threads 1,4,8] [--runs R] [--pin] [--dir D]\n");
      std::exit(2);
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = Parse(argc, argv);
  if (o.pin) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);  // threads made later inherit it
  }
  std::string base = o.dir.empty() ? "/tmp" : o.dir;
  std::string folder = base + "/logger-bench.XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::printf("logger_bench: %ld records per thread, best of %d, %s, files in %s\n", o.records,
              o.runs, o.pin ? "pinned to one CPU" : "unpinned", folder.c_str());
  std::printf("%7s  %-15s %14s %12s %12s %10s\n", "threads", "side", "records/s e2e",
              "call wall ns", "call cpu ns", "lines ok");

  for (int threads : o.threads) {
    const char* names[] = {"ours", "spdlog flush", "spdlog default"};
    std::vector<Result> runs[3];
    for (int run = 0; run < o.runs; ++run) {
      // The sides take turns, so that a busy moment of the machine falls on
      // all of them alike.
      for (int side = 0; side < 3; ++side) {
        const std::string path = folder + "/side" + std::to_string(side) + ".log";
        runs[side].push_back(side == 0 ? Ours(o, threads, path)
                                       : Spdlog(o, threads, path, side == 1));
        std::remove(path.c_str());
      }
    }
    Result best[3];
    for (int side = 0; side < 3; ++side) {
      best[side] = Best(runs[side]);
      std::printf("%7d  %-15s %14.0f %12.1f %12.1f %10s\n", threads, names[side],
                  best[side].endToEnd, best[side].callerWallNs, best[side].callerCpuNs,
                  best[side].lines == o.records * threads ? "yes" : "NO");
    }
    std::printf("%7d  ratios: e2e ours/spdlog-flush %.2fx (goal >= 1.0), ours/spdlog-default %.2fx;"
                " call wall ours/spdlog-flush %.2fx (goal <= 2.0), cpu %.2fx\n",
                threads, best[0].endToEnd / best[1].endToEnd, best[0].endToEnd / best[2].endToEnd,
                best[0].callerWallNs / best[1].callerWallNs,
                best[0].callerCpuNs / best[1].callerCpuNs);
  }
  rmdir(folder.c_str());
  return 0;
}
