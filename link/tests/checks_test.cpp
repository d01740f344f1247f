// The seven checks, the rewrite request and the completion query against the emulated deck. The checks
// poll on a simulated clock, and the deck's write of a command returns only once the worker has read
// its reply: a check that cleared its field after sending would find it empty.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/support/DeckFixture.h"

namespace {
using Results = std::vector<int>;

// Runs the checks in the program's order, from the link check on or from the model check on.
Results RunChecks(LinkSession& link, bool fromModel = false) {
  Results results;
  if (!fromModel) results = {link.CheckLinkOpen(), link.CheckPipeReady()};
  for (auto check : {&LinkSession::CheckModel, &LinkSession::CheckVersion, &LinkSession::CheckVariant,
                     &LinkSession::CheckDiscOut, &LinkSession::CheckMode})
    results.push_back((link.*check)());
  return results;
}

// A session reading a deck whose writes return once the worker has read their replies.
struct Answering : Reading {
  explicit Answering(const Scenario& s) : Reading(s) { deck.Driver().HoldWritesUntilReplyRead(true); }
};

const char* const kNoDriver = "ドライバオープンエラーが発生しました。";
const char* const kNotReady = "IOCTLエラーが発生しました。";
}  // namespace

TEST(Checks, AllPassOnADeckThatUpdatesAndEachRunsOnceEvenAcrossAReset) {
  for (const Scenario& s : {Named("success"), Named("garbage"), Named("version-0.99")}) {
    SCOPED_TRACE(s.name + ", packets of " + std::to_string(s.packetSize1));
    Answering a(s);
    EXPECT_EQ(RunChecks(a.link), Results(7, 1));
    const Lines sent = {Hex(kPowerOn, sizeof kPowerOn), Framed(kModelQuery), Framed(kVersionQuery),
                        Framed(kDiscQuery), Framed(kModeQuery)};
    EXPECT_EQ(HexFrames(a.deck.Driver().FramesReceived()), sent);
    // A second call fails at once, sends nothing, logs nothing and leaves the report alone; a
    // Reset lets only the link check run again.
    const DeviceReport before = a.link.Report();
    const Lines logged = a.link.Log().Snapshot();
    EXPECT_EQ(RunChecks(a.link), (Results{-1, -2, -3, -4, -5, -7, -8}));
    a.link.Reset();
    ASSERT_TRUE(WaitForReading(a.deck));
    EXPECT_EQ(RunChecks(a.link), (Results{1, -2, -3, -4, -5, -7, -8}));
    EXPECT_EQ(HexFrames(a.deck.Driver().FramesReceived()), Concat(sent, {sent[0]}));
    EXPECT_EQ(a.link.Log().Snapshot(), Concat(Concat(logged, {kResetLine}), OpenedLines(s.packetSize1)));
    const DeviceReport after = a.link.Report();
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    EXPECT_TRUE(a.clock.Sleeps().empty());
  }
}

TEST(Checks, EachPollingCheckFailsOnItsDeckAfterThreeHundredPollsTenMillisecondsApart) {
  // The results of the model, version, variant, disc and mode checks.
  const std::pair<const char*, Results> cases[] = {
      {"other-model", {-3, 1, 1, 1, 1}},       {"no-model-reply", {-3, 1, 1, 1, 1}},
      {"version-1.07", {1, -4, 1, 1, 1}},      {"version-2.00", {1, -4, 1, 1, 1}},
      {"no-version-reply", {1, -4, -5, 1, 1}}, {"variant-M", {1, 1, -5, 1, 1}},
      {"variant-m", {1, 1, -5, 1, 1}},         {"disc-inside", {1, 1, 1, -7, 1}},
      {"wrong-mode", {1, 1, 1, 1, -8}},
  };
  for (const auto& [deck, expected] : cases) {
    SCOPED_TRACE(deck);
    Answering a(Named(deck));
    EXPECT_EQ(RunChecks(a.link, true), expected);
    EXPECT_EQ(a.deck.Driver().FramesReceived().size(), 5u);  // the power-on, then each query once
    const auto polled =
        std::count_if(expected.begin(), expected.end(), [](int r) { return r < 0 && r != -5; });
    EXPECT_EQ(a.clock.Sleeps(), std::vector<double>(300 * polled, 10));
  }
}

// Replies come in packets of the read pipe's size, and a check takes what the one read of its
// reply's first packet holds: the model from 13 bytes on, the version's numbers from 10 and its
// variant from 14. With 16 bytes or more the update goes through; with 13 it ends at the variant
// check, which never sees the variant; with 8 at the model check. The completion report fits all.
TEST(Checks, ReplyPacketsOf8To64BytesGiveWhatTheirFirstPacketHolds) {
  const std::pair<const char*, Results> cases[] = {
      {"success", Results(7, 1)},
      {"packets-16", Results(7, 1)},
      {"packets-13", {1, 1, 1, 1, -5, 1, 1}},
      {"small-packets", {1, 1, -3, -4, -5, -7, 1}},
  };
  for (const auto& [deck, expected] : cases) {
    SCOPED_TRACE(deck);
    Answering a(Named(deck, [](Scenario& s) { s.completeAfterMs = 0; }));
    EXPECT_EQ(RunChecks(a.link), expected);
    a.link.RequestRewrite();
    a.deck.Driver().ImageAccepted();
    EXPECT_TRUE(WaitFor([&] { return a.link.IsRewriteDone() == 1; }));
    EXPECT_EQ(a.deck.Driver().Counters().readsOverrun, 0);
    EXPECT_EQ(a.link.Log().Snapshot().at(1),
              "read max packet size =" + std::to_string(a.deck.scenario.packetSize1));
  }
}

