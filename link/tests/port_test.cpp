// DriverPort against the emulated deck: the search, the pipes, the descriptors, the ready state
// and raw reads and writes, checked by what the deck saw.
#include "link/DriverPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/tests/DeckFixture.h"

namespace {
constexpr int kBoth = DriverPort::kMatchVendor | DriverPort::kMatchProduct;

bool Noted(EmulatedDeck& deck, const std::string& part) {
  for (const DeckEvent& e : deck.events.All())
    if (e.what.find(part) != std::string::npos) return true;
  return false;
}
}  // namespace

TEST(DriverPortSearch, FindsTheDeckAndHandsOverItsHandleAndPath) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  DriverHandle h = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, h, path));
  EXPECT_NE(h, kInvalidHandle);
  EXPECT_EQ(path, deck.Driver().DevicePath());
  EXPECT_EQ(deck.Driver().OpenHandles(), 1);
  EXPECT_TRUE(port.ReleaseHandle(h));
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  EXPECT_FALSE(port.ReleaseHandle(h));  // the deck tells a second close apart
  EXPECT_EQ(deck.Driver().Counters().badCloses, 1);
}

TEST(DriverPortSearch, AMismatchIsClosedAgainAndLeavesTheCallersHandleAlone) {
  for (const char* name : {"product-52", "other-vendor", "other-product"}) {
    SCOPED_TRACE(name);
    EmulatedDeck deck(Named(name));
    DriverPort port(deck.Driver());
    DriverHandle h = kInvalidHandle;
    std::string path = "before";
    EXPECT_FALSE(port.FindDevice(kMakerVendorId, 142, kBoth, h, path));
    EXPECT_EQ(h, kInvalidHandle);
    EXPECT_EQ(path, "before");
    EXPECT_EQ(deck.Driver().Counters().opened, 1);
    EXPECT_EQ(deck.Driver().OpenHandles(), 0);
  }
  // With no flags the first interface whose descriptor reads is taken.
  EmulatedDeck deck(Named("other-vendor"));
  DriverPort port(deck.Driver());
  DriverHandle h = kInvalidHandle;
  std::string path;
  EXPECT_TRUE(port.FindDevice(0, 0, 0, h, path));
  EXPECT_TRUE(port.FindDevice(0, 142, DriverPort::kMatchProduct, h, path));
}

TEST(DriverPortSearch, GoesOnPastAnotherDeviceOfTheClass) {
  EmulatedDeck deck(Named("stranger-first"));
  DriverPort port(deck.Driver());
  DriverHandle h = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, h, path));
  EXPECT_EQ(path, deck.Driver().DevicePath());
  EXPECT_EQ(deck.Driver().Counters().opened, 2);
  EXPECT_EQ(deck.Driver().OpenHandles(), 1);  // the stranger was closed again
}

TEST(DriverPortSearch, NoInterfaceMeansNotFoundWithoutAnyOpen) {
  EmulatedDeck deck(Named("absent"));
  DriverPort port(deck.Driver());
  DriverHandle h = kInvalidHandle;
  std::string path;
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 142, kBoth, h, path));
  EXPECT_EQ(h, kInvalidHandle);
  EXPECT_EQ(deck.Driver().Counters().opened + deck.Driver().Counters().refusedOpens, 0);
}

TEST(DriverPortPipes, OpensBothPipesAndReadsTheirPacketSizes) {
  EmulatedDeck deck(Named("small-packets", [](Scenario& s) { s.packetSize1 = 0x0140; }));
  DriverPort port(deck.Driver());
  DriverHandle device = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  const DriverHandle write = port.OpenPipe(path, 0, 0);
  const DriverHandle read = port.OpenPipe(path, 0, 1);
  ASSERT_NE(write, kInvalidHandle);
  ASSERT_NE(read, kInvalidHandle);
  EXPECT_EQ(port.GetMaxPacketSize(write, 0, 0), 8);
  EXPECT_EQ(port.GetMaxPacketSize(read, 0, 1), 0x0140);
  EXPECT_EQ(port.GetMaxPacketSize(read, 0, 2), 0);
  EXPECT_EQ(port.GetMaxPacketSize(read, 1, 0), 0);
  EXPECT_EQ(port.GetMaxPacketSize(kInvalidHandle, 0, 0), 0);
  EXPECT_EQ(port.OpenPipe(path, 0, 2), kInvalidHandle);  // the driver serves pipes 0 and 1 only
  for (DriverHandle h : {device, write, read}) EXPECT_TRUE(port.ReleaseHandle(h));
  EXPECT_EQ(deck.Driver().OpenHandles(), 0);
}

