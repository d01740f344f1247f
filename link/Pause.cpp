#include "link/Pause.h"

#ifdef _WIN32
#include <windows.h>

// The C++ library's sleep waits on an event here, and under Wine every such wait is a round trip
// to the server; Sleep is a timed wait of the thread alone.
void PauseMs(int milliseconds) {
  ::Sleep(static_cast<DWORD>(milliseconds));
}
#else
#include <chrono>
#include <thread>

void PauseMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
#endif
