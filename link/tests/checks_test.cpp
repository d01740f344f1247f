// The seven checks, the rewrite request and the completion query against the emulated deck: each
// check's pass and failure, what the deck received, and the repeated link check after Reset.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "link/tests/DeckFixture.h"

namespace {
// Runs the checks in the program's order, from the link check on or from the model check on.
std::vector<int> RunChecks(LinkSession& link, bool fromModel = false) {
  std::vector<int> results;
  if (!fromModel) results = {link.CheckLinkOpen(), link.CheckPipeReady()};
  for (int (LinkSession::*check)() :
       {&LinkSession::CheckModel, &LinkSession::CheckVersion, &LinkSession::CheckVariant,
        &LinkSession::CheckDiscOut, &LinkSession::CheckMode})
    results.push_back((link.*check)());
  return results;
}
}  // namespace

TEST(Checks, AllPassOnTheDeckThatUpdatesAndEachRunsOnce) {
  for (const Scenario& s : {Named("success"), Named("garbage"), Named("version-0.99"),
                            Named("success", [](Scenario& x) { x.packetSize1 = 18; })}) {
    SCOPED_TRACE(s.name + ", packets of " + std::to_string(s.packetSize1));
    Reading r(s);
    LinkSession& link = r.link;
    EXPECT_EQ(RunChecks(link), std::vector<int>(7, 1));
    const Lines sent = {"00 60 00", "04 00 60 C0 6A", "05 00 60 B0 F1 00", "04 00 60 B0 0F",
                        "05 00 60 B0 CA FF"};
    EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), sent);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(link.Report().modelName), 13), "HVX-Z8KQ     ");

    // A second call fails at once, sends nothing, logs nothing, and leaves the report alone.
    const DeviceReport before = link.Report();
    const std::size_t logged = link.Log().Snapshot().size();
    EXPECT_EQ(RunChecks(link), (std::vector<int>{-1, -2, -3, -4, -5, -7, -8}));
    EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), sent);
    EXPECT_EQ(link.Log().Snapshot().size(), logged);
    const DeviceReport after = link.Report();
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
  }
}

TEST(Checks, EachPollingCheckFailsOnItsDeck) {
  // The results of the model, version, variant, disc and mode checks. Each failing check uses up
  // its 300 polls; the decks run side by side.
  const std::pair<const char*, std::vector<int>> cases[] = {
      {"other-model", {-3, 1, 1, 1, 1}},       {"no-model-reply", {-3, 1, 1, 1, 1}},
      {"version-1.07", {1, -4, 1, 1, 1}},      {"version-2.00", {1, -4, 1, 1, 1}},
      {"no-version-reply", {1, -4, -5, 1, 1}}, {"variant-M", {1, 1, -5, 1, 1}},
      {"variant-m", {1, 1, -5, 1, 1}},         {"disc-inside", {1, 1, 1, -7, 1}},
      {"wrong-mode", {1, 1, 1, 1, -8}},        {"reply-before-limit", {1, 1, 1, 1, 1}},
      {"small-packets", {-3, -4, -5, -7, 1}},
  };
  std::vector<std::thread> runs;
  std::vector<std::vector<int>> results(std::size(cases));
  std::vector<Lines> frames(std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    runs.emplace_back([&, i] {
      Reading r(Named(cases[i].first));
      results[i] = RunChecks(r.link, true);
      frames[i] = HexFrames(r.deck.Driver().FramesReceived());
    });
  }
  for (std::thread& t : runs) t.join();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(results[i], cases[i].second);
    EXPECT_EQ(frames[i].size(), 5u);  // power-on and four queries, whatever the answers
  }
}

TEST(Checks, AReplyAfterThePollLimitIsTooLateButStillLands) {
  // The deck answers a second after the limit, so slow polls on a busy machine cannot reach it.
  Reading r(Named("reply-after-limit"));
  EXPECT_EQ(r.link.CheckModel(), -3);
  // The late reply is stored all the same, where nobody waits for it any more.
  ASSERT_TRUE(WaitFor([&] { return r.link.Report().modelName[0] == 'H'; }));
}