// The worker logs why its open failed and, a second later, closes what it opened. A deck that was
// found is a link whose pipe check fails, before that end step as after it; a deck not found is no
// link. A Reset cuts the worker's last second short, and the new worker looks again.
TEST(LinkChecks, AFailedOpenIsNoUsableLinkBeforeTheWorkersEndStepAfterItAndAfterAReset) {
  const std::pair<const char*, const char*> cases[] = {
      {"absent", "USB OPEN出来ませんでした。"},
      {"not-ready", kNotReady},
      {"pipe0-fails", "USB PIPE 0 OPEN出来ませんでした。"},
      {"pipe1-fails", "USB PIPE 1 OPEN出来ませんでした。"},
      {"packet0-missing", "パケット０の最大値を取得できませんでした。"},
      {"packet1-missing", "パケット１の最大値を取得できませんでした。"},
  };
  for (const auto& [deck, line] : cases)
    for (bool afterEnd : {false, true}) {
      SCOPED_TRACE(std::string(deck) + (afterEnd ? ", after the worker's end" : ", before the worker's end"));
      const bool found = std::strcmp(deck, "absent") != 0;
      SimClock clock;
      clock.holdFromMs = afterEnd ? 1e9 : 1000;
      Session s(Named(deck), &clock);
      ASSERT_TRUE(afterEnd ? WaitForWorkerEnd(s.link) : WaitFor([&] { return clock.held == 1; }));
      EXPECT_EQ(clock.Pauses(), (std::vector<double>{20, 20, 1000}));
      EXPECT_EQ(s.link.DeviceOpen(), found && !afterEnd);
      EXPECT_EQ(s.deck.Driver().OpenHandles() == 0, afterEnd || !found);
      EXPECT_EQ((Results{s.link.CheckLinkOpen(), s.link.CheckPipeReady()}), (Results{found ? 1 : -1, -2}));
      Lines log = found ? Lines{line, kNotReady} : Lines{line, kNoDriver, kNotReady};
      EXPECT_EQ(s.link.Log().Snapshot(), log);
      s.link.Reset();
      EXPECT_EQ(clock.cutShort, afterEnd ? 0 : 1);
      ASSERT_TRUE(WaitFor([&] { return s.link.State() >= LinkSession::kOpenFailed; }));
      EXPECT_EQ(s.link.CheckLinkOpen(), found ? 1 : -1);
      log = Concat(log, {kResetLine, line});
      EXPECT_EQ(s.link.Log().Snapshot(), found ? log : Concat(log, {kNoDriver}));
      EXPECT_EQ(s.deck.Driver().Counters().badCloses, 0);
    }
}

TEST(LinkChecks, ADeckPluggedInLateIsFoundByTheRepeatWhichWaitsForTheNewWorker) {
  // On the system's clock: the repeat gives the new worker about 300 ms to find the deck.
  Session late(Named("late-plug", [](Scenario& s) { s.plugInAfterMs = 300; }), &SystemClock());
  ASSERT_TRUE(WaitFor([&] { return late.link.State() == LinkSession::kOpenFailed; }));
  ASSERT_TRUE(WaitFor([&] { return late.deck.Driver().Plugged(); }));
  EXPECT_EQ(late.link.CheckLinkOpen(), -1);  // the worker had given up before the deck came
  late.link.Reset();
  EXPECT_EQ(late.link.CheckLinkOpen(), 1);
  EXPECT_EQ(late.link.CheckLinkOpen(), -1);  // once again, until the next Reset
  late.deck.Driver().Unplug();
  late.link.Reset();
  EXPECT_EQ(late.link.CheckLinkOpen(), -1);  // what the old worker found is not found again
}

TEST(Rewrite, AnyCompletionReportCountsUntilTheNextRequest) {
  Reading r(Named("success", [](Scenario& s) { s.completeAfterMs = 0; }));
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
  r.deck.Driver().Inject(
      {std::begin(kCompletionReply.head), std::end(kCompletionReply.head)});  // unasked for
  ASSERT_TRUE(WaitFor([&] { return r.link.IsRewriteDone() == 1; }));
  EXPECT_EQ(r.link.RequestRewrite(), 1);
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
  EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()).back(), Framed(kRewriteRequest));
  r.deck.Driver().ImageAccepted();
  ASSERT_TRUE(WaitFor([&] { return r.link.IsRewriteDone() == 1; }));
  EXPECT_EQ(r.link.RequestRewrite(), 1);  // not once-only
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
}
