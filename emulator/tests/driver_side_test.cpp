// The emulated deck's driver side on its own, where the link tests cannot see it: what it lists,
// its descriptors, how it answers each frame, blocking reads, cancels, unplugging, a rewrite that
// never completes, and its test hooks.
#include "emulator/DriverSide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "link/tests/WaitFor.h"

namespace {
using Bytes = std::vector<unsigned char>;

Scenario Tweaked(const std::function<void(Scenario&)>& change) {
  Scenario s;
  change(s);
  return s;
}

// A deck opened the way the program opens it: device, pipe 0, pipe 1, powered on.
struct Opened {
  explicit Opened(const Scenario& s, bool powerOn = true) : deck(s), driver(deck.Driver()) {
    std::string path;
    EXPECT_TRUE(driver.InterfacePath(0, path));
    device = driver.Open(path.c_str());
    pipe0 = driver.Open((path + "\\if000pipe000").c_str());
    pipe1 = driver.Open((path + "\\if000pipe001").c_str());
    if (powerOn) Send({0x00, 0x60, 0x00});
  }
  bool Send(const Bytes& frame) {
    std::uint32_t written = 0;
    return driver.Write(pipe0, frame.data(), static_cast<std::uint32_t>(frame.size()), written);
  }
  // One read of pipe 1; false when it failed.
  bool ReadOne(Bytes& out, std::uint32_t size = 64) {
    out.assign(size, 0);
    std::uint32_t got = 0;
    const bool ok = driver.Read(pipe1, out.data(), size, got);
    out.resize(got);
    return ok;
  }
  EmulatedDeck deck;
  DriverSide& driver;
  DriverHandle device = kInvalidHandle, pipe0 = kInvalidHandle, pipe1 = kInvalidHandle;
};

Bytes Descriptor(DriverSide& driver, DriverHandle h, unsigned char type, std::uint32_t size) {
  const unsigned char request[4] = {type, 0, 0, 0};
  Bytes out(size, 0xEE);
  EXPECT_TRUE(driver.IoControl(h, 0x220014, request, 4, out.data(), size));
  return out;
}
}  // namespace

TEST(DeckDriver, ListsItselfAndServesItsPaths) {
  EmulatedDeck deck{Scenario{}};
  DriverSide& driver = deck.Driver();
  std::string path;
  ASSERT_TRUE(driver.InterfacePath(0, path));
  EXPECT_EQ(path, driver.DevicePath());
  EXPECT_NE(path.find("vid_31d4&pid_008e"), std::string::npos);
  EXPECT_FALSE(driver.InterfacePath(1, path));
  EXPECT_EQ(driver.Open((path + "\\if001pipe000").c_str()), kInvalidHandle);
  EXPECT_EQ(driver.Open(nullptr), kInvalidHandle);
  const DriverHandle h = driver.Open(path.c_str());
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(driver.OpenHandles(), 1);
  EXPECT_TRUE(driver.Close(h));
}

// The ids, packet sizes and ready state are read through DriverPort in the link tests, whose walk
// would not notice a descriptor that claims more than it holds.
TEST(DeckDriver, DescriptorsAreWholeAndBadRequestsFailOrLeaveTheBufferAlone) {
  Opened o(Scenario{});
  const Bytes device = Descriptor(o.driver, o.device, 1, 18);
  EXPECT_EQ(Bytes(device.begin(), device.begin() + 2), (Bytes{18, 1}));
  const Bytes head = Descriptor(o.driver, o.pipe0, 2, 9);
  EXPECT_EQ(head[2] | head[3] << 8, 32);  // the configuration, its interface and two endpoints
  // A request for more than there is leaves the rest of the caller's buffer alone.
  EXPECT_EQ(Descriptor(o.driver, o.device, 2, 40)[32], 0xEE);
  unsigned char status[4] = {};
  EXPECT_FALSE(o.driver.IoControl(o.device, 0x220018, nullptr, 0, status, 3));
  EXPECT_FALSE(o.driver.IoControl(o.device, 0x22001C, nullptr, 0, nullptr, 0));
  EXPECT_FALSE(o.driver.IoControl(kInvalidHandle, 0x220018, nullptr, 0, status, 4));
}

