// The emulated deck's driver side on its own: what it lists, its descriptors, how it answers each
// frame, blocking reads, cancels, unplugging and the completion report.
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
  EXPECT_EQ(driver.Open((path + "\\if000pipe002").c_str()), kInvalidHandle);
  EXPECT_EQ(driver.Open((path + "\\if001pipe000").c_str()), kInvalidHandle);
  EXPECT_EQ(driver.Open(nullptr), kInvalidHandle);
  const DriverHandle h = driver.Open(path.c_str());
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(driver.OpenHandles(), 1);
  EXPECT_TRUE(driver.Close(h));
  EXPECT_FALSE(driver.Close(h));
  EXPECT_EQ(driver.Counters().badCloses, 1);

  EmulatedDeck absent{Tweaked([](Scenario& s) { s.productId = 0; })};
  EXPECT_FALSE(absent.Driver().InterfacePath(0, path));
  EmulatedDeck pipeless{Tweaked([](Scenario& s) { s.pipe1Opens = false; })};
  ASSERT_TRUE(pipeless.Driver().InterfacePath(0, path));
  EXPECT_NE(pipeless.Driver().Open((path + "\\if000pipe000").c_str()), kInvalidHandle);
  EXPECT_EQ(pipeless.Driver().Open((path + "\\if000pipe001").c_str()), kInvalidHandle);
}

TEST(DeckDriver, DescriptorsCarryTheScenariosIdsAndPacketSizes) {
  Opened o(Tweaked([](Scenario& s) {
    s.productId = 52;
    s.packetSize0 = 0x0208;
    s.packetSize1 = 0;
  }));
  const Bytes device = Descriptor(o.driver, o.device, 1, 18);
  EXPECT_EQ(device[0], 18);
  EXPECT_EQ(device[1], 1);
  EXPECT_EQ(device[8] | device[9] << 8, kMakerVendorId);
  EXPECT_EQ(device[10] | device[11] << 8, 52);
  const Bytes head = Descriptor(o.driver, o.pipe0, 2, 9);
  const int total = head[2] | head[3] << 8;
  EXPECT_EQ(total, 32);
  const Bytes config = Descriptor(o.driver, o.pipe1, 2, static_cast<std::uint32_t>(total));
  EXPECT_EQ(Bytes(config.begin() + 9, config.begin() + 12), (Bytes{9, 4, 0}));  // interface 0
  EXPECT_EQ(config[18 + 1], 5);
  EXPECT_EQ(config[18 + 4] | config[18 + 5] << 8, 0x0208);
  EXPECT_EQ(config[25 + 4] | config[25 + 5] << 8, 0);  // "missing": a size of zero
  // A request for more than there is leaves the rest of the caller's buffer alone.
  EXPECT_EQ(Descriptor(o.driver, o.device, 2, 40)[32], 0xEE);

  unsigned char status[4] = {};
  EXPECT_TRUE(o.driver.IoControl(o.device, 0x220018, nullptr, 0, status, 4));
  EXPECT_EQ(status[0], 1);
  EXPECT_FALSE(o.driver.IoControl(o.device, 0x220018, nullptr, 0, status, 3));
  EXPECT_FALSE(o.driver.IoControl(o.device, 0x22001C, nullptr, 0, nullptr, 0));
  EXPECT_FALSE(o.driver.IoControl(kInvalidHandle, 0x220018, nullptr, 0, status, 4));

  Opened sleepy(Tweaked([](Scenario& s) { s.ready = false; }));
  EXPECT_TRUE(sleepy.driver.IoControl(sleepy.pipe1, 0x220018, nullptr, 0, status, 4));
  EXPECT_EQ(status[0], 0);
}

TEST(DeckDriver, AnswersTheFourQueriesOnlyAfterPowerOn) {
  Opened o(Tweaked([](Scenario& s) {
             s.replyDelayMs = 0;
             s.versionMajor = 2;
             s.versionMinor = 3;
             s.versionVariant = 'm';
             s.discState = 0x12;
             s.modeState = 7;
             s.model = "HVX-Z9KQ";
           }),
           false);
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
  ASSERT_TRUE(o.ReadOne(r));
  ASSERT_EQ(r.size(), 19u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x12, 0x00, 0x18, 0xC8, 0x6A}));
  EXPECT_EQ(std::string(r.begin() + 5, r.begin() + 18), "HVX-Z9KQ     ");
  ASSERT_TRUE(o.ReadOne(r));
  ASSERT_EQ(r.size(), 14u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x0D, 0x00, 0x12, 0xB8, 0xF1}));
  EXPECT_EQ(r[8], 2);
  EXPECT_EQ(r[9], 3);
  EXPECT_EQ(r[13], 'm');
  ASSERT_TRUE(o.ReadOne(r));
  ASSERT_EQ(r.size(), 18u);
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0x11, 0x00, 0x12, 0xB8, 0x70}));
  EXPECT_EQ(r[9], 0x12);
  ASSERT_TRUE(o.ReadOne(r));
  EXPECT_EQ(r, (Bytes{0x05, 0x00, 0x12, 0xB8, 0xCA, 7}));
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
  ASSERT_TRUE(o.ReadOne(r, 8));
  EXPECT_EQ(r.size(), 8u);
  ASSERT_TRUE(o.ReadOne(r, 8));
  EXPECT_EQ(r.size(), 8u);
  ASSERT_TRUE(o.ReadOne(r, 8));
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
  o.driver.CancelRead(idle, o.pipe1);
  idle.join();
  bool ok = true;
  std::thread reader([&] { ok = o.ReadOne(r); });
  while (o.driver.BlockedReads() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  o.driver.CancelRead(reader, kInvalidHandle);
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(o.driver.Counters().readsCancelled, 1);
  // By its handle, whoever is named as the reader.
  ok = true;
  std::thread byHandle([&] { ok = o.ReadOne(r); });
  while (o.driver.BlockedReads() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread other([] {});
  o.driver.CancelRead(other, o.pipe0);  // no read is blocked on pipe 0
  EXPECT_EQ(o.driver.BlockedReads(), 1);
  o.driver.CancelRead(other, o.pipe1);
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

TEST(DeckDriver, RewriteRequestCompletionAndUnplugAfterIt) {
  Opened o(Tweaked([](Scenario& s) { s.completeAfterMs = 20; }));
  Bytes r;
  ASSERT_TRUE(o.ReadOne(r));
  o.driver.ImageAccepted();  // nothing was requested: nothing to complete
  EXPECT_FALSE(o.driver.RewriteRequested());
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xC0, 0xA6});
  EXPECT_TRUE(o.driver.RewriteRequested());
  o.driver.ImageAccepted();
  ASSERT_TRUE(o.ReadOne(r));
  EXPECT_EQ(r, (Bytes{0x04, 0x00, 0x12, 0xB8, 0xEF}));

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
  EXPECT_NE(report.find("handles: 1 opened, 0 closed, 1 still open"), std::string::npos) << report;
  EXPECT_NE(report.find("driver: the deck was plugged in"), std::string::npos) << report;
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

TEST(DeckHex, SpacedUpperCasePairs) {
  EXPECT_EQ(Hex(Bytes{}), "");
  EXPECT_EQ(Hex(Bytes{0x05, 0x00, 0xAB, 0xff}), "05 00 AB FF");
  const unsigned char two[] = {0x0A, 0x1B};
  EXPECT_EQ(Hex(two, 1), "0A");
}
