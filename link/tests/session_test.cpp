// LinkSession's worker against the emulated deck: the open sequence and its log, the failures of
// each step, reading, unplugging, Reset and destruction, framing and the log ring.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "link/tests/DeckFixture.h"

namespace {
// Runs a session on a deck of the scenario until its worker ends by itself.
Lines FailedOpenLog(const Scenario& scenario, int* stillOpen) {
  EmulatedDeck deck(scenario);
  LinkSession session(deck.Driver());
  EXPECT_TRUE(WaitForWorkerEnd(session));
  EXPECT_FALSE(session.DeviceOpen());
  *stillOpen = deck.Driver().OpenHandles();
  EXPECT_EQ(deck.Driver().Counters().badCloses, 0);
  return session.Log().Snapshot();
}
}  // namespace

TEST(LinkOpen, ASuccessfulOpenLogsItsLinesAndPowersTheDeckOn) {
  for (const char* name : {"success", "product-52", "stranger-first"}) {
    SCOPED_TRACE(name);
    Reading r(Named(name));
    EXPECT_EQ(r.link.Log().Snapshot(), OpenedLines());  // no line for a search that failed first
    EXPECT_EQ(r.link.State(), LinkSession::kReading);
    EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), Lines{"00 60 00"});
    EXPECT_EQ(r.deck.Driver().Counters().deviceControls, 1);
    EXPECT_EQ(r.deck.Driver().OpenHandles(), 3);
  }
  Reading r(Named("small-packets", [](Scenario& s) { s.packetSize0 = 16; }));
  EXPECT_EQ(r.link.Log().Snapshot(), OpenedLines(8, 16));
}

TEST(LinkOpen, EachFailedStepLogsItsLineAndClosesWhatItOpened) {
  struct Case {
    const char* scenario;
    const char* line;
  };
  const Case cases[] = {
      {"absent", "USB OPEN出来ませんでした。"},
      {"other-product", "USB OPEN出来ませんでした。"},
      {"not-ready", "IOCTLエラーが発生しました。"},
      {"pipe0-fails", "USB PIPE 0 OPEN出来ませんでした。"},
      {"pipe1-fails", "USB PIPE 1 OPEN出来ませんでした。"},
      {"long-device-path", "USB PIPE 0 OPEN出来ませんでした。"},
      {"packet0-missing", "パケット０の最大値を取得できませんでした。"},
      {"packet1-missing", "パケット１の最大値を取得できませんでした。"},
  };
  // The scenarios end their workers a second after the open; run them side by side.
  std::vector<std::thread> runs;
  std::vector<Lines> logs(std::size(cases));
  std::vector<int> stillOpen(std::size(cases), -1);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    runs.emplace_back([&, i] { logs[i] = FailedOpenLog(Named(cases[i].scenario), &stillOpen[i]); });
  for (std::thread& t : runs) t.join();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].scenario);
    EXPECT_EQ(logs[i], Lines{cases[i].line});
    EXPECT_EQ(stillOpen[i], 0);
  }
}

TEST(LinkSend, WithoutADeckNothingIsWrittenAndTheLogSaysSoInShiftJis) {
  Session s(Named("absent"));
  ASSERT_TRUE(WaitFor([&] { return s.link.State() == LinkSession::kOpenFailed; }));
  const unsigned char command[] = {0x00, 0x60, 0xC0, 0x6A};
  s.link.SendBytes(command, 4);
  EXPECT_EQ(s.link.Log().Snapshot(), (Lines{"USB OPEN出来ませんでした。", "USBはOPENしていません。"}));
  EXPECT_TRUE(s.deck.Driver().FramesReceived().empty());
  const std::string line = s.link.Log().Snapshot().at(0);
  EXPECT_EQ(Hex({line.begin(), line.end()}),
            "55 53 42 20 4F 50 45 4E 8F 6F 97 88 82 DC 82 B9 82 F1 82 C5 82 B5 82 BD 81 42");
}

