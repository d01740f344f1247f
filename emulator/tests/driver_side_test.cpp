// The emulated deck's driver side where the link tests cannot see it: it is as strict as a real
// driver. It answers nothing it should not take, closing a handle does not end a read blocked on it,
// and a scenario may ignore every cancel or take no write.
#include "emulator/DriverSide.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "emulator/EmulatedDeck.h"
#include "link/tests/DeckFixture.h"

namespace {
// A deck with both pipes open, as the link opens them.
struct Opened {
  explicit Opened(const char* scenario) : deck(*FindScenario(scenario)), driver(deck.Driver()) {}
  bool Send(std::vector<unsigned char> frame) {
    std::uint32_t written = 0;
    return driver.Write(pipe0, frame.data(), static_cast<std::uint32_t>(frame.size()), written);
  }
  // A read of pipe 1, or a write of the power-on request, on a thread of its own that is blocked in
  // it when this returns; `left` is set should the call ever return.
  std::thread Blocked(bool read = true) {
    std::thread t([this, read] {
      unsigned char buffer[64] = {kPowerOn[0], kPowerOn[1], kPowerOn[2]};
      std::uint32_t got = 0;
      read ? driver.Read(pipe1, buffer, sizeof buffer, got) : driver.Write(pipe0, buffer, 3, got);
      left = true;
    });
    EXPECT_TRUE(WaitFor([&] { return (read ? driver.BlockedReads() : driver.BlockedWrites()) == 1; }));
    return t;
  }
  EmulatedDeck deck;
  DriverSide& driver;
  DriverHandle pipe0 = driver.Open((driver.DevicePath() + "\\if000pipe000").c_str());
  DriverHandle pipe1 = driver.Open((driver.DevicePath() + "\\if000pipe001").c_str());
  std::atomic<bool> left{false};
};
}  // namespace

TEST(DeckDriver, AnswersNoCommandBeforeThePowerOnAndNoFrameWhoseCountIsWrong) {
  Opened o("success");
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A});  // before the power-on
  o.Send({kPowerOn[0], kPowerOn[1], kPowerOn[2]});
  o.Send({0x05, 0x00, 0x60, 0xB0, 0xCA});  // the count says 5, 4 follow
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6B});  // no such command
  o.Send({0x04, 0x00, 0x60, 0xC0, 0x6A});
  EXPECT_EQ(o.driver.Counters().ignoredFrames, 3);
  EXPECT_EQ(o.driver.RepliesQueued().size(), 2u);  // the power-on's answer and the model
}

TEST(DeckDriver, OnlyACancelOrTheCableEndsABlockedReadNotAClose) {
  Opened o("success");
  std::thread reader = o.Blocked();
  EXPECT_TRUE(o.driver.Close(o.pipe1));
  std::thread other([] {});
  o.driver.CancelIo(other, o.pipe0);  // neither the reader nor its handle
  other.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(o.left) << "the close or a cancel of another ended the read";
  o.driver.CancelIo(reader, kInvalidHandle);
  reader.join();
  EXPECT_EQ(o.driver.Counters().readsCancelled, 1);
  EXPECT_FALSE(o.driver.Close(o.pipe1));  // a handle closed already, as a real driver refuses it
  EXPECT_EQ(o.driver.Counters().badCloses, 1);
}

TEST(DeckDriver, CancelIgnoredLeavesAReadBlockedUntilItsThreadIsEndedOrTheCableIsPulled) {
  Opened o("cancel-ignored");
  std::thread ended = o.Blocked();
  o.driver.CancelIo(ended, o.pipe1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(o.driver.BlockedReads(), 1);
  EXPECT_EQ(o.driver.Counters().cancelsIgnored, 1);
  o.driver.EndThread(ended);
  EXPECT_FALSE(ended.joinable());
  EXPECT_TRUE(WaitFor([&] { return o.driver.Counters().threadsEnded == 1; }));
  EXPECT_FALSE(o.left);
  std::thread unplugged = o.Blocked();
  o.driver.Unplug();
  unplugged.join();
  EXPECT_EQ(o.driver.Counters().readsCancelled, 0);
}

TEST(DeckDriver, WriteStallsTakesNothingAndBlocksEachWriteUntilItIsCancelled) {
  Opened o("write-stalls");
  std::thread writer = o.Blocked(false);
  o.driver.CancelIo(writer, o.pipe0);
  writer.join();
  EXPECT_EQ(o.driver.Counters().writesCancelled, 1);
  EXPECT_TRUE(o.driver.FramesReceived().empty());
}
