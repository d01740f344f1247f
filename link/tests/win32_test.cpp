// The Win32 driver backend under Wine, where no interface of the maker's class exists: the search
// finds nothing for real, the session takes its no-deck path, and a blocked read is cancelled
// through its thread and through its handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "link/DriverPort.h"
#include "link/LinkSession.h"
#include "link/tests/WaitFor.h"
#include "tests/kdriver/DeckDriver.h"

TEST(Win32Driver, FindsNoInterfaceOfTheMakersClass) {
  DriverCalls& calls = PlatformDriverCalls();
  std::string path = "untouched";
  EXPECT_FALSE(calls.InterfacePath(0, path));
  EXPECT_FALSE(calls.InterfacePath(1, path));
  EXPECT_EQ(path, "untouched");

  DriverPort port(calls);
  DriverHandle h = kInvalidHandle;
  for (std::uint16_t product : {142, 52}) {
    EXPECT_FALSE(port.FindDevice(kMakerVendorId, product, 3, h, path));
    EXPECT_EQ(h, kInvalidHandle);
  }
  EXPECT_EQ(calls.Open("\\\\?\\usb#vid_31d4&pid_008e#none\\if000pipe001"), kInvalidHandle);
  EXPECT_EQ(calls.Open(nullptr), kInvalidHandle);
  EXPECT_EQ(port.HandleState(kInvalidHandle), 0);
}

TEST(Win32Driver, TheSessionTakesItsNoDeckPath) {
  LinkSession session(PlatformDriverCalls());
  ASSERT_TRUE(WaitFor([&] { return session.State() == LinkSession::kOpenFailed; }));
  EXPECT_EQ(session.CheckLinkOpen(), -1);
  ASSERT_TRUE(WaitFor([&] { return !session.WorkerRunning(); }));
  const unsigned char command[] = {0x00, 0x60, 0xC0, 0x6A};
  session.SendBytes(command, 4);
  EXPECT_EQ(session.Log().Snapshot(),
            (std::vector<std::string>{"USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。",
                                      "USBはOPENしていません。"}));
  session.Reset();
  EXPECT_EQ(session.CheckLinkOpen(), -1);
  // The new worker's search logs its line too, within the repeat's wait or, under a slow Wine,
  // after it.
  ASSERT_TRUE(WaitFor([&] { return session.Log().Snapshot().size() >= 6u; }));
  const std::vector<std::string> log = session.Log().Snapshot();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[3], "INTERFACE / PIPE の設定をリセットしました。");
  EXPECT_EQ(
      std::multiset<std::string>(log.begin() + 4, log.end()),
      (std::multiset<std::string>{"USB OPEN出来ませんでした。", "ドライバオープンエラーが発生しました。"}));
}

namespace {
struct ReadEnd {
  bool left;  // the read ended before the limit
  bool ok;
  std::uint32_t got;
};

// Starts a read of `reading` on a thread of its own and calls `cancel` every millisecond, as the
// session does, until the read ends or 5 s have passed; then a byte written to the pipe releases a
// read that is still blocked, so the thread can always be joined.
ReadEnd CancelABlockedRead(DriverCalls& calls, DriverHandle reading, DriverHandle writing,
                           const std::function<void(std::thread& reader)>& cancel) {
  unsigned char buffer[16] = {};
  ReadEnd end{false, true, 99};
  std::atomic<bool> left{false};
  std::thread reader([&] {
    end.ok = calls.Read(reading, buffer, sizeof buffer, end.got);
    left.store(true);
  });
  const auto start = std::chrono::steady_clock::now();
  while (!left.load() && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    cancel(reader);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  end.left = left.load();
  if (!end.left) {
    const unsigned char one = 0;
    std::uint32_t written = 0;
    calls.Write(writing, &one, 1, written);
  }
  reader.join();
  return end;
}
}  // namespace

TEST(Win32Driver, ABlockedReadIsCancelledByItsThreadAndByItsHandle) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  DriverCalls& calls = PlatformDriverCalls();
  const DriverHandle reading = reinterpret_cast<DriverHandle>(readEnd);
  const DriverHandle writing = reinterpret_cast<DriverHandle>(writeEnd);

  unsigned char buffer[16] = {};
  std::uint32_t got = 99;
  bool ok = false;
  std::thread first([&] { ok = calls.Read(reading, buffer, sizeof buffer, got); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const unsigned char reply[] = {0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01};
  std::uint32_t written = 0;
  EXPECT_TRUE(calls.Write(writing, reply, sizeof reply, written));
  EXPECT_EQ(written, 6u);
  first.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(got, 6u);

  // By the reader's thread alone.
  ReadEnd end = CancelABlockedRead(calls, reading, writing,
                                   [&](std::thread& reader) { calls.CancelIo(reader, kInvalidHandle); });
  EXPECT_TRUE(end.left) << "the read was not cancelled through its thread";
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.got, 0u);

  // By the handle, with a thread named that is not the reader: what reaches a read that a driver
  // leaves pending after a cancel by thread.
  std::thread idle([] {});
  end = CancelABlockedRead(calls, reading, writing, [&](std::thread&) { calls.CancelIo(idle, reading); });
  idle.join();
  EXPECT_TRUE(end.left) << "the read was not cancelled through its handle";
  EXPECT_FALSE(end.ok);
  EXPECT_EQ(end.got, 0u);

  EXPECT_TRUE(calls.Close(reading));
  EXPECT_TRUE(calls.Close(writing));
}

// Against the stand-in of the maker's driver (tests/kdriver), installed for the scenario
// "backend": member 0 a stranger's device, 1 another product of the maker, 2 the deck, 3 the deck
// numbered 52 and not ready. Each member records every request that reaches it.
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

  // The requests since the test began, once there are as many as expected: Wine passes a close
  // on to the driver after CloseHandle has returned.
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
TEST_F(Win32Deck, ListsEachMemberByItsPathAndEndsTheList) {
  std::string path;
  for (int member = 0; member < 4; ++member) {
    ASSERT_TRUE(calls.InterfacePath(member, path)) << member;
    EXPECT_EQ(path, MemberPath(member));
  }
  EXPECT_FALSE(calls.InterfacePath(4, path));
  EXPECT_EQ(path, MemberPath(3));
  EXPECT_EQ(RecordSince(0), std::vector<std::string>{}) << "listing opens nothing";
}

TEST_F(Win32Deck, FindsTheDeckBehindOtherDevicesAndClosesThem) {
  DriverHandle deck = kInvalidHandle;
  std::string path;
  ASSERT_TRUE(port.FindDevice(kMakerVendorId, 142, 3, deck, path));
  EXPECT_EQ(path, MemberPath(2));
  EXPECT_EQ(port.HandleState(deck), 2);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 0), 64);
  EXPECT_EQ(port.GetMaxPacketSize(deck, 0, 1), 512);
  EXPECT_TRUE(port.ReleaseHandle(deck));

  // Another vendor's device and another product of the maker, then the deck: its descriptor, its
  // ready state, and the configuration's head and whole block for each endpoint.
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

  DriverHandle none = kInvalidHandle;
  path = "untouched";
  EXPECT_FALSE(port.FindDevice(kMakerVendorId, 0x0777, 3, none, path));
  EXPECT_EQ(none, kInvalidHandle);
  EXPECT_EQ(path, "untouched");

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
  EXPECT_EQ(deck, kInvalidHandle);
  const std::vector<std::string> expected = Refused(0, 129);
  EXPECT_EQ(RecordSince(expected.size()), expected) << "members 0 to 128 opened and closed, 129 never";
}
