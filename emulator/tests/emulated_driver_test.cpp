// The emulated driver where the link tests cannot see it: it is as strict as a real driver. It
// answers nothing it should not take, closing a handle does not end a read blocked on it, and a
// scenario may ignore every cancel (one that takes no write is the link's test).
#include "emulator/EmulatedDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "emulator/EmulatedDeck.h"
#include "tests/support/DeckFixture.h"

namespace {
// A deck with both pipes open, as the link opens them.
struct Opened {
  explicit Opened(const char* scenario) : deck(*FindScenario(scenario)), driver(deck.Driver()) {}
  // A read of pipe 1 on a thread of its own that is blocked in it when this returns; `left` is set
  // should the call ever return.
  std::thread Blocked() {
    std::thread t([this] {
      unsigned char buffer[64] = {};
      std::uint32_t got = 0;
      driver.Read(pipe1, buffer, sizeof buffer, got);
      left = true;
    });
    EXPECT_TRUE(WaitFor([&] { return driver.BlockedReads() == 1; }));
    return t;
  }
  EmulatedDeck deck;
  EmulatedDriver& driver;
  DriverHandle pipe0 = driver.Open((driver.DevicePath() + "\\if000pipe000").c_str());
  DriverHandle pipe1 = driver.Open((driver.DevicePath() + "\\if000pipe001").c_str());
  std::atomic<bool> left{false};
};
}  // namespace

// Handles are synchronous, as the program opens them: a second call on a handle waits for its turn,
// where no cancel reaches it; a close waits for the call in flight and ends none; only a cancel or
// the cable ends a blocked read.
TEST(EmulatedDriver, OneCallAtATimeOnAHandleAndACloseWaitsForTheCallInFlight) {
  Opened o("success");
  std::thread reader = o.Blocked();
  std::atomic<int> ready{-1}, closed{-1};
  std::thread second([&] {
    unsigned char status[4] = {};
    ready = o.driver.IoControl(o.pipe1, kReadyCode, nullptr, 0, status, sizeof status);
  });
  ASSERT_TRUE(WaitFor([&] { return o.driver.Counters().callsWaited == 1; }));
  o.driver.CancelIo(second, kInvalidHandle);  // it has no I/O yet
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ready, -1);
  o.driver.Inject({0x04, 0x00, 0x12, 0xB8, 0xEF});
  second.join();
  reader.join();
  EXPECT_EQ(ready, 1) << "its turn came when the read returned";

  o.left = false;
  reader = o.Blocked();
  std::thread closer([&] { closed = o.driver.Close(o.pipe1); });
  ASSERT_TRUE(WaitFor([&] { return o.driver.Counters().closesWaited == 1; }));
  std::thread other([] {});
  o.driver.CancelIo(other, o.pipe0);  // neither the reader nor its handle
  other.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(o.left) << "the close or a cancel of another ended the read";
  EXPECT_EQ(closed, -1);
  o.driver.CancelIo(reader, kInvalidHandle);
  reader.join();
  closer.join();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(o.driver.Counters().readsCancelled, 1);
  EXPECT_FALSE(o.driver.Close(o.pipe1));  // a handle closed already, as a real driver refuses it
  EXPECT_EQ(o.driver.Counters().badCloses, 1);
}

