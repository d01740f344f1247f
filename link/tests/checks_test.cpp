// The seven checks, the rewrite request and the completion query against the emulated deck. The
// checks poll on a simulated clock, and the deck's write of each command returns only once the
// worker has read its reply: whatever a check did after sending would come after the reply, so a
// field it cleared then would stay empty.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/tests/DeckFixture.h"

namespace {
using Results = std::vector<int>;

// Runs the checks in the program's order, from the link check on or from the model check on.
Results RunChecks(LinkSession& link, bool fromModel = false) {
  Results results;
  if (!fromModel) results = {link.CheckLinkOpen(), link.CheckPipeReady()};
  for (int (LinkSession::*check)() :
       {&LinkSession::CheckModel, &LinkSession::CheckVersion, &LinkSession::CheckVariant,
        &LinkSession::CheckDiscOut, &LinkSession::CheckMode})
    results.push_back((link.*check)());
  return results;
}

// A session reading a deck that answers at once.
struct Answering : Reading {
  explicit Answering(const Scenario& s) : Reading(AtOnce(s)) { deck.Driver().HoldWritesUntilReplyRead(true); }
  static Scenario AtOnce(Scenario s) {
    s.replyDelayMs = 0;
    return s;
  }
};
}  // namespace

TEST(Checks, AllPassOnADeckThatUpdatesAndEachRunsOnceEvenAcrossAReset) {
  for (const Scenario& s : {Named("success"), Named("garbage"), Named("version-0.99"),
                            Named("success", [](Scenario& x) { x.packetSize1 = 18; })}) {
    SCOPED_TRACE(s.name + ", packets of " + std::to_string(s.packetSize1));
    Answering a(s);
    LinkSession& link = a.link;
    EXPECT_EQ(RunChecks(link), Results(7, 1));
    const Lines sent = {Hex(kPowerOn, sizeof kPowerOn), Framed(kModelQuery), Framed(kVersionQuery),
                        Framed(kDiscQuery), Framed(kModeQuery)};
    EXPECT_EQ(HexFrames(a.deck.Driver().FramesReceived()), sent);

    // A second call fails at once, sends nothing, logs nothing and leaves the report alone; a
    // Reset lets only the link check run again.
    const DeviceReport before = link.Report();
    const Lines logged = link.Log().Snapshot();
    EXPECT_EQ(RunChecks(link), (Results{-1, -2, -3, -4, -5, -7, -8}));
    link.Reset();
    ASSERT_TRUE(WaitForReading(a.deck));
    EXPECT_EQ(RunChecks(link), (Results{1, -2, -3, -4, -5, -7, -8}));
    EXPECT_EQ(HexFrames(a.deck.Driver().FramesReceived()), Concat(sent, {sent[0]}));
    EXPECT_EQ(link.Log().Snapshot(), Concat(Concat(logged, {"INTERFACE / PIPE の設定をリセットしました。"}),
                                            OpenedLines(s.packetSize1)));
    const DeviceReport after = link.Report();
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
      {"wrong-mode", {1, 1, 1, 1, -8}},        {"small-packets", {-3, -4, -5, -7, 1}},
  };
  for (const auto& [deck, expected] : cases) {
    SCOPED_TRACE(deck);
    Answering a(Named(deck));
    EXPECT_EQ(RunChecks(a.link, true), expected);
    EXPECT_EQ(a.deck.Driver().FramesReceived().size(),
              5u);  // power-on and four queries, whatever the answers
    const auto polled =
        std::count(expected.begin(), expected.end(), -3) + std::count(expected.begin(), expected.end(), -4) +
        std::count(expected.begin(), expected.end(), -7) + std::count(expected.begin(), expected.end(), -8);
    EXPECT_EQ(a.clock.Sleeps(), std::vector<double>(300 * polled, 10));
  }
}

TEST(LinkChecks, ADeckFoundButNotUsableIsALinkWhosePipeCheckFailsWhenEverItIsAsked) {
  // Before the worker's end step, while it holds the device in its pause, and after it.
  for (const char* deck : {"not-ready", "pipe0-fails", "pipe1-fails", "packet0-missing", "packet1-missing"})
    for (bool afterEnd : {false, true}) {
      SCOPED_TRACE(std::string(deck) + (afterEnd ? ", after the worker's end" : ", before the worker's end"));
      SimClock clock;
      if (!afterEnd) clock.holdFromMs = 1000;
      Session s(Named(deck), &clock);
      ASSERT_TRUE(afterEnd ? WaitForWorkerEnd(s.link) : WaitFor([&] { return clock.Held() == 1; }));
      EXPECT_EQ(s.link.DeviceOpen(), !afterEnd);
      EXPECT_EQ(s.link.CheckLinkOpen(), 1);
      EXPECT_EQ(s.link.CheckPipeReady(), -2);
      EXPECT_EQ(s.link.Log().Snapshot().back(), "IOCTLエラーが発生しました。");
      s.link.Reset();
      EXPECT_EQ(clock.CutShort(), afterEnd ? 0 : 1);
      ASSERT_TRUE(WaitFor([&] { return s.link.State() >= LinkSession::kOpenFailed; }));
      EXPECT_EQ(s.link.CheckLinkOpen(), 1);
    }
}

TEST(LinkChecks, NoDeckIsNoLinkOnTheFirstLookNorOnAnyRepeat) {
  Session none(Named("absent"));
  ASSERT_TRUE(WaitForWorkerEnd(none.link));
  EXPECT_EQ(none.link.CheckLinkOpen(), -1);
  Lines expected = {"USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。"};
  for (int repeat = 0; repeat < 2; ++repeat) {
    none.link.Reset();
    ASSERT_TRUE(WaitFor([&] { return none.link.State() == LinkSession::kOpenFailed; }));
    EXPECT_EQ(none.link.CheckLinkOpen(), -1);
    expected.insert(expected.end(), {"INTERFACE / PIPE の設定をリセットしました。",
                                     "USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。"});
  }
  EXPECT_EQ(none.link.Log().Snapshot(), expected);
  EXPECT_TRUE(none.deck.Driver().FramesReceived().empty());
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
