// The monotonic clock of this layer's time limits: how long a connection
// has been idle in the cache (idle_cache.h) and since a session was last
// used (the ODBC backend pings a session idle for a while before reuse).
//
// Now() reads std::chrono::steady_clock unless a test has put a clock of its
// own in place with SetNowForTesting, so that tests move time instead of
// sleeping. Standard types only (the ODBC backend includes it).
//
// Thread safety: Now() may be called from any thread; a test replaces the
// clock only while no other thread of it reads the clock.
#pragma once

#include <chrono>

namespace ado {

using Clock = std::chrono::steady_clock;

Clock::time_point Now();

// Replaces what Now() reads; null restores the steady clock. Returns the
// function it replaced (null for the steady clock).
using NowFunction = Clock::time_point (*)();
NowFunction SetNowForTesting(NowFunction now);

}  // namespace ado