// A thread ended inside its read never returns, and neither would a close of its handle.
TEST(EmulatedDriver, CancelIgnoredLeavesAReadBlockedUntilItsThreadIsEndedAndItsHandleInTheCallForEver) {
  Opened o("cancel-ignored");
  std::thread ended = o.Blocked();
  o.driver.CancelIo(ended, o.pipe1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(o.driver.BlockedReads(), 1);
  EXPECT_EQ(o.driver.Counters().cancelsIgnored, 1);
  o.driver.EndThread(ended);
  EXPECT_FALSE(ended.joinable());
  EXPECT_EQ(o.driver.HandlesInEndedCalls(), 1) << "known from the end on, not once the thread next runs";
  EXPECT_TRUE(WaitFor([&] { return o.driver.Counters().threadsEnded == 1; }));
  EXPECT_FALSE(o.left);
  o.driver.LimitCloseWaits(50);
  EXPECT_FALSE(o.driver.Close(o.pipe1));
  EXPECT_EQ(o.driver.Counters().closesHung, 1);
  EXPECT_NE(o.deck.Report().find(R"("stillOpen":1,"inEndedCalls":1,)"), std::string::npos);
  o.pipe1 = o.driver.Open((o.driver.DevicePath() + "\\if000pipe001").c_str());
  std::thread unplugged = o.Blocked();
  o.driver.Unplug();
  unplugged.join();
  EXPECT_EQ(o.driver.Counters().readsCancelled, 0);
}

// Each control code is taken only on its own kind of handle and with its own buffers, as the driver
// defines it; everything else is refused and counted.
TEST(EmulatedDriver, TakesEachControlCodeOnlyOnItsHandleWithItsBuffers) {
  Opened o("success");
  const DriverHandle device = o.driver.Open(o.driver.DevicePath().c_str());
  using Bytes = std::vector<unsigned char>;
  const struct {
    const char* what;
    DriverHandle Opened::*handle;  // nullptr: the device
    std::uint32_t code;
    Bytes in;
    std::uint32_t outSize;
    bool taken;
  } cases[] = {
      {"start on the device", nullptr, kDeviceControlCode, {}, 0, true},
      {"start on a pipe", &Opened::pipe1, kDeviceControlCode, {}, 0, false},
      {"start with an output", nullptr, kDeviceControlCode, {}, 4, false},
      {"pipe reset on pipe 1", &Opened::pipe1, kPipeControlCode, {}, 0, true},
      {"pipe reset on the device", nullptr, kPipeControlCode, {}, 0, false},
      {"pipe reset with an input", &Opened::pipe0, kPipeControlCode, {0, 0, 0, 0}, 0, false},
      {"ready of the device", nullptr, kReadyCode, {}, 4, true},
      {"ready of pipe 0", &Opened::pipe0, kReadyCode, {}, 4, true},
      {"ready into 8 bytes", nullptr, kReadyCode, {}, 8, false},
      {"ready with an input", nullptr, kReadyCode, {0, 0, 0, 0}, 4, false},
      {"device descriptor", nullptr, kDescriptorCode, {1, 0, 0, 0}, 18, true},
      {"device descriptor into 64 bytes", nullptr, kDescriptorCode, {1, 0, 0, 0}, 64, false},
      {"device descriptor into 17 bytes", nullptr, kDescriptorCode, {1, 0, 0, 0}, 17, false},
      {"configuration head through pipe 1", &Opened::pipe1, kDescriptorCode, {2, 0, 0, 0}, 9, true},
      {"configuration into 255 bytes", nullptr, kDescriptorCode, {2, 0, 0, 0}, 255, true},
      {"configuration into none", nullptr, kDescriptorCode, {2, 0, 0, 0}, 0, false},
      {"descriptor request of 3 bytes", nullptr, kDescriptorCode, {1, 0, 0}, 18, false},
      {"descriptor request not padded with zeros", nullptr, kDescriptorCode, {1, 1, 0, 0}, 18, false},
      {"string descriptor", nullptr, kDescriptorCode, {3, 0, 0, 0}, 18, false},
      {"no such code", nullptr, 0x22001C, {}, 0, false},
  };
  int refused = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    unsigned char out[255] = {};
    EXPECT_EQ(
        o.driver.IoControl(c.handle ? o.*c.handle : device, c.code, c.in.empty() ? nullptr : c.in.data(),
                           static_cast<std::uint32_t>(c.in.size()), c.outSize ? out : nullptr, c.outSize),
        c.taken);
    refused += !c.taken;
    EXPECT_EQ(o.driver.Counters().controlsRefused, refused);
  }
  EXPECT_EQ(std::make_pair(o.driver.Counters().deviceControls, o.driver.Counters().pipeControls),
            std::make_pair(1, 1));
}

// A read whose buffer is shorter than the packet waiting fails, and the packet is lost.
TEST(EmulatedDriver, AReadShorterThanThePacketWaitingFailsAndLosesIt) {
  Opened o("success");
  o.driver.Inject(std::vector<unsigned char>(70, 0x11));  // a packet of 64 bytes, then one of 6
  unsigned char buffer[64] = {};
  std::uint32_t got = 99;
  EXPECT_FALSE(o.driver.Read(o.pipe1, buffer, 63, got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(o.driver.Read(o.pipe1, buffer, 64, got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(o.driver.Counters().readsOverrun, 1);
}
