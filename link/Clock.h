// The clock the fixed pauses are counted on (between check steps, between polls, between blocks),
// behind a seam so that tests can run the pacing on a simulated clock, and the pacing helper that
// does the work between two pauses inside the pause instead of adding it on top.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since a fixed moment; never goes back.
  virtual double NowMs() = 0;
  // A plain pause of the calling thread for at least `ms` milliseconds, to a fraction of one where
  // the system keeps time that finely.
  virtual void SleepMs(double ms) = 0;
  // A pause that another thread can cut short: waits on `wake`, with `hold` locked, until `done`
  // holds or `ms` milliseconds have passed; true when `done` holds. Whoever makes `done` true does
  // so under `hold`'s mutex and notifies `wake`, which ends the wait at once.
  virtual bool WaitMs(std::unique_lock<std::mutex>& hold, std::condition_variable& wake, double ms,
                      const std::function<bool()>& done) {
    return wake.wait_for(hold, std::chrono::duration<double, std::milli>(ms), done);
  }
};

// The system's monotonic clock; its pauses are Sleep on Windows.
Clock& SystemClock();

// Keeps at least `periodMs` between a mark and the wait that follows it, whatever the caller does
// in between: the work of one period is done inside it, not added to it. A pause ends a little
// after it was asked to (the system's wake-up); the pacer learns by how much and asks for that much
// less, so that the periods keep close to `periodMs` without ever falling short of it.
class Pacer {
 public:
  Pacer(Clock& clock, int periodMs) : clock(clock), periodMs(periodMs) {}

  // A period starts now.
  void Mark() {
    markMs = clock.NowMs();
    marked = true;
  }
  // Returns once `periodMs` have passed since the last mark; at once when they have, or when
  // nothing was marked.
  void Wait() {
    if (!marked) return;
    const double due = markMs + periodMs;
    for (double now = clock.NowMs(); now < due; now = clock.NowMs()) {
      // The last bit of a pause is slept whole: asking for less than a wake-up takes would only
      // add another one.
      const double ask = due - now > lateMs ? due - now - lateMs : due - now;
      clock.SleepMs(ask);
      const double late = clock.NowMs() - now - ask;
      lateMs += (std::clamp(late, 0.0, 2.0) - lateMs) / 8;
    }
  }

 private:
  Clock& clock;
  const int periodMs;
  double markMs = 0;
  bool marked = false;
  double lateMs = 0;  // how late a pause has ended lately
};
