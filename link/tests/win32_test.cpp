// The Win32 driver backend under Wine: a blocked read is cancelled through its thread and through
// its handle (on an anonymous pipe, since Wine passes no pipe below a device to a driver), and,
// against the stand-in of the maker's driver (tests/kdriver), the search through SetupAPI.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

#include "link/DriverPort.h"
#include "link/tests/WaitFor.h"
#include "tests/kdriver/DeckDriver.h"

TEST(Win32Driver, ABlockedReadIsCancelledByItsThreadAndByItsHandle) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  DriverCalls& calls = PlatformDriverCalls();
  const DriverHandle reading = reinterpret_cast<DriverHandle>(readEnd);
  const DriverHandle writing = reinterpret_cast<DriverHandle>(writeEnd);
  std::thread idle([] {});
  // A read on a thread of its own, cancelled every millisecond as the session does until it ends;
  // a byte written to the pipe releases one that is still blocked after 5 s.
  const std::function<void(std::thread&)> cancels[] = {
      [&](std::thread& reader) { calls.CancelIo(reader, kInvalidHandle); },
      [&](std::thread&) { calls.CancelIo(idle, reading); }};  // not the reader: what a driver needs
  for (const auto& cancel : cancels) {
    unsigned char buffer[16];
    std::uint32_t got = 99, written = 0;
    std::atomic<bool> ok{true}, left{false};
    std::thread reader([&] {
      ok = calls.Read(reading, buffer, sizeof buffer, got);
      left = true;
    });
    const bool cancelled = WaitFor([&] {
      cancel(reader);
      return left.load();
    });
    if (!cancelled) calls.Write(writing, buffer, 1, written);
    reader.join();
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(ok);
    EXPECT_EQ(got, 0u);
  }
  idle.join();
  const unsigned char reply[] = {0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01};
  std::uint32_t written = 0, got = 0;
  unsigned char buffer[16];
  EXPECT_TRUE(calls.Write(writing, reply, sizeof reply, written));
  EXPECT_TRUE(calls.Read(reading, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 6u);
  EXPECT_TRUE(calls.Close(reading));
  EXPECT_TRUE(calls.Close(writing));
}

// Installed for the scenario "backend": member 0 a stranger's device, 1 another product of the
// maker, 2 the deck, 3 the deck numbered 52 and not ready. Each member records every request that
// reaches it.
namespace {
std::string MemberPath(int member) {
  char path[80];
  std::snprintf(path, sizeof path, "\\\\?\\root#trevolindeck#%04d#{f37537e5-e0d8-4b21-91e3-aa592a7a7eba}",
                member);
  return path;
}

class Win32Deck : public ::testing::Test {
 protected:
  void SetUp() override { seen = Record().size(); }
  static std::vector<std::string> Record() {
    std::vector<std::string> lines;
    std::ifstream file(DECK_RECORD_PATH);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  // The requests since the test began, once there are as many as expected: Wine passes a close on
  // to the driver after CloseHandle has returned.
  std::vector<std::string> RecordSince(std::size_t expected) {
    std::vector<std::string> lines;
    WaitFor([&] { return (lines = Record()).size() >= seen + expected; });
    return std::vector<std::string>(lines.begin() + std::min(seen, lines.size()), lines.end());
  }
  // A line of the record for a request of this process.
  static std::string Line(const char* kind, int member, const char* rest = "") {
    return kind + (" " + std::to_string(member) + " " + std::to_string(GetCurrentProcessId())) + rest;
  }
  // Members `from` to `to` - 1 opened, asked for their device descriptor and closed, in turn.
  static std::vector<std::string> Refused(int from, int to) {
    std::vector<std::string> lines;
    for (int m = from; m < to; ++m)
      lines.insert(lines.end(), {Line("create", m), Line("ioctl", m, kDevice), Line("close", m)});
    return lines;
  }
  static constexpr const char* kDevice = " 220014 01000000";
  static constexpr const char* kConfig = " 220014 02000000";
  std::size_t seen = 0;
  DriverCalls& calls = PlatformDriverCalls();
  DriverPort port{calls};
};
}  // namespace

// The paths prove the detail call's size handshake and cbSize of this build by running.
TEST_F(Win32Deck, ListsEachMemberAndFindsTheDeckBehindOtherDevicesAndClosesThem) {
  std::string path;
  for (int member = 0; member < 4; ++member) {
    ASSERT_TRUE(calls.InterfacePath(member, path)) << member;
    EXPECT_EQ(path, MemberPath(member));
  }
  EXPECT_FALSE(calls.InterfacePath(4, path));
  EXPECT_EQ(path, MemberPath(3));
  EXPECT_EQ(calls.Open(nullptr), kInvalidHandle);
  DriverHandle deck = kInvalidHandle;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, 3, deck, path));
  EXPECT_EQ(path, MemberPath(2));
  EXPECT_EQ(port.HandleState(deck), 2);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 0), 64);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 1), 512);
  EXPECT_TRUE(port.ReleaseHandle(deck));
  // Listing opens nothing. The deck's descriptor, its ready state, and the configuration's head
  // and whole block for each endpoint.
  std::vector<std::string> expected = Refused(0, 2);
  expected.insert(expected.end(), {Line("create", 2), Line("ioctl", 2, kDevice), Line("ioctl", 2, " 220018"),
                                   Line("ioctl", 2, kConfig), Line("ioctl", 2, kConfig),
                                   Line("ioctl", 2, kConfig), Line("ioctl", 2, kConfig), Line("close", 2)});
  EXPECT_EQ(RecordSince(expected.size()), expected);
}

TEST_F(Win32Deck, ReportsADeckThatIsNotReadyAndClosesEveryMemberWhenNoneMatches) {
  DriverHandle deck = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 52, 3, deck, path));
  EXPECT_EQ(path, MemberPath(3));
  EXPECT_EQ(port.HandleState(deck), 1);
  EXPECT_TRUE(port.ReleaseHandle(deck));
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 0x0777, 3, deck, path));
  std::vector<std::string> expected = Refused(0, 3);
  expected.insert(expected.end(), {Line("create", 3), Line("ioctl", 3, kDevice), Line("ioctl", 3, " 220018"),
                                   Line("close", 3)});
  const std::vector<std::string> noneMatched = Refused(0, 4);
  expected.insert(expected.end(), noneMatched.begin(), noneMatched.end());
  EXPECT_EQ(RecordSince(expected.size()), expected);
}

// Installed for "beyond-cap": 129 other products of the maker, then the deck as member 129.
TEST_F(Win32Deck, CapStopsTheSearchAfter129Members) {
  std::string path;
  ASSERT_TRUE(calls.InterfacePath(129, path)) << "the deck is listed";
  DriverHandle deck = kInvalidHandle;
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 142, 3, deck, path));
  const std::vector<std::string> expected = Refused(0, 129);
  EXPECT_EQ(RecordSince(expected.size()), expected) << "members 0 to 128 opened and closed, 129 never";
}