TEST(LinkSend, FramesGoOutOnPipeZeroAndAreLoggedWithoutTheirLength) {
  Reading r(Named("success"));
  DriverSide& driver = r.deck.Driver();
  const unsigned char two[] = {0x12, 0xAB};
  const unsigned char ten[] = {0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 0xFE};
  r.link.SendBytes(two, 2);
  r.link.SendBytes(ten, 10);
  r.link.SendBytes(two, 1);  // too short to frame: neither written nor logged
  r.link.SendBytes(two, 0);
  r.link.SendHex("006000", 6);
  EXPECT_EQ(HexFrames(driver.FramesReceived()),
            (Lines{"00 60 00", "02 12 AB", "0A 0A 01 02 03 04 05 06 07 08 FE", "00 60 00"}));
  EXPECT_EQ(r.link.Log().Snapshot(),
            Concat(OpenedLines(), {"Send Data: 12AB", "Send Data: 0A0102030405060708FE",
                                   "Send Data: [LINK KIT LOCAL COMMAND] 006000"}));

  // A write that fails is still logged, and the link stays as it was.
  driver.FailWrites(true);
  r.link.SendBytes(two, 2);
  EXPECT_EQ(r.link.Log().Snapshot().back(), "Send Data: 12AB");
  EXPECT_EQ(driver.FramesReceived().size(), 4u);
  EXPECT_EQ(r.link.State(), LinkSession::kReading);
  driver.FailWrites(false);
  r.link.SendBytes(ten, 2);
  EXPECT_EQ(HexFrames(driver.FramesReceived()).back(), "02 0A 01");
}

TEST(LinkRead, AnUnplugLogsTheRemovalAndEndsTheWorkerWithItsHandlesClosedAndNoUsablePipe) {
  Reading r(Named("success"));
  r.deck.Driver().Unplug();
  ASSERT_TRUE(WaitFor([&] { return r.link.State() == LinkSession::kDeviceRemoved; }));
  EXPECT_EQ(r.link.Log().Snapshot(),
            Concat(OpenedLines(), {"read error size=0", "デバイスが取り外されました"}));
  // The deck was found, but its pipe is no use while the worker pauses before its end.
  EXPECT_EQ(r.link.CheckLinkOpen(), 1);
  EXPECT_EQ(r.link.CheckPipeReady(), -2);
  EXPECT_EQ(r.link.Log().Snapshot().back(), "IOCTLエラーが発生しました。");
  ASSERT_TRUE(WaitForWorkerEnd(r.link));
  EXPECT_FALSE(r.link.DeviceOpen());
  EXPECT_EQ(r.deck.Driver().OpenHandles(), 0);
  EXPECT_EQ(r.deck.Driver().Counters().badCloses, 0);
}

TEST(LinkRead, AReadErrorOnAReadyPipeIsRecoveredFrom) {
  Reading r(Named("read-error"));
  EXPECT_EQ(r.link.Log().Snapshot(), Concat(OpenedLines(), {"read error size=0"}));
  EXPECT_EQ(r.deck.Driver().Counters().pipeControls, 1);
  EXPECT_EQ(r.link.CheckModel(), 1);  // reading goes on
  EXPECT_EQ(r.link.State(), LinkSession::kReading);
}

TEST(LinkReset, StopsAWorkerBlockedInARead) {
  Reading r(Named("success"));
  r.link.Reset();
  // The old worker is gone and its handles are closed before the new one opens anything.
  EXPECT_EQ(r.deck.Driver().Counters().readsCancelled, 1);
  EXPECT_EQ(r.deck.Driver().Counters().closed, 3);
  const Lines reset = Concat(OpenedLines(), {"INTERFACE / PIPE の設定をリセットしました。"});
  EXPECT_EQ(r.link.Log().Snapshot(), reset);
  ASSERT_TRUE(WaitForReading(r.deck));
  EXPECT_EQ(r.link.Log().Snapshot(), Concat(reset, OpenedLines()));
  EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), (Lines{"00 60 00", "00 60 00"}));
  EXPECT_EQ(r.deck.Driver().OpenHandles(), 3);
  EXPECT_EQ(r.link.CheckModel(), 1);
}

