#include "link/Clock.h"

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace {
class SteadyClock final : public Clock {
 public:
  double NowMs() override {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void SleepMs(double ms) override {
    if (ms <= 0) return;
#ifdef _WIN32
    // Sleep takes whole milliseconds: a pause rounded up to the next one would overshoot each of the
    // check's 700 steps and the transfer's 1,024 pauses by half a millisecond on average. The
    // system's own delay takes tenths of microseconds, and keeps to them where the system's timer
    // does (Wine); elsewhere it ends on the timer's tick, as Sleep does. The C++ library's sleep
    // would wait on an event, a server round trip under Wine.
    static const auto delay = reinterpret_cast<LONG(WINAPI*)(BOOLEAN, LARGE_INTEGER*)>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDelayExecution")));
    if (delay) {
      LARGE_INTEGER interval;
      interval.QuadPart = -static_cast<LONGLONG>(ms * 10000);  // relative, in 100 ns
      delay(FALSE, &interval);
    } else {
      ::Sleep(static_cast<DWORD>(ms + 0.999));
    }
#else
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
#endif
  }
};
}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}
