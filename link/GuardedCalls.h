// GuardedCalls: one session's driver calls, knowing which of its threads waits inside one. A
// thread that a driver will not let go is ended without its cooperation only while it waits inside
// a read, a write, a control request or a close: there it holds no lock, not even the allocator's,
// that another thread needs. Opening and listing allocate, so they are never places to end a
// thread. Everything passes through to the backend, but the close of a handle a thread was ended
// inside: that call never returns, and on Windows the close would wait for it for ever, so the
// handle is left to the end of the process.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "link/DriverCalls.h"

class GuardedCalls final : public DriverCalls {
 public:
  explicit GuardedCalls(DriverCalls& calls);

  bool InterfacePath(std::uint32_t index, std::string& path) override;
  DriverHandle Open(const char* path) override;
  bool IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize) override;
  bool Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) override;
  bool Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) override;
  bool Close(DriverHandle handle) override;
  void CancelIo(std::thread& thread, DriverHandle handle) override;
  void EndThread(std::thread& thread) override;

  // Ends `thread` if it waits inside a read, write, control request or close right now, and
  // detaches it; true when it did. The thread cannot leave the call and take a lock meanwhile: on
  // its way out it passes the lock this holds.
  bool EndIfWaiting(std::thread& thread);

 private:
  template <typename Call>
  auto Waiting(DriverHandle handle, Call call);

  struct Inside {
    std::thread::id thread;
    DriverHandle handle;
  };
  DriverCalls& calls;
  std::mutex lock;
  std::vector<Inside> waiting;        // threads inside a call where they may be ended, and its handle
  std::vector<DriverHandle> endedIn;  // a thread was ended inside a call on them
};
