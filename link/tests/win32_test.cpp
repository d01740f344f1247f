// The Win32 driver backend under Wine, where no interface of the maker's class exists: the search
// finds nothing for real, the session takes its no-deck path, and a blocked read is cancelled.
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

TEST(Win32Driver, ABlockedReadIsCancelledAndHandlesClose) {
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

  std::atomic<bool> left{false};
  std::thread blocked([&] {
    ok = calls.Read(reading, buffer, sizeof buffer, got);
    left.store(true);
  });
  // Repeated, as the session does, until the reader has left its read.
  const auto start = std::chrono::steady_clock::now();
  while (!left.load() && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    calls.CancelRead(blocked, reading);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool cancelled = left.load();
  if (!cancelled) CloseHandle(writeEnd);  // ends the read some other way, so the thread can be joined
  blocked.join();
  ASSERT_TRUE(cancelled) << "the blocked read was not cancelled";
  EXPECT_FALSE(ok);
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(calls.Close(reading));
  EXPECT_TRUE(calls.Close(writing));
}
