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

  void SleepMs(int ms) override {
#ifdef _WIN32
    // The C++ library's sleep waits on an event here, and under Wine every such wait is a round
    // trip to the server; Sleep is a timed wait of the thread alone.
    ::Sleep(static_cast<DWORD>(ms));
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
  }
};
}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}
