// Test support: waits for a condition that another thread brings about,
// looking every 10 ms, for at most 10 s. Returns whether it came true; a
// test asserts on that instead of sleeping for a guessed time.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

inline bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}
