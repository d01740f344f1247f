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
    if (e.text.find(part) != std::string::npos) return true;
  return false;
}

// A deck of the scenario and a port that has searched it for product 142 of the maker.
struct Searched {
  explicit Searched(const Scenario& s) : deck(s), port(deck.Driver()) {
    found = port.FindDevice(kMakerVendorId, 142, kBoth, device, path);
  }
  EmulatedDeck deck;
  DriverPort port;
  DriverHandle device = kInvalidHandle;
  std::string path = "before";
  bool found = false;
};

struct SearchCase {
  const char* scenario;
  int opened;
};
}  // namespace

TEST(DriverPortSearch, FindsTheDeckPastAStrangerAndHandsOverItsHandleAndPath) {
  for (const SearchCase& c : {SearchCase{"success", 1}, SearchCase{"stranger-first", 2}}) {
    SCOPED_TRACE(c.scenario);
    Searched s(Named(c.scenario));
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.path, s.deck.Driver().DevicePath());
    EXPECT_EQ(s.deck.Driver().Counters().opened, c.opened);
    EXPECT_EQ(s.deck.Driver().OpenHandles(), 1);  // a stranger was closed again
    EXPECT_TRUE(s.port.ReleaseHandle(s.device));
    EXPECT_EQ(s.deck.Driver().OpenHandles(), 0);
    EXPECT_FALSE(s.port.ReleaseHandle(s.device));  // the deck tells a second close apart
    EXPECT_EQ(s.deck.Driver().Counters().badCloses, 1);
  }
}

TEST(DriverPortSearch, AMismatchOrNoInterfaceLeavesTheCallersHandleAloneAndNothingOpen) {
  for (const SearchCase& c : {SearchCase{"product-52", 1}, SearchCase{"other-vendor", 1},
                              SearchCase{"other-product", 1}, SearchCase{"absent", 0}}) {
    SCOPED_TRACE(c.scenario);
    Searched s(Named(c.scenario));
    EXPECT_FALSE(s.found);
    EXPECT_EQ(s.device, kInvalidHandle);
    EXPECT_EQ(s.path, "before");
    EXPECT_EQ(s.deck.Driver().Counters().opened, c.opened);
    EXPECT_EQ(s.deck.Driver().Counters().refusedOpens, 0);
    EXPECT_EQ(s.deck.Driver().OpenHandles(), 0);
  }
  // With no flags the first interface whose descriptor reads is taken.
  Searched s(Named("other-vendor"));
  EXPECT_TRUE(s.port.FindDevice(0, 0, 0, s.device, s.path));
  EXPECT_TRUE(s.port.FindDevice(0, 142, DriverPort::kMatchProduct, s.device, s.path));
}

TEST(DriverPortPipes, OpensBothPipesAndReadsTheirPacketSizes) {
  Searched s(Named("small-packets", [](Scenario& x) { x.packetSize1 = 0x0140; }));
  ASSERT_TRUE(s.found);
  DriverPort& port = s.port;
  const DriverHandle write = port.OpenPipe(s.path, 0, 0);
  const DriverHandle read = port.OpenPipe(s.path, 0, 1);
  ASSERT_NE(write, kInvalidHandle);
  ASSERT_NE(read, kInvalidHandle);
  EXPECT_EQ(port.GetMaxPacketSize(write, 0, 0), 8);
  EXPECT_EQ(port.GetMaxPacketSize(read, 0, 1), 0x0140);
  EXPECT_EQ(port.GetMaxPacketSize(kInvalidHandle, 0, 0), 0);
  EXPECT_EQ(port.OpenPipe(s.path, 0, 2), kInvalidHandle);  // the driver serves pipes 0 and 1 only
  for (DriverHandle h : {s.device, write, read}) EXPECT_TRUE(port.ReleaseHandle(h));
  EXPECT_EQ(s.deck.Driver().OpenHandles(), 0);
}

TEST(DriverPortPipes, ADevicePathTooLongForThePipePathIsNeverOpened) {
  Searched tooLong(Named("long-device-path"));
  ASSERT_TRUE(tooLong.found);
  EXPECT_EQ(tooLong.path.size(), 347u);
  EXPECT_EQ(tooLong.port.OpenPipe(tooLong.path, 0, 0), kInvalidHandle);
  EXPECT_EQ(tooLong.deck.Driver().Counters().opened, 1);  // the device only: the pipe was not attempted
  EXPECT_EQ(tooLong.deck.Driver().Counters().refusedOpens, 0);
  tooLong.port.ReleaseHandle(tooLong.device);

  Searched fits(Named("success", [](Scenario& x) { x.devicePathLength = 346; }));
  ASSERT_TRUE(fits.found);
  const DriverHandle pipe = fits.port.OpenPipe(fits.path, 0, 1);
  EXPECT_NE(pipe, kInvalidHandle);
  fits.port.ReleaseHandle(pipe);
  fits.port.ReleaseHandle(fits.device);
}

TEST(DriverPortState, ReadyNotReadyAndInvalid) {
  Searched s(Named("success"));
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.port.HandleState(kInvalidHandle), 0);
  EXPECT_FALSE(Noted(s.deck, "control"));  // no driver request for an invalid handle
  EXPECT_EQ(s.port.HandleState(s.device), 2);
  s.deck.Driver().Unplug();
  EXPECT_EQ(s.port.HandleState(s.device), 1);
  s.port.ReleaseHandle(s.device);

  Searched sleepy(Named("not-ready"));
  ASSERT_TRUE(sleepy.found);
  EXPECT_EQ(sleepy.port.HandleState(sleepy.device), 1);
  sleepy.port.ReleaseHandle(sleepy.device);
}

TEST(DriverPortIo, WritesTheBytesOfTheHexText) {
  // How each character pair converts is the codec's (HexText.NibblesAndPairs); here, that what
  // it gives is written, once per call.
  Searched s(Named("success"));
  ASSERT_TRUE(s.found);
  const DriverHandle write = s.port.OpenPipe(s.path, 0, 0);
  EXPECT_TRUE(s.port.WriteHex(write, "0A1b", 4));
  EXPECT_TRUE(s.port.WriteHex(write, "ABC", 3));
  EXPECT_TRUE(s.port.WriteHex(write, "0", 1));  // still one write, of no bytes
  EXPECT_TRUE(s.port.WriteHex(write, "", 0));
  EXPECT_FALSE(s.port.WriteHex(s.device, "0212AB", 6));  // the device handle is no pipe
  EXPECT_EQ(HexFrames(s.deck.Driver().FramesReceived()), (std::vector<std::string>{"0A 1B", "AB", "", ""}));
  EXPECT_TRUE(s.port.DeviceControl(s.device));
  EXPECT_EQ(s.deck.Driver().Counters().deviceControls, 1);
  s.port.ReleaseHandle(write);
  s.port.ReleaseHandle(s.device);
}

TEST(DriverPortIo, ReadBlocksUntilAReply) {
  Searched s(Named("success"));
  ASSERT_TRUE(s.found);
  EmulatedDeck& deck = s.deck;
  DriverPort& port = s.port;
  const DriverHandle read = port.OpenPipe(s.path, 0, 1);

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

  port.ReleaseHandle(read);
  port.ReleaseHandle(s.device);
}
