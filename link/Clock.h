// The clock the fixed pauses are counted on (between check steps, between polls, between blocks),
// behind a seam so that tests can run the pacing on a simulated clock, and the pacing helper that
// does the work between two pauses inside the pause instead of adding it on top.
#pragma once

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since a fixed moment; never goes back.
  virtual double NowMs() = 0;
  // A plain pause of the calling thread for at least `ms` milliseconds.
  virtual void SleepMs(int ms) = 0;
};

// The system's monotonic clock; its pauses are Sleep on Windows.
Clock& SystemClock();

// Keeps at least `periodMs` between a mark and the wait that follows it, whatever the caller does
// in between: the work of one period is done inside it, not added to it.
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
    for (double left = markMs + periodMs - clock.NowMs(); left > 0; left = markMs + periodMs - clock.NowMs())
      clock.SleepMs(static_cast<int>(left) + (left > static_cast<int>(left) ? 1 : 0));
  }

 private:
  Clock& clock;
  const int periodMs;
  double markMs = 0;
  bool marked = false;
};
