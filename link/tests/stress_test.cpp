// A thousand stops of a worker blocked in its read or pausing between passes while replies keep
// arriving: every stop ends the worker, every handle is closed exactly once, and (under
// ThreadSanitizer) nothing races. The worker pauses for real, a twentieth as long as it asks.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include "link/tests/DeckFixture.h"

namespace {
using Steady = std::chrono::steady_clock;

class FastClock : public Clock {
 public:
  double NowMs() override { return SystemClock().NowMs(); }
  void SleepMs(double ms) override { SystemClock().SleepMs(ms / 20); }
  bool WaitMs(std::unique_lock<std::mutex>& hold, std::condition_variable& wake, double ms,
              const std::function<bool()>& done) override {
    return Clock::WaitMs(hold, wake, ms / 20, done);
  }
};

// Sessions on one deck that keeps sending now and then, each stopped nine times by Reset and once
// by its destruction, each time after its worker has blocked in a read (and sometimes a moment
// later). The stops' lengths in ms.
std::vector<double> RunLane(unsigned seed, int sessions, DriverSide::Counts& counts) {
  EmulatedDeck deck(Named("success"));
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    std::mt19937 pace(seed);
    for (int i = 0; !stop.load(); ++i) {
      deck.Driver().Inject(i % 2 ? std::vector<unsigned char>{0x04, 0x00, 0x12, 0xB8, 0xEF}
                                 : std::vector<unsigned char>{0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01});
      std::this_thread::sleep_for(std::chrono::microseconds(500 + pace() % 9000));
    }
  });
  std::mt19937 random(seed);
  FastClock clock;
  std::vector<double> stops;
  for (int s = 0; s < sessions; ++s) {
    auto session = std::make_unique<LinkSession>(deck.Driver(), clock);
    for (int r = 0; r < 10 && WaitForReading(deck); ++r) {
      if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
      const auto start = Steady::now();
      r < 9 ? session->Reset() : session.reset();
      stops.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
    }
    EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  }
  stop.store(true);
  feeder.join();
  EXPECT_EQ(deck.Driver().BlockedReads(), 0);
  counts = deck.Driver().Counters();
  return stops;
}
}  // namespace

TEST(LinkStress, ResetAndDestructionWhileBlockedInAReadAndRepliesArrive) {
  constexpr int kLanes = 4, kSessions = 25;  // 4 x 25 x 10 = 1,000 stops
  std::vector<std::vector<double>> stops(kLanes);
  std::vector<DriverSide::Counts> counts(kLanes);
  std::vector<std::thread> lanes;
  for (int i = 0; i < kLanes; ++i)
    lanes.emplace_back([&, i] { stops[i] = RunLane(1000u + i, kSessions, counts[i]); });
  for (std::thread& t : lanes) t.join();
  std::vector<double> all;
  int cancelled = 0;
  for (int i = 0; i < kLanes; ++i) {
    EXPECT_EQ(counts[i].opened, kSessions * 10 * 3);
    EXPECT_EQ(counts[i].closed, counts[i].opened);
    EXPECT_EQ(counts[i].badCloses, 0);
    EXPECT_EQ(counts[i].powerOns, kSessions * 10);
    all.insert(all.end(), stops[i].begin(), stops[i].end());
    cancelled += counts[i].readsCancelled;
  }
  ASSERT_EQ(all.size(), 1000u);
  std::sort(all.begin(), all.end());
  std::printf(
      "stop of a reading worker (Reset or destruction, %zu times): median %.3f ms, 99th %.3f ms, worst "
      "%.3f ms; %d of them cancelled a blocked read\n",
      all.size(), all[all.size() / 2], all[all.size() * 99 / 100], all.back(), cancelled);
}
