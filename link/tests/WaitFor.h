// Waiting in tests for something another thread does, with a limit, so that a fault fails the
// test instead of hanging it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls `condition` every millisecond; false if it still does not hold after `limitMs`.
inline bool WaitFor(const std::function<bool()>& condition, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
