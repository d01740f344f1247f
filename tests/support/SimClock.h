// The tests' clock: time passes only when a pause asks for it or a test says so, and every pause
// is recorded. A test may see each pause first, make pauses end late, wait a share of each for
// real (so another thread runs meanwhile), or hold the worker's long pauses until a stop.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "link/Clock.h"

class SimClock : public Clock {
 public:
  double NowMs() override { return Get(now); }

  // A poll's or a step's pause: seen by `onPause`, recorded, and passed at once, ending `lateMs`
  // late; `realShare` of it is slept for real.
  void SleepMs(double ms) override {
    if (onPause) onPause(ms);
    if (realShare > 0) SystemClock().SleepMs(ms * realShare);
    Advance(ms + lateMs, &sleeps, ms);
  }

  // The worker's pause: recorded, and passed at once unless it is `holdFromMs` or longer, when it
  // lasts until a stop cuts it short (10 s at most); `realShare` of it is waited for real.
  bool WaitMs(std::unique_lock<std::mutex>& hold, std::condition_variable& wake, double ms,
              const std::function<bool()>& done) override {
    if (ms < holdFromMs) {
      Advance(ms, &pauses, ms);
      return realShare > 0 ? Clock::WaitMs(hold, wake, ms * realShare, done) : done();
    }
    Advance(0, &pauses, ms);
    ++held;
    const bool stopped = wake.wait_for(hold, std::chrono::seconds(10), done);
    cutShort += stopped;
    return stopped;
  }

  void Advance(double ms, std::vector<double>* record = nullptr, double asked = 0) {
    std::lock_guard<std::mutex> hold(lock);
    now += ms;
    if (record) record->push_back(asked);
  }
  std::vector<double> Sleeps() const { return Get(sleeps); }  // the polls and steps asked for, in order
  std::vector<double> Pauses() const { return Get(pauses); }  // the worker's pauses asked for, in order

  std::function<void(double)> onPause;  // set before the clock is in use
  std::atomic<double> holdFromMs{1e9}, lateMs{0}, realShare{0};
  std::atomic<int> held{0}, cutShort{0};  // pauses held, and those of them that a stop ended

 private:
  template <typename T>
  T Get(const T& field) const {
    std::lock_guard<std::mutex> hold(lock);
    return field;
  }
  mutable std::mutex lock;
  double now = 0;
  std::vector<double> sleeps, pauses;
};
