// The Win32 driver backend under Wine: a blocked read is cancelled through its thread and through
// its handle (on an anonymous pipe, since Wine passes no pipe below a device to a driver), and,
// against the kernel stand-in (tests/kernel_standin), the search through SetupAPI.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <thread>

#include "link/DriverPort.h"
#include "tests/kernel_standin/KernelStandin.h"
#include "tests/support/DeckFixture.h"

TEST(Win32Driver, ABlockedReadIsCancelledByItsThreadAndByItsHandle) {
  HANDLE ends[2];
  ASSERT_TRUE(CreatePipe(&ends[0], &ends[1], nullptr, 0));
  const DriverHandle reading = reinterpret_cast<DriverHandle>(ends[0]),
                     writing = reinterpret_cast<DriverHandle>(ends[1]);
  DriverCalls& calls = PlatformDriverCalls();
  unsigned char buffer[16] = {0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01};
  std::uint32_t got = 0, written = 0;
  EXPECT_TRUE(calls.Write(writing, buffer, 6, written));
  EXPECT_TRUE(calls.Read(reading, buffer, sizeof buffer, got));
  EXPECT_EQ(got, 6u);
  // A read on a thread of its own, cancelled every millisecond as the session does until it ends: by
  // the reader's thread, and by the handle with another thread named. A byte written to the pipe
  // releases a read still blocked after 5 s.
  std::thread idle([] {});
  for (bool byThread : {true, false}) {
    std::atomic<bool> ok{true}, left{false};
    std::thread reader([&] {
      ok = calls.Read(reading, buffer, sizeof buffer, got);
      left = true;
    });
    const bool cancelled = WaitFor([&] {
      byThread ? calls.CancelIo(reader, kInvalidHandle) : calls.CancelIo(idle, reading);
      return left.load();
    });
    if (!cancelled) calls.Write(writing, buffer, 1, written);
    reader.join();
    EXPECT_TRUE(cancelled && !ok) << (byThread ? "by its thread" : "by its handle");
    EXPECT_EQ(got, 0u);
  }
  idle.join();
  EXPECT_TRUE(calls.Close(reading) && calls.Close(writing));
}

// Against the kernel stand-in, installed for the scenario "backend": member 0 a stranger's device,
// 1 another product of the maker, 2 the deck, 3 the deck numbered 52 and not ready; or for
// "beyond-cap": 129 other products of the maker, then the deck. Each member records every request
// that reaches it.
namespace {

class Win32Deck : public ::testing::Test {
 protected:
  void SetUp() override { seen = Record().size(); }
  static Lines Record() {
    Lines lines;
    std::ifstream file(STANDIN_RECORD_PATH);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  // The requests since the test began, once there are as many as expected: Wine passes a close on
  // to the driver after CloseHandle has returned.
  Lines RecordSince(const Lines& expected) {
    Lines lines;
    WaitFor([&] { return (lines = Record()).size() >= seen + expected.size(); });
    return Lines(lines.begin() + std::min(seen, lines.size()), lines.end());
  }
  // This process's requests to a member, in turn: "create", "close", or an I/O control's code and input.
  static Lines Asked(int member, std::initializer_list<std::string> requests, Lines lines = {}) {
    const std::string who = " " + std::to_string(member) + " " + std::to_string(GetCurrentProcessId());
    for (const std::string& r : requests)
      lines.push_back(std::isdigit(r[0]) ? "ioctl" + who + " " + r : r + who);
    return lines;
  }
  // Members `from` to `to` - 1 opened, asked for their device descriptor and closed, in turn.
  static Lines Refused(int from, int to, Lines lines = {}) {
    for (int m = from; m < to; ++m) lines = Asked(m, {"create", kDevice, "close"}, lines);
    return lines;
  }
  static std::string MemberPath(int member) {
    return "\\\\?\\root#kernelstandin#000" + std::to_string(member) +
           "#{f37537e5-e0d8-4b21-91e3-aa592a7a7eba}";
  }
  static constexpr const char* kDevice = "220014 01000000";
  static constexpr const char* kConfig = "220014 02000000";
  std::size_t seen = 0;
  DriverCalls& calls = PlatformDriverCalls();
  DriverPort port{calls};
  DriverHandle deck = kInvalidHandle;
  std::string path;
};
}  // namespace

// The paths prove the detail call's size handshake and cbSize of this build by running.
TEST_F(Win32Deck, ListsEachMemberFindsTheDeckBehindOtherDevicesAndClosesEveryOtherMember) {
  for (int member = 0; member < 4; ++member) {
    ASSERT_TRUE(calls.InterfacePath(member, path)) << member;
    EXPECT_EQ(path, MemberPath(member));
  }
  EXPECT_FALSE(calls.InterfacePath(4, path));
  EXPECT_EQ(path, MemberPath(3));
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, 3, deck, path));
  EXPECT_EQ(port.HandleState(deck), 2);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 0), 64);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 1), 512);
  EXPECT_TRUE(port.ReleaseHandle(deck));
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 52, 3, deck, path));
  EXPECT_EQ(port.HandleState(deck), 1);
  EXPECT_TRUE(port.ReleaseHandle(deck));
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 0x0777, 3, deck, path));
  // Listing opens nothing. The deck's descriptor, its ready state, and the configuration's head and
  // whole block for each endpoint; the deck numbered 52; then every member, none matching.
  Lines expected =
      Asked(2, {"create", kDevice, "220018", kConfig, kConfig, kConfig, kConfig, "close"}, Refused(0, 2));
  expected = Refused(0, 4, Asked(3, {"create", kDevice, "220018", "close"}, Refused(0, 3, expected)));
  EXPECT_EQ(RecordSince(expected), expected);
}

TEST_F(Win32Deck, CapStopsTheSearchAfter129Members) {
  ASSERT_TRUE(calls.InterfacePath(129, path)) << "the deck is listed";
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 142, 3, deck, path));
  const Lines expected = Refused(0, 129);
  EXPECT_EQ(RecordSince(expected), expected) << "members 0 to 128 opened and closed, 129 never";
}
