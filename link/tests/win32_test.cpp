// The Win32 driver backend under Wine, where no interface of the maker's class exists: the search
// finds nothing for real, the session takes its no-deck path, and a blocked read is cancelled
// through its thread and through its handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "link/DriverPort.h"
#include "link/LinkSession.h"
#include "link/tests/WaitFor.h"

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
