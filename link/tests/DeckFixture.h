// Helpers for the link tests: a simulated clock, an emulated deck of a named or tweaked scenario
// with a session on it, waiting for what the worker does, and frames in hex.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "link/LinkSession.h"
#include "link/tests/WaitFor.h"

using Lines = std::vector<std::string>;

// Time passes only when a poll or a pause asks for it (polls ending `lateMs` late), or when a test
// says so, and polls and pauses are recorded. A pause of `holdFromMs` or more is not passed at once:
// it lasts until a stop cuts it short (10 s at most).
class SimClock : public Clock {
 public:
  double NowMs() override { return Get(now); }
  void SleepMs(double ms) override;
  void Advance(double ms) {
    std::lock_guard<std::mutex> hold(lock);
    now += ms;
  }
  bool WaitMs(std::unique_lock<std::mutex>& hold, std::condition_variable& wake, double ms,
              const std::function<bool()>& done) override;
  std::vector<double> Sleeps() const { return Get(sleeps); }  // the polls, in order
  std::vector<double> Pauses() const { return Get(pauses); }  // the worker's pauses, in order
  int Held() const { return Get(held); }                      // pauses held so far
  int CutShort() const { return Get(cutShort); }              // held pauses that a stop ended

  std::atomic<double> holdFromMs{1e9}, lateMs{0};

 private:
  template <typename T>
  T Get(const T& field) const {
    std::lock_guard<std::mutex> hold(lock);
    return field;
  }
  mutable std::mutex lock;
  double now = 0;
  std::vector<double> sleeps, pauses;
  int held = 0, cutShort = 0;
};

// The named scenario, changed by `change` when given.
Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change = {});

// A session on a deck of the scenario, on its own simulated clock unless given another.
struct Session {
  explicit Session(const Scenario& s, Clock* other = nullptr)
      : deck(s), link(deck.Driver(), other ? *other : clock) {}
  SimClock clock;
  EmulatedDeck deck;
  LinkSession link;
};

// Waits until the session's worker is blocked reading pipe 1, or has ended by itself.
bool WaitForReading(EmulatedDeck& deck);
bool WaitForWorkerEnd(const LinkSession& session);

// A session whose worker has opened the deck and is reading.
struct Reading : Session {
  explicit Reading(const Scenario& s, Clock* other = nullptr) : Session(s, other) {
    EXPECT_TRUE(WaitForReading(deck));
  }
};

Lines HexFrames(const std::vector<std::vector<unsigned char>>& frames);

// A command as the deck receives it, in hex: its count byte, then its bytes.
template <std::size_t N>
std::string Framed(const unsigned char (&command)[N]) {
  return Hex(HexToBytes(FrameText(command, N).c_str(), 2 * N + 2));
}

// The log lines of a successful open, as the session writes them with 64-byte packets.
Lines OpenedLines(int readSize = 64, int writeSize = 64);

Lines Concat(Lines a, const Lines& b);