TEST(DriverPortPipes, ADevicePathTooLongForThePipePathIsNeverOpened) {
  EmulatedDeck deck(Named("long-device-path"));
  DriverPort port(deck.Driver());
  DriverHandle device = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  EXPECT_EQ(path.size(), 347u);
  EXPECT_EQ(port.OpenPipe(path, 0, 0), kInvalidHandle);
  EXPECT_EQ(deck.Driver().Counters().opened, 1);  // the device only: the pipe was not attempted
  EXPECT_EQ(deck.Driver().Counters().refusedOpens, 0);
  port.ReleaseHandle(device);

  EmulatedDeck fits(Named("success", [](Scenario& s) { s.devicePathLength = 346; }));
  DriverPort other(fits.Driver());
  ASSERT_TRUE(other.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  const DriverHandle pipe = other.OpenPipe(path, 0, 1);
  EXPECT_NE(pipe, kInvalidHandle);
  other.ReleaseHandle(pipe);
  other.ReleaseHandle(device);
}

TEST(DriverPortState, ReadyNotReadyAndInvalid) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  EXPECT_EQ(port.HandleState(kInvalidHandle), 0);
  EXPECT_FALSE(Noted(deck, "control"));  // no driver request for an invalid handle
  DriverHandle device = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  EXPECT_EQ(port.HandleState(device), 2);
  deck.Driver().Unplug();
  EXPECT_EQ(port.HandleState(device), 1);
  port.ReleaseHandle(device);

  EmulatedDeck sleepy(Named("not-ready"));
  DriverPort other(sleepy.Driver());
  ASSERT_TRUE(other.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  EXPECT_EQ(other.HandleState(device), 1);
  other.ReleaseHandle(device);
}

TEST(DriverPortIo, WritesTheBytesOfTheHexText) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  DriverHandle device = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  const DriverHandle write = port.OpenPipe(path, 0, 0);
  EXPECT_TRUE(port.WriteHex(write, "0A1b", 4));
  EXPECT_TRUE(port.WriteHex(write, "G1", 2));
  EXPECT_TRUE(port.WriteHex(write, "1G", 2));
  EXPECT_TRUE(port.WriteHex(write, "ABC", 3));
  EXPECT_TRUE(port.WriteHex(write, "0", 1));  // still one write, of no bytes
  EXPECT_TRUE(port.WriteHex(write, "", 0));
  EXPECT_FALSE(port.WriteHex(device, "0212AB", 6));  // the device handle is no pipe
  EXPECT_EQ(HexFrames(deck.Driver().FramesReceived()),
            (std::vector<std::string>{"0A 1B", "F1", "FF", "AB", "", ""}));
  EXPECT_TRUE(port.DeviceControl(device));
  EXPECT_EQ(deck.Driver().Counters().deviceControls, 1);
  port.ReleaseHandle(write);
  port.ReleaseHandle(device);
}

TEST(DriverPortIo, ReadBlocksUntilAReplyAndACancelEndsIt) {
  EmulatedDeck deck(Named("success"));
  DriverPort port(deck.Driver());
  DriverHandle device = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, kBoth, device, path));
  const DriverHandle read = port.OpenPipe(path, 0, 1);

  unsigned char buffer[64] = {};
  int got = -1;
  bool ok = false;
  std::thread reader([&] { ok = port.ReadPipe(read, buffer, sizeof buffer, got); });
  // No ASSERT while a thread is joinable: the reply is queued whether or not the read has begun,
  // so the reader always comes back.
  EXPECT_TRUE(WaitForReading(deck));
  deck.Driver().Inject({0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01}, 5);
  reader.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(got, 6);
  EXPECT_EQ(Hex({buffer, buffer + 6}), "05 00 12 B8 CA 01");

  std::atomic<bool> left{false};
  std::thread blocked([&] {
    ok = port.ReadPipe(read, buffer, sizeof buffer, got);
    left.store(true);
  });
  const bool wasBlocked = WaitForReading(deck);
  EXPECT_TRUE(wasBlocked);
  if (wasBlocked) port.CancelRead(blocked, read);
  // Should the cancel not end the read, pulling the cable does, so the thread can be joined.
  const bool cancelled = WaitFor([&] { return left.load(); }, 2000);
  if (!cancelled) deck.Driver().Unplug();
  blocked.join();
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(ok);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(deck.Driver().Counters().readsCancelled, 1);
  port.ReleaseHandle(read);
  port.ReleaseHandle(device);
}
