// A thousand stops of a worker blocked in its read while replies keep arriving: every stop ends
// the worker, every handle is closed exactly once, and (under ThreadSanitizer) nothing races.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "link/tests/DeckFixture.h"

namespace {
using Clock = std::chrono::steady_clock;

// One deck that keeps sending now and then, slower than the worker's 20 ms pass, so that the
// worker is mostly blocked in its read and sometimes parsing.
struct ChattyDeck {
  explicit ChattyDeck(unsigned seed) : deck(Named("success")) {
    feeder = std::thread([this, seed] {
      const std::vector<std::vector<unsigned char>> replies = {
          {0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01},
          {0x04, 0x00, 0x12, 0xB8, 0xEF},
          {0x0D, 0x00, 0x12, 0xB8, 0xF1, 0, 0, 0, 0x01, 0x05, 0, 0, 0, 'A'}};
      std::mt19937 pace(seed);
      for (std::size_t i = 0; !stop.load(); ++i) {
        deck.Driver().Inject(replies[i % replies.size()]);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + pace() % 180));
      }
    });
  }
  ~ChattyDeck() {
    stop.store(true);
    feeder.join();
  }
  EmulatedDeck deck;
  std::atomic<bool> stop{false};
  std::thread feeder;
};

struct Lane {
  std::vector<double> stops;  // ms
  DriverSide::Counts counts;
  int blockedAfter = -1;
  bool ok = true;
};

// Sessions on one deck, each stopped `resets` times by Reset and once by its destruction, each
// time after its worker has blocked in a read (and sometimes a moment later).
void RunLane(unsigned seed, int sessions, int resets, Lane& lane) {
  ChattyDeck chatty(seed);
  EmulatedDeck& deck = chatty.deck;
  std::mt19937 random(seed);
  for (int s = 0; s < sessions && lane.ok; ++s) {
    auto session = std::make_unique<LinkSession>(deck.Driver());
    for (int r = 0; r <= resets; ++r) {
      if (!WaitForReading(deck)) {
        lane.ok = false;
        break;
      }
      if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      const auto start = Clock::now();
      if (r < resets) {
        session->Reset();
      } else {
        session.reset();
      }
      lane.stops.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    if (deck.Driver().OpenHandles() != 0) lane.ok = false;
  }
  lane.counts = deck.Driver().Counters();
  lane.blockedAfter = deck.Driver().BlockedReads();
}
}  // namespace

TEST(LinkStress, ResetAndDestructionWhileBlockedInAReadAndRepliesArrive) {
  constexpr int kLanes = 4;
  constexpr int kSessions = 25;
  constexpr int kResets = 9;  // and one destruction: 4 x 25 x 10 = 1,000 stops
  std::vector<Lane> lanes(kLanes);
  std::vector<std::thread> threads;
  for (int i = 0; i < kLanes; ++i)
    threads.emplace_back(RunLane, 1000u + static_cast<unsigned>(i), kSessions, kResets, std::ref(lanes[i]));
  for (std::thread& t : threads) t.join();

  std::vector<double> stops;
  int cancelled = 0, read = 0;
  for (const Lane& lane : lanes) {
    EXPECT_TRUE(lane.ok);
    const DriverSide::Counts& c = lane.counts;
    EXPECT_EQ(c.opened, kSessions * (kResets + 1) * 3);
    EXPECT_EQ(c.closed, c.opened);
    EXPECT_EQ(c.badCloses, 0);
    EXPECT_EQ(c.powerOns, kSessions * (kResets + 1));
    EXPECT_LE(c.readsCancelled, kSessions * (kResets + 1));
    EXPECT_EQ(lane.blockedAfter, 0);
    stops.insert(stops.end(), lane.stops.begin(), lane.stops.end());
    cancelled += c.readsCancelled;
    read += c.readsDone;
  }
  ASSERT_EQ(stops.size(), 1000u);
  EXPECT_GT(cancelled, 0);
  std::sort(stops.begin(), stops.end());
  std::printf(
      "stop of a reading worker (Reset or destruction, %zu times): median %.3f ms, 99th %.3f ms, worst %.3f"
      " ms; %d of them cancelled a blocked read; %d replies read meanwhile\n",
      stops.size(), stops[stops.size() / 2], stops[stops.size() * 99 / 100], stops.back(), cancelled, read);
}
