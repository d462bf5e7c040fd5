#include "platform/ado/clock.h"

#include <atomic>

namespace ado {
namespace {

std::atomic<NowFunction> nowOverride{nullptr};

}  // namespace

Clock::time_point Now() {
  const NowFunction now = nowOverride.load(std::memory_order_relaxed);
  return now != nullptr ? now() : Clock::now();
}

NowFunction SetNowForTesting(NowFunction now) { return nowOverride.exchange(now); }

}  // namespace ado