TEST(LinkReset, AfterTheWorkerEndedByItselfStartsAFreshOne) {
  Session s(Named("late-plug", [](Scenario& x) { x.plugInAfterMs = 1000000; }));
  ASSERT_TRUE(WaitForWorkerEnd(s.link));
  s.link.Reset();
  EXPECT_TRUE(s.link.WorkerRunning());
  ASSERT_TRUE(WaitFor([&] { return s.link.State() == LinkSession::kOpenFailed; }));
  EXPECT_EQ(s.link.Log().Snapshot(),
            (Lines{"USB OPEN出来ませんでした。", "INTERFACE / PIPE の設定をリセットしました。",
                   "USB OPEN出来ませんでした。"}));
  // A worker still pausing before its end is stopped too, and the next one finds the deck.
  ASSERT_TRUE(WaitFor([&] { return s.link.Log().Snapshot().size() == 3; }));
  s.deck.Driver().Plug();
  s.link.Reset();
  ASSERT_TRUE(WaitForReading(s.deck));
  EXPECT_EQ(s.deck.Driver().OpenHandles(), 3);
}

TEST(LinkReset, DestructionClosesEveryHandleOnceWhateverTheWorkerDoes) {
  EmulatedDeck deck(Named("success"));
  {
    LinkSession blocked(deck.Driver());
    ASSERT_TRUE(WaitForReading(deck));
  }
  { LinkSession opening(deck.Driver()); }  // gone before its first pass
  EmulatedDeck sleepy(Named("not-ready"));
  {
    LinkSession ending(sleepy.Driver());  // in its pause before the end step
    ASSERT_TRUE(WaitFor([&] { return ending.State() == LinkSession::kOpenFailed; }));
  }
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  EXPECT_EQ(deck.Driver().Counters().opened, 3);
  EXPECT_EQ(deck.Driver().Counters().badCloses, 0);
  EXPECT_EQ(sleepy.Driver().OpenHandles(), 0);
  EXPECT_EQ(sleepy.Driver().Counters().badCloses, 0);
}

TEST(LinkLog, RingKeepsTheLast51MessagesInOrder) {
  LogRing ring;
  for (int i = 0; i < 51; ++i) ring.Append("m" + std::to_string(i));
  EXPECT_EQ(ring.Snapshot().front(), "m0");
  EXPECT_EQ(ring.Snapshot().back(), "m50");
  ring.Append("m51");  // over the oldest
  EXPECT_EQ(ring.Snapshot().front(), "m1");
  EXPECT_EQ(ring.Snapshot().back(), "m51");
  EXPECT_EQ(ring.Snapshot().size(), 51u);
}