// Where each reply carries its fields is read by the link's checks against the named decks.
TEST(DeckDriver, AnswersTheFourQueriesOnlyAfterPowerOn) {
  Opened o(Tweaked([](Scenario& s) { s.replyDelayMs = 0; }), false);
  EXPECT_TRUE(o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A}));
  EXPECT_TRUE(o.deck.Driver().RepliesQueued().empty());  // still asleep
  o.Send({0x00, 0x60, 0x00});
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A});
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xF1, 0x00});
  o.Send({0x04, 0x00, 0x60, 0xB0, 0x0F});
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xCA, 0xFF});
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xCA});  // length byte says 5, 4 follow: not taken
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6B});  // no such command
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));
  EXPECT_EQ(r, (Bytes{0x00, 0x60, 0x01}));  // the link kit acknowledges the power-on
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 4 && o.ReadOne(r); ++i) sizes.push_back(r.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{19, 14, 18, 6}));  // model, version, disc, mode
  EXPECT_EQ(o.driver.RepliesQueued().size(), 5u);
  EXPECT_EQ(o.driver.Counters().ignoredFrames, 3);
  EXPECT_EQ(o.driver.FramesReceived().size(), 8u);
}

TEST(DeckDriver, RepliesComeInPacketsOfTheEndpointsSize) {
  Opened o(Tweaked([](Scenario& s) {
    s.packetSize1 = 8;
    s.replyDelayMs = 0;
  }));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r, 8));  // the power-on acknowledgement
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A});
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 3 && o.ReadOne(r, 8); ++i) sizes.push_back(r.size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 8, 3}));  // the model reply's 19 bytes
  EXPECT_EQ(r, (Bytes{' ', ' ', 0x01}));
}

TEST(DeckDriver, ReadsWaitForTheReplyAndACancelEndsOnlyTheBlockedRead) {
  Opened o(Tweaked([](Scenario& s) { s.replyDelayMs = 40; }));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));                // acknowledgement
  const double sent = o.deck.events.Now();  // before the deck's own clock starts the delay
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xCA, 0xFF});
  ASSERT_TRUE(o.ReadOne(r));
  EXPECT_GE(o.deck.events.Now() - sent, 40.0);  // not before it is due
  EXPECT_EQ(r.size(), 6u);

  // A cancel with no read blocked does not touch the next read.
  std::thread idle([] {});
  o.driver.CancelIo(idle, o.pipe1);
  idle.join();
  bool ok = true;
  std::thread reader([&] { ok = o.ReadOne(r); });
  while (o.driver.BlockedReads() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  o.driver.CancelIo(reader, kInvalidHandle);
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(o.driver.Counters().readsCancelled, 1);
  // By its handle, whoever is named as the reader.
  ok = true;
  std::thread byHandle([&] { ok = o.ReadOne(r); });
  while (o.driver.BlockedReads() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread other([] {});
  o.driver.CancelIo(other, o.pipe0);  // no read is blocked on pipe 0
  EXPECT_EQ(o.driver.BlockedReads(), 1);
  o.driver.CancelIo(other, o.pipe1);
  byHandle.join();
  other.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(o.driver.Counters().readsCancelled, 2);
  // Pipe 0 carries commands only: a read there fails at once.
  std::uint32_t got = 7;
  r.assign(4, 0);
  EXPECT_FALSE(o.driver.Read(o.pipe0, r.data(), 4, got));
  EXPECT_EQ(got, 0u);
}

TEST(DeckDriver, UnplugFailsEverythingAndOldHandlesStayDeadAfterPlug) {
  Opened o(Scenario{});
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));
  bool ok = true;
  std::thread reader([&] { ok = o.ReadOne(r); });
  while (o.driver.BlockedReads() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  o.driver.Unplug();
  reader.join();
  EXPECT_FALSE(ok);
  unsigned char status[4] = {};
  EXPECT_FALSE(o.driver.IoControl(o.pipe1, 0x220018, nullptr, 0, status, 4));
  EXPECT_FALSE(o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A}));
  std::string path;
  EXPECT_FALSE(o.driver.InterfacePath(0, path));
  EXPECT_EQ(o.driver.Open(o.driver.DevicePath().c_str()), kInvalidHandle);

  o.driver.Plug();
  EXPECT_FALSE(o.driver.IoControl(o.pipe1, 0x220018, nullptr, 0, status, 4));
  ASSERT_TRUE(o.driver.InterfacePath(0, path));
  const DriverHandle fresh = o.driver.Open(path.c_str());
  EXPECT_TRUE(o.driver.IoControl(fresh, 0x220018, nullptr, 0, status, 4));
  // Closing the dead handles still counts.
  for (DriverHandle h : {o.device, o.pipe0, o.pipe1, fresh}) EXPECT_TRUE(o.driver.Close(h));
  EXPECT_EQ(o.driver.OpenHandles(), 0);
}