TEST(Checks, AReplyThatComesAtOnceIsNotLost) {
  // The deck's write returns only after the worker has read and parsed the reply: whatever a check
  // did after sending would come after the reply, and a field it cleared then would stay empty.
  Reading r(Named("success", [](Scenario& s) { s.replyDelayMs = 0; }));
  r.deck.Driver().HoldWritesUntilReplyRead(true);
  EXPECT_EQ(RunChecks(r.link, true), std::vector<int>(5, 1));
}

TEST(Checks, VariantBeforeAnyVersionReplyFails) {
  Reading r(Named("success"));
  EXPECT_EQ(r.link.CheckVariant(), -5);
  EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), Lines{"00 60 00"});
}

TEST(LinkChecks, ADeckFoundButNotUsableIsALinkWhosePipeCheckFailsWhenEverItIsAsked) {
  // The worker holds the device it found through the pause before its end and closes it then; the
  // pipe check fails the same before that step as after it, and the new worker after Reset finds
  // the deck again.
  const char* const decks[] = {"not-ready", "pipe0-fails", "pipe1-fails", "packet0-missing",
                               "packet1-missing"};
  struct Look {
    std::string deck;
    bool afterEnd;
    bool deviceHeld = false;
    std::vector<int> results;  // link, pipe, link after Reset
    std::string lastLine;
  };
  std::vector<Look> looks;
  for (const char* deck : decks)
    for (bool afterEnd : {false, true}) looks.push_back({deck, afterEnd, false, {}, {}});
  std::vector<std::thread> runs;
  for (Look& look : looks) {
    runs.emplace_back([&look] {
      Session s(Named(look.deck));
      if (!WaitFor([&] { return s.link.State() >= LinkSession::kOpenFailed; })) return;
      if (look.afterEnd && !WaitForWorkerEnd(s.link)) return;
      look.deviceHeld = s.link.DeviceOpen();
      look.results = {s.link.CheckLinkOpen(), s.link.CheckPipeReady()};
      look.lastLine = s.link.Log().Snapshot().back();
      s.link.Reset();
      look.results.push_back(s.link.CheckLinkOpen());
    });
  }
  for (std::thread& t : runs) t.join();
  for (const Look& look : looks) {
    SCOPED_TRACE(look.deck + (look.afterEnd ? ", after the worker's end" : ", before the worker's end"));
    EXPECT_EQ(look.deviceHeld, !look.afterEnd);
    EXPECT_EQ(look.results, (std::vector<int>{1, -2, 1}));
    EXPECT_EQ(look.lastLine, "IOCTLエラーが発生しました。");
  }
}

TEST(LinkChecks, NoDeckIsNoLinkOnTheFirstLookNorAfterAReset) {
  for (const char* deck : {"absent", "other-product", "other-vendor"}) {
    SCOPED_TRACE(deck);
    Session s(Named(deck));
    ASSERT_TRUE(WaitFor([&] { return s.link.State() == LinkSession::kOpenFailed; }));
    EXPECT_EQ(s.link.CheckLinkOpen(), -1);
    s.link.Reset();
    EXPECT_EQ(s.link.CheckLinkOpen(), -1);
    EXPECT_EQ(s.link.Log().Snapshot().back(), "ドライバオープンエラーが発生しました。");
    EXPECT_EQ(HexFrames(s.deck.Driver().FramesReceived()), Lines{});
  }
}

TEST(LinkChecks, ADeckPluggedInDuringTheFirstSecondIsFoundByTheRepeat) {
  // The connection check's steps: the first look at about 1 s, then Reset, 10 ms, look again.
  Session late(Named("late-plug"));
  ASSERT_TRUE(WaitFor([&] { return late.link.State() == LinkSession::kOpenFailed; }));
  ASSERT_TRUE(WaitFor([&] { return late.deck.Driver().Plugged(); }));
  EXPECT_EQ(late.link.CheckLinkOpen(), -1);  // the worker had given up before the deck came
  late.link.Reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(late.link.CheckLinkOpen(), 1);
  EXPECT_EQ(late.link.CheckLinkOpen(), -1);  // once again, until the next Reset
  ASSERT_TRUE(WaitForReading(late.deck));
  EXPECT_EQ(late.link.CheckPipeReady(), 1);
  EXPECT_EQ(late.link.CheckModel(), 1);
}

