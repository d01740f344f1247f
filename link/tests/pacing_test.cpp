// The pacing of the fixed pauses on a simulated clock: a period is never shorter than asked,
// the work done in it is not added to it, and a period that ran long is not made up for.
#include <gtest/gtest.h>

#include <vector>

#include "link/Clock.h"

namespace {
// Time passes only when slept through or spent on work; a pause ends `lateMs` after it should.
class SimulatedClock : public Clock {
 public:
  double NowMs() override { return now; }
  void SleepMs(double ms) override {
    now += ms + lateMs;
    ++pauses;
  }
  void Work(double ms) { now += ms; }

  double now = 1000;
  double lateMs = 0;
  int pauses = 0;
};
}  // namespace

TEST(Pacer, EachPeriodLastsItsTenMillisecondsWithTheWorkInsideIt) {
  SimulatedClock clock;
  Pacer pace(clock, 10);
  pace.Wait();  // nothing marked yet: no pause
  EXPECT_EQ(clock.pauses, 0);
  std::vector<double> starts;
  for (double work : {0.0, 3.0, 9.5, 10.0, 2500.0, 1.0}) {
    pace.Mark();
    starts.push_back(clock.now);
    clock.Work(work);
    pace.Wait();
  }
  starts.push_back(clock.now);
  // 10 ms whatever the work, up to work that takes longer; after a long step the next is whole.
  const std::vector<double> lengths = {10, 10, 10, 10, 2500, 10};
  for (std::size_t i = 0; i < lengths.size(); ++i)
    EXPECT_DOUBLE_EQ(starts[i + 1] - starts[i], lengths[i]) << i;
}

TEST(Pacer, LearnsHowLateItsPausesEndAndNeverEndsAPeriodEarly) {
  SimulatedClock clock;
  clock.lateMs = 0.4;
  Pacer pace(clock, 10);
  double longest = 0;
  for (int i = 0; i < 100; ++i) {
    pace.Mark();
    const double start = clock.now;
    clock.Work(1);
    pace.Wait();
    EXPECT_GE(clock.now - start, 10.0) << "period " << i;
    longest = i >= 50 ? std::max(longest, clock.now - start) : longest;
  }
  EXPECT_LT(longest, 10.05) << "the wake-up's lateness is no longer added to each period";
}
