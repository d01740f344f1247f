// The link's worker, its driver port and its clock against the emulated deck: the search, the open,
// the worker's pauses, reading, Reset, stops the driver resists, sends, and what both threads share.
#include "link/LinkSession.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/support/DeckFixture.h"

TEST(DriverPort, FindsTheDeckPastAStrangerByWhatItIsAskedToMatchAndAsksNothingOfAnInvalidHandle) {
  EmulatedDeck deck(Named("stranger-first"));
  DriverPort port(deck.Driver());
  DriverHandle device = kInvalidHandle, stranger = kInvalidHandle;
  std::string path, other;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, 3, device, path));
  EXPECT_EQ(path, deck.Driver().DevicePath());
  EXPECT_EQ(deck.Driver().OpenHandles(), 1);  // the stranger was closed again
  EXPECT_TRUE(port.FindDevice(kMakerVendorId, 0, DriverPort::kMatchVendor, stranger, other));
  EXPECT_NE(other, path);
  EXPECT_FALSE(port.FindDevice(0x1234, 142, DriverPort::kMatchVendor, stranger, path));
  EXPECT_TRUE(port.FindDevice(0x1234, 142, DriverPort::kMatchProduct, stranger, path));
  EXPECT_EQ(port.HandleState(device), 2);
  deck.Driver().Unplug();
  EXPECT_EQ(port.HandleState(device), 1);
  const std::size_t events = deck.events.All().size();
  EXPECT_EQ(port.HandleState(kInvalidHandle), 0);
  EXPECT_EQ(deck.events.All().size(), events);
}

// A handle the worker closes while the other thread has it on loan for a call is closed by the
// borrower when the call is over: never under the call, never twice.
TEST(SharedHandle, AHandleClosedWhileLentIsClosedOnceByItsLastBorrower) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  SharedHandle shared(port);
  shared.Set(deck.Driver().Open(deck.Driver().DevicePath().c_str()));
  const DriverHandle first = shared.Borrow(), second = shared.Borrow();
  shared.Close();
  EXPECT_EQ(shared.Borrow(), kInvalidHandle);
  shared.Return(first);
  EXPECT_EQ(deck.Driver().OpenHandles(), 1);
  shared.Return(second);
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  shared.Set(deck.Driver().Open(deck.Driver().DevicePath().c_str()));
  shared.Close();  // not lent: at once, and only once
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
  EXPECT_EQ(s.link.Log().Snapshot(), Lines{kResetLine});
}

TEST(LinkOpen, ASuccessfulOpenLogsItsLinesPowersTheDeckOnAndPausesBeforeEachPass) {
  Reading r(Named("small-packets", [](Scenario& s) {
    s.packetSize0 = 0x0140;
    s.productId = 52;  // found by the second search, the device of the first closed again
  }));
  EXPECT_EQ(r.link.Log().Snapshot(), OpenedLines(8, 0x0140));
  EXPECT_EQ(HexFrames(r.deck.Driver().FramesReceived()), Lines{Hex(kPowerOn, sizeof kPowerOn)});
  EXPECT_EQ(r.deck.Driver().Counters().deviceControls, 1);
  EXPECT_EQ(r.deck.Driver().OpenHandles(), 3);
  // The open, the read of the power-on answer, the read that waits.
  EXPECT_EQ(r.clock.Pauses(), (std::vector<double>{20, 20, 20}));
}