TEST(LinkChecks, RepeatsWithoutADeckFailEachTimeSoonAfterTheOpenFails) {
  Session none(Named("absent"));
  ASSERT_TRUE(WaitFor([&] { return none.link.State() == LinkSession::kOpenFailed; }));
  EXPECT_EQ(none.link.CheckLinkOpen(), -1);
  Lines expected = {"USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。"};
  for (int repeat = 0; repeat < 3; ++repeat) {
    none.link.Reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(none.link.CheckLinkOpen(), -1);
    expected.insert(expected.end(), {"INTERFACE / PIPE の設定をリセットしました。",
                                     "USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。"});
  }
  EXPECT_EQ(none.link.Log().Snapshot(), expected);
}

TEST(Rewrite, TheCompletionReportFollowsTheAcceptedImageAndAnyReportCountsUntilTheNextRequest) {
  Reading r(Named("success", [](Scenario& s) { s.completeAfterMs = 30; }));
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
  r.deck.Driver().Inject(
      {std::begin(kCompletionReply.head), std::end(kCompletionReply.head)});  // unasked for
  ASSERT_TRUE(WaitFor([&] { return r.link.IsRewriteDone() == 1; }));
  EXPECT_EQ(r.link.RequestRewrite(), 1);
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
  EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), (Lines{"00 60 00", "05 00 60 B0 C0 A6"}));
  EXPECT_TRUE(r.deck.Driver().RewriteRequested());
  EXPECT_EQ(r.link.Log().Snapshot().back(), "Send Data: 0060B0C0A6");
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(r.link.IsRewriteDone(), -9);  // nothing before the deck has the image
  r.deck.Driver().ImageAccepted();
  ASSERT_TRUE(WaitFor([&] { return r.link.IsRewriteDone() == 1; }));
  EXPECT_EQ(r.link.IsRewriteDone(), 1);
  EXPECT_EQ(r.link.RequestRewrite(), 1);  // not once-only; clears the flag
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
}

TEST(Rewrite, ADeckThatGoesAwayDuringTheRewriteEndsTheWorker) {
  Reading r(Named("unplug-during-wait", [](Scenario& s) { s.unplugAfterRequestMs = 40; }));
  r.link.RequestRewrite();
  r.deck.Driver().ImageAccepted();
  ASSERT_TRUE(WaitFor([&] { return r.link.State() == LinkSession::kDeviceRemoved; }));
  EXPECT_EQ(r.link.IsRewriteDone(), -9);
}

// Figures, not limits: how long after the deck's reply is read does its check pass?
TEST(ChecksTiming, DelayFromAReplyReadToItsCheckPassing) {
  std::vector<double> delays;
  for (int round = 0; round < 10; ++round) {
    // Reply delays that fall anywhere between two polls.
    Reading r(Named("success", [round](Scenario& s) { s.replyDelayMs = 20 + round; }));
    EmulatedDeck& deck = r.deck;
    auto readAt = [&](const char* head) {
      double at = -1;
      for (const DeckEvent& e : deck.events.All())
        if (e.kind == "read" && e.text.rfind(std::string("pipe 1 read: ") + head, 0) == 0) at = e.ms;
      return at;
    };
    const struct {
      int (LinkSession::*check)();
      const char* head;
    } checks[] = {{&LinkSession::CheckModel, "12 00 18"},
                  {&LinkSession::CheckVersion, "0D 00 12"},
                  {&LinkSession::CheckDiscOut, "11 00 12"},
                  {&LinkSession::CheckMode, "05 00 12"}};
    for (const auto& c : checks) {
      ASSERT_EQ((r.link.*c.check)(), 1);
      const double passed = deck.events.Now();
      const double read = readAt(c.head);
      ASSERT_GE(read, 0);
      delays.push_back(passed - read);
    }
  }
  std::sort(delays.begin(), delays.end());
  std::printf("reply read -> check passed: median %.2f ms, worst %.2f ms (%zu replies, poll every 10 ms)\n",
              delays[delays.size() / 2], delays.back(), delays.size());
}
