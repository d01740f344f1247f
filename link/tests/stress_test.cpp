// A thousand stops of a worker blocked in its read or pausing between passes while replies keep
// arriving: every stop ends the worker, every handle is closed exactly once, and (under
// ThreadSanitizer) nothing races. The worker pauses for real, a twentieth as long as it asks.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "tests/support/DeckFixture.h"

TEST(LinkStress, ResetAndDestructionWhileBlockedInAReadAndRepliesArrive) {
  // Four decks that keep sending now and then, each with 25 sessions in turn, each stopped nine
  // times by Reset and once by its destruction after its worker has blocked in a read (and
  // sometimes a moment later).
  std::vector<std::thread> lanes;
  for (unsigned lane = 0; lane < 4; ++lane)
    lanes.emplace_back([lane] {
      EmulatedDeck deck(Named("success"));
      std::atomic<bool> stop{false};
      std::thread feeder([&] {
        std::mt19937 pace(lane);
        while (!stop) {
          deck.Driver().Inject({std::begin(kCompletionReply.head), std::end(kCompletionReply.head)});
          std::this_thread::sleep_for(std::chrono::microseconds(500 + pace() % 9000));
        }
      });
      std::mt19937 random(lane);
      SimClock clock;
      clock.realShare = 1.0 / 20;
      for (int s = 0; s < 25; ++s) {
        auto session = std::make_unique<LinkSession>(deck.Driver(), clock);
        for (int r = 0; r < 10 && WaitForReading(deck); ++r) {
          if (random() % 2) std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
          r < 9 ? session->Reset() : session.reset();
        }
      }
      stop = true;
      feeder.join();
      // Every handle closed once, none while a call was in it, and no thread ended: the driver lets
      // each read go at its cancel.
      const EmulatedDriver::Counts c = deck.Driver().Counters();
      EXPECT_EQ((std::vector<int>{c.opened, c.closed, c.badCloses, c.closesWaited, c.powerOns, c.threadsEnded,
                                  deck.Driver().BlockedReads()}),
                (std::vector<int>{25 * 10 * 3, 25 * 10 * 3, 0, 0, 25 * 10, 0, 0}));
    });
  for (std::thread& t : lanes) t.join();
}