TEST(DeckDriver, ARewriteThatNeverCompletesEndsInTheScenariosUnplug) {
  // The report that does come is read by the link's rewrite test.
  Bytes r;
  Opened never(Tweaked([](Scenario& s) {
    s.completeAfterMs = -1;
    s.unplugAfterRequestMs = 2000;
  }));
  ASSERT_TRUE(never.ReadOne(r));
  never.Send({0x05, 0x00, 0x60, 0xB0, 0xC0, 0xA6});
  never.driver.ImageAccepted();
  EXPECT_TRUE(never.driver.Plugged());
  EXPECT_EQ(never.driver.RepliesQueued().size(), 1u);  // the power-on acknowledgement alone
  ASSERT_TRUE(WaitFor([&] { return !never.driver.Plugged(); }));
  EXPECT_FALSE(never.ReadOne(r));  // no report came; the deck left 2 s after the request
  EXPECT_EQ(never.driver.RepliesQueued().size(), 1u);
}

TEST(DeckDriver, ALateDeckAppearsAndTheReportSaysWhatHappened) {
  EmulatedDeck deck{Tweaked([](Scenario& s) { s.plugInAfterMs = 2000; })};
  std::string path;
  EXPECT_FALSE(deck.Driver().InterfacePath(0, path));
  ASSERT_TRUE(WaitFor([&] { return deck.Driver().InterfacePath(0, path); }));
  EXPECT_GE(deck.events.Now(), 2000.0);
  const DriverHandle h = deck.Driver().Open(path.c_str());
  const std::string report = deck.Report();
  EXPECT_NE(report.find(R"("handles":{"opened":1,"closed":0,"stillOpen":1,)"), std::string::npos) << report;
  EXPECT_NE(report.find(R"("path":"driver","kind":"plugged","text":"the deck was plugged in")"),
            std::string::npos)
      << report;
  deck.Driver().Close(h);
}

TEST(DeckDriver, FailedWritesReachNothingAndLeaveTheDeckPluggedIn) {
  Opened o(Tweaked([](Scenario& s) { s.replyDelayMs = 0; }));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));  // acknowledgement
  o.driver.FailWrites(true);
  EXPECT_FALSE(o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A}));
  EXPECT_TRUE(o.driver.Plugged());
  EXPECT_EQ(o.driver.FramesReceived().size(), 1u);
  EXPECT_EQ(o.driver.RepliesQueued().size(), 1u);
  o.driver.FailWrites(false);
  EXPECT_TRUE(o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A}));
  EXPECT_EQ(o.driver.RepliesQueued().size(), 2u);
}