TEST(LinkRead, AReadErrorOnAReadyPipeIsRecoveredFromAndAnUnplugEndsTheWorker) {
  Reading r(Named("read-error"));
  EXPECT_EQ(r.link.Log().Snapshot(), Concat(OpenedLines(), {"read error size=0"}));
  EXPECT_NE(r.deck.Report().find(R"("kind":"control","text":"control 0x220008)"), std::string::npos);
  // The failed read is followed by the recovery's 100 ms, then reading goes on.
  EXPECT_EQ(r.clock.Pauses(), (std::vector<double>{20, 20, 100, 20, 20}));
  r.deck.Driver().Unplug();
  ASSERT_TRUE(WaitForWorkerEnd(r.link));
  EXPECT_EQ(r.link.State(), LinkSession::kDeviceRemoved);
  EXPECT_EQ(r.link.Log().Snapshot(),
            Concat(OpenedLines(), {"read error size=0", "read error size=0", "デバイスが取り外されました"}));
  EXPECT_EQ(r.clock.Pauses(), (std::vector<double>{20, 20, 100, 20, 20, 20, 1000}));
  EXPECT_EQ(r.deck.Driver().Counters().pipeControls, 1);
  EXPECT_EQ(r.deck.Driver().OpenHandles(), 0);
  EXPECT_EQ(r.deck.Driver().Counters().badCloses, 0);
}

TEST(LinkReset, StopsAWorkerBlockedInAReadClosesItsHandlesAndStartsAFreshOne) {
  Reading r(Named("success"));
  r.link.Reset();
  // The old worker is gone and its handles are closed before the new one opens anything; its
  // cancelled read is no read error.
  EXPECT_EQ(r.deck.Driver().Counters().readsCancelled, 1);
  EXPECT_EQ(r.deck.Driver().Counters().closed, 3);
  ASSERT_TRUE(WaitForReading(r.deck));
  EXPECT_EQ(r.link.Log().Snapshot(), Concat(Concat(OpenedLines(), {kResetLine}), OpenedLines()));
  EXPECT_EQ(r.deck.Driver().OpenHandles(), 3);
}

// A driver that ignores the cancel of the worker's blocked read: a stop gives the worker a second,
// then ends its thread where it waits, and leaves the pipe it is inside open, as a close of it would
// never return; a fresh worker reaches the deck. Destruction does the same.
TEST(LinkStop, AWorkerTheDriverWillNotLetGoIsEndedAndThePipeItIsInIsLeftOpen) {
  EmulatedDeck deck(Named("cancel-ignored"));
  deck.Driver().LimitCloseWaits(3000);  // a close that would wait for ever fails the test instead
  SimClock clock;
  auto link = std::make_unique<LinkSession>(deck.Driver(), clock);
  ASSERT_TRUE(WaitForReading(deck));
  link->Reset();
  ASSERT_TRUE(WaitFor([&] { return deck.Driver().Counters().threadsEnded == 1; }));
  ASSERT_TRUE(WaitForReading(deck));
  EXPECT_EQ(link->Log().Snapshot(),
            Concat(Concat(OpenedLines(), {"応答しないワーカースレッドを強制終了しました。", kResetLine}),
                   OpenedLines()));
  link.reset();
  ASSERT_TRUE(WaitFor([&] { return deck.Driver().Counters().threadsEnded == 2; }));
  const EmulatedDriver::Counts c = deck.Driver().Counters();
  // Each worker's device and write pipe closed once; both read pipes left with their ended reads.
  EXPECT_EQ((std::vector<int>{c.threadsEnded, c.closed, c.closesWaited, c.badCloses}),
            (std::vector<int>{2, 4, 0, 0}));
  EXPECT_EQ(deck.Driver().OpenHandles(), 2);
  EXPECT_EQ(deck.Driver().HandlesInEndedCalls(), 2);
}

TEST(LinkSend, FramesGoOutOnPipeZeroAndAreLoggedWithoutTheirLengthAndNotAtAllWithoutADeck) {
  Reading r(Named("success"));
  EmulatedDriver& driver = r.deck.Driver();
  const unsigned char ten[] = {0x0A, 1, 2, 3, 4, 5, 6, 7, 8, 0xFE};
  r.link.SendBytes(ten, 10);
  r.link.SendBytes(ten, 1);  // too short to frame: neither written nor logged
  r.link.SendHex("006000", 6);
  driver.FailWrites(true);  // a write that fails is still logged, and the link stays as it was
  r.link.SendBytes(ten, 2);
  EXPECT_EQ(HexFrames(driver.FramesReceived()),
            (Lines{"00 60 00", "0A 0A 01 02 03 04 05 06 07 08 FE", "00 60 00"}));
  EXPECT_EQ(r.link.Log().Snapshot(),
            Concat(OpenedLines(), {"Send Data: 0A0102030405060708FE",
                                   "Send Data: [LINK KIT LOCAL COMMAND] 006000", "Send Data: 0A01"}));
  EXPECT_EQ(r.link.State(), LinkSession::kReading);

  Session none(Named("absent"));
  ASSERT_TRUE(WaitForWorkerEnd(none.link));
  none.link.SendBytes(kModelQuery, sizeof kModelQuery);
  EXPECT_EQ(none.link.Log().Snapshot(), (Lines{"USB OPEN出来ませんでした。", "USBはOPENしていません。"}));
  EXPECT_TRUE(none.deck.Driver().FramesReceived().empty());
  const std::string line = none.link.Log().Snapshot().at(0);  // in Shift-JIS
  EXPECT_EQ(Hex({line.begin(), line.end()}),
            "55 53 42 20 4F 50 45 4E 8F 6F 97 88 82 DC 82 B9 82 F1 82 C5 82 B5 82 BD 81 42");
}

// A deck whose pipe 0 takes nothing: the worker's power-on request is given about 3 s, then
// cancelled and logged as timed out, and the worker reads all the same; a driver that holds on to
// the write past its cancel gets the writer's thread ended. The two decks run side by side.
TEST(LinkSend, AWriteTheDeckNeverTakesIsCancelledAndOneStillHeldEndsItsThread) {
  Session stalls(Named("write-stalls")),
      held(Named("write-stalls", [](Scenario&x) { x.cancelIgnored = true; }));
  for (Session* s : {&stalls, &held})
    ASSERT_TRUE(WaitFor([&] { return s->link.State() == LinkSession::kReading; }, 8000));
  Lines opened = OpenedLines();
  opened.back() = "Send Data timed out: [LINK KIT LOCAL COMMAND] 006000";
  EXPECT_EQ(stalls.link.Log().Snapshot(), opened);
  EXPECT_EQ(stalls.deck.Driver().Counters().writesCancelled, 1);
  opened.insert(opened.end() - 1, "応答しない送信スレッドを強制終了しました。");
  EXPECT_EQ(held.link.Log().Snapshot(), opened);
  EXPECT_TRUE(WaitFor([&] { return held.deck.Driver().Counters().threadsEnded == 1; }));
  for (Session* s : {&stalls, &held}) {
    EXPECT_EQ(s->deck.Driver().BlockedWrites(), 0);
    EXPECT_TRUE(s->deck.Driver().FramesReceived().empty());
  }
  // The worker's end step after the cable is pulled leaves the pipe the writer was ended in open.
  held.deck.Driver().LimitCloseWaits(3000);
  held.deck.Driver().Unplug();
  ASSERT_TRUE(WaitForWorkerEnd(held.link));
  EXPECT_EQ(held.deck.Driver().Counters().closesWaited, 0);
  EXPECT_EQ(held.deck.Driver().OpenHandles(), 1);
  EXPECT_EQ(held.deck.Driver().HandlesInEndedCalls(), 1);
}

TEST(LinkLog, RingKeepsTheLast51MessagesInOrderWhoeverAppends) {
  LogRing ring;
  auto writer = [&](char who) {
    for (int i = 0; i < 5000; ++i) ring.Append(who + std::to_string(i));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  int lastA = -1, lastB = -1;
  for (const std::string& m : ring.Snapshot()) {
    int& seen = m[0] == 'a' ? lastA : lastB;
    EXPECT_GT(std::stoi(m.substr(1)), seen) << "repeated or out of order";
    seen = std::stoi(m.substr(1));
  }
  EXPECT_TRUE(lastA == 4999 || lastB == 4999);
  Lines last;
  for (int i = 0; i < 52; ++i) ring.Append("m" + std::to_string(i)), last.push_back("m" + std::to_string(i));
  EXPECT_EQ(ring.Snapshot(), Lines(last.begin() + 1, last.end()));  // m0 is written over
}

// A period is never shorter than asked, the work done in it is not added to it, a period that ran
// long is not made up for, and a pause that ends late is asked for that much shorter next time.
TEST(Pacer, EachPeriodLastsItsTenMillisecondsWithTheWorkInsideIt) {
  SimClock clock;
  Pacer pace(clock, 10);
  pace.Wait();  // nothing marked yet: no pause
  EXPECT_TRUE(clock.Sleeps().empty());
  std::vector<double> lengths;
  for (double work : {0.0, 3.0, 9.5, 10.0, 2500.0, 1.0}) {
    pace.Mark();
    const double start = clock.NowMs();
    clock.Advance(work);
    pace.Wait();
    lengths.push_back(clock.NowMs() - start);
  }
  EXPECT_EQ(lengths, (std::vector<double>{10, 10, 10, 10, 2500, 10}));
  clock.lateMs = 0.4;
  for (int i = 0; i < 100; ++i) {
    pace.Mark();
    const double start = clock.NowMs();
    clock.Advance(1);
    pace.Wait();
    EXPECT_GE(clock.NowMs() - start, 10.0) << "period " << i;
    EXPECT_TRUE(i < 50 || clock.NowMs() - start < 10.05) << "the lateness is still added to period " << i;
  }
}

TEST(SystemClock, APauseEndsAtOnceWhenItsConditionComesTrueAndOtherwiseRunsOut) {
  std::mutex lock;
  std::condition_variable wake;
  std::atomic<bool> stop{false}, ended{false};
  std::unique_lock<std::mutex> hold(lock);
  EXPECT_FALSE(SystemClock().WaitMs(hold, wake, 1, [&] { return stop.load(); }));
  std::thread pause([&] {
    std::unique_lock<std::mutex> held(lock);
    ended = SystemClock().WaitMs(held, wake, 600000, [&] { return stop.load(); });
  });
  hold.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely waiting by now
  std::lock_guard<std::mutex>{lock}, stop = true, wake.notify_all();
  EXPECT_TRUE(WaitFor([&] { return ended.load(); }));
  pause.join();
}