TEST(LinkLog, AppendsFromTwoThreadsNeverShareASlot) {
  LogRing ring;
  constexpr int kEach = 5000;
  auto writer = [&](char who) {
    for (int i = 0; i < kEach; ++i) ring.Append(std::string(1, who) + std::to_string(i));
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  const Lines last = ring.Snapshot();
  ASSERT_EQ(last.size(), 51u);
  EXPECT_EQ(std::set<std::string>(last.begin(), last.end()).size(), 51u);
  // Each writer's messages stay in its own order.
  int lastA = -1, lastB = -1;
  for (const std::string& m : last) {
    int& seen = m[0] == 'a' ? lastA : lastB;
    EXPECT_GT(std::stoi(m.substr(1)), seen);
    seen = std::stoi(m.substr(1));
  }
  EXPECT_TRUE(lastA == kEach - 1 || lastB == kEach - 1);
}

// A driver that ignores the cancel of the worker's blocked read: a stop gives the worker a second,
// then ends its thread where it waits, and a fresh worker reaches the deck. The limits below are
// far beyond that second; they only keep a stop that never ends from hanging the test.
TEST(LinkStop, AWorkerTheDriverWillNotLetGoIsEndedAndANewOneReachesTheDeck) {
  EmulatedDeck deck(Named("cancel-ignored"));
  auto link = std::make_unique<LinkSession>(deck.Driver());
  ASSERT_TRUE(WaitForReading(deck));
  auto begun = std::chrono::steady_clock::now();
  link->Reset();
  auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_TRUE(WaitFor([&] { return deck.Driver().Counters().threadsEnded == 1; }));
  EXPECT_GE(deck.Driver().Counters().cancelsIgnored, 1);
  EXPECT_EQ(link->Log().Snapshot(), Concat(OpenedLines(), {"応答しないワーカースレッドを強制終了しました。",
                                                           "INTERFACE / PIPE の設定をリセットしました。"}));
  ASSERT_TRUE(WaitForReading(deck));
  EXPECT_EQ(deck.Driver().OpenHandles(), 3);
  EXPECT_EQ(link->CheckModel(), 1);

  ASSERT_TRUE(WaitForReading(deck));
  begun = std::chrono::steady_clock::now();
  link.reset();
  took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_TRUE(WaitFor([&] { return deck.Driver().Counters().threadsEnded == 2; }));
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  EXPECT_EQ(deck.Driver().Counters().badCloses, 0);
}

// A deck whose pipe 0 takes nothing: every write is given about 3 s, then cancelled and logged
// as timed out, and the check goes on as for a deck that never answers.
TEST(LinkSend, AWriteTheDeckNeverTakesIsCancelledAndTheCheckFailsAsForNoAnswer) {
  Session s(Named("write-stalls"));
  // The power-on request times out; the worker reads all the same.
  ASSERT_TRUE(WaitFor([&] { return s.link.State() == LinkSession::kReading; }, 6000));
  Lines opened = OpenedLines();
  opened.back() = "Send Data timed out: [LINK KIT LOCAL COMMAND] 006000";
  EXPECT_EQ(s.link.Log().Snapshot(), opened);
  EXPECT_EQ(s.link.CheckModel(), -3);
  EXPECT_EQ(s.link.Log().Snapshot().back(), "Send Data timed out: 0060C06A");
  const DriverSide::Counts counts = s.deck.Driver().Counters();
  EXPECT_EQ(counts.writesCancelled, 2);
  EXPECT_EQ(counts.threadsEnded, 0);
  EXPECT_EQ(s.deck.Driver().BlockedWrites(), 0);
  EXPECT_TRUE(s.deck.Driver().FramesReceived().empty());
}

TEST(LinkSend, AStalledWriteWhoseCancelIsIgnoredEndsItsThread) {
  Session s(Named("write-stalls", [](Scenario& x) { x.cancelIgnored = true; }));
  ASSERT_TRUE(WaitFor([&] { return s.link.State() == LinkSession::kReading; }, 8000));
  const Lines log = s.link.Log().Snapshot();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"応答しない送信スレッドを強制終了しました。",
                                                    "Send Data timed out: [LINK KIT LOCAL COMMAND] 006000"}));
  EXPECT_TRUE(WaitFor([&] { return s.deck.Driver().Counters().threadsEnded == 1; }));
  EXPECT_EQ(s.deck.Driver().BlockedWrites(), 0);
}

// A handle the worker closes while the other thread has it on loan for a call is closed by the
// borrower when the call is over: never under the call, never twice.
TEST(LinkHandles, AHandleClosedWhileLentIsClosedOnceByItsLastBorrower) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  std::string path;
  ASSERT_TRUE(deck.Driver().InterfacePath(0, path));
  SharedHandle shared(port);
  shared.Set(deck.Driver().Open(path.c_str()));
  const DriverHandle first = shared.Borrow();
  const DriverHandle second = shared.Borrow();
  shared.Close();
  EXPECT_FALSE(shared.Valid());
  EXPECT_EQ(shared.Borrow(), kInvalidHandle);
  shared.Return(first);
  EXPECT_EQ(deck.Driver().OpenHandles(), 1);
  shared.Return(second);
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  // Not lent: closed at once, and only once.
  shared.Set(deck.Driver().Open(path.c_str()));
  shared.Close();
  shared.Close();
  EXPECT_EQ(deck.Driver().Counters().closed, 2);
  EXPECT_EQ(deck.Driver().Counters().badCloses, 0);
}

// A driver that lists its members slowly keeps a search going for seconds, though nothing is
// blocked: a stop ends the search between two members, every candidate closed, the thread not
// ended.
TEST(LinkStop, ASlowSearchStopsBetweenTwoMembersWithNothingLeftOpen) {
  Session s(Named("stranger-first", [](Scenario& x) { x.slowListingMs = 1500; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the worker is in its first look
  s.link.Reset();
  EXPECT_EQ(s.deck.Driver().OpenHandles(), 0);
  EXPECT_EQ(s.deck.Driver().Counters().threadsEnded, 0);
  EXPECT_EQ(s.link.Log().Snapshot(), Lines{"INTERFACE / PIPE の設定をリセットしました。"});
}