TEST(DeckDriver, AHeldWriteReturnsOnceItsReplyIsReadAndTheReaderIsBack) {
  Opened o(Tweaked([](Scenario& s) { s.replyDelayMs = 0; }));
  // A reader that keeps coming back, like the link's worker.
  std::atomic<int> replies{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    Bytes got;
    while (!stop.load())
      if (o.ReadOne(got) && !got.empty()) replies.fetch_add(1);
  });
  o.driver.HoldWritesUntilReplyRead(true);
  EXPECT_TRUE(WaitFor([&] { return replies.load() == 1; }));  // the power-on acknowledgement
  for (int i = 2; i <= 4; ++i) {
    EXPECT_TRUE(o.Send({0x05, 0x00, 0x60, 0xB0, 0xCA, 0xFF}));
    EXPECT_EQ(replies.load(), i);  // already read when the write returns
    EXPECT_EQ(o.driver.BlockedReads(), 1);
  }
  EXPECT_TRUE(o.Send({0x05, 0x00, 0x60, 0xB0, 0xC0, 0xA6}));  // no reply to wait for
  o.driver.HoldWritesUntilReplyRead(false);
  stop.store(true);
  o.driver.Unplug();  // fails the reader's last read
  reader.join();
  EXPECT_EQ(replies.load(), 4);
}

// As strict as a real driver: closing a handle does not end a read blocked on it from another
// thread, only a cancel or the cable does; a scenario may ignore every cancel, or take no write.
TEST(DeckDriver, OnlyACancelOrTheCableEndsABlockedReadNotAClose) {
  Opened o(Tweaked([](Scenario&) {}));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));  // acknowledgement
  std::atomic<bool> left{false};
  std::thread reader([&] {
    o.ReadOne(r);
    left.store(true);
  });
  ASSERT_TRUE(WaitFor([&] { return o.driver.BlockedReads() == 1; }));
  EXPECT_TRUE(o.driver.Close(o.pipe1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(left.load()) << "the close ended the read";
  o.driver.CancelIo(reader, kInvalidHandle);
  reader.join();
  EXPECT_EQ(o.driver.Counters().readsCancelled, 1);
}

TEST(DeckDriver, CancelIgnoredLeavesAReadBlockedUntilItsThreadIsEndedOrTheCableIsPulled) {
  Opened o(Tweaked([](Scenario& s) { s.cancelIgnored = true; }));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));
  std::atomic<bool> left{false};
  std::thread ended([&] {
    o.ReadOne(r);
    left.store(true);  // never reached: the thread is ended inside the read
  });
  ASSERT_TRUE(WaitFor([&] { return o.driver.BlockedReads() == 1; }));
  o.driver.CancelIo(ended, o.pipe1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(o.driver.BlockedReads(), 1);
  EXPECT_EQ(o.driver.Counters().cancelsIgnored, 1);
  o.driver.EndThread(ended);
  EXPECT_FALSE(ended.joinable());
  ASSERT_TRUE(WaitFor([&] { return o.driver.BlockedReads() == 0; }));
  EXPECT_EQ(o.driver.Counters().threadsEnded, 1);
  EXPECT_FALSE(left.load());
  // A thread that waits nowhere in the driver cannot be ended.
  std::thread idle([] {});
  o.driver.EndThread(idle);
  EXPECT_TRUE(idle.joinable());
  idle.join();

  std::thread unplugged([&] { o.ReadOne(r); });
  ASSERT_TRUE(WaitFor([&] { return o.driver.BlockedReads() == 1; }));
  o.driver.Unplug();
  unplugged.join();
  EXPECT_EQ(o.driver.Counters().readsCancelled, 0);
}

TEST(DeckDriver, WriteStallsTakesNothingAndBlocksEachWriteUntilItIsCancelled) {
  Opened o(Tweaked([](Scenario& s) { s.writesStall = true; }), false);
  bool sent = true;
  std::thread writer([&] { sent = o.Send({kPowerOn[0], kPowerOn[1], kPowerOn[2]}); });
  ASSERT_TRUE(WaitFor([&] { return o.driver.BlockedWrites() == 1; }));
  o.driver.CancelIo(writer, o.pipe0);
  writer.join();
  EXPECT_FALSE(sent);
  EXPECT_EQ(o.driver.Counters().writesCancelled, 1);
  EXPECT_TRUE(o.driver.FramesReceived().empty());
  EXPECT_TRUE(o.driver.Plugged());
}
