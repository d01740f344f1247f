// The driver seam: the calls the driver port makes to the maker's USB driver. One backend is
// linked into each program: the Win32 one (SetupAPI and file I/O) or the emulated deck.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "link/Protocol.h"

// A driver handle as the portable code carries it; the Win32 backend maps it to a HANDLE.
using DriverHandle = std::intptr_t;
inline constexpr DriverHandle kInvalidHandle = -1;

class DriverCalls {
 public:
  virtual ~DriverCalls() = default;

  // Device path of member `index` of the driver's interface class. False at the end of the list
  // or on any failure. Does not block.
  virtual bool InterfacePath(std::uint32_t index, std::string& path) = 0;

  // Opens a device or pipe path for reading and writing, shared, synchronous. kInvalidHandle on
  // failure. The caller owns the handle and gives it back through Close, exactly once.
  virtual DriverHandle Open(const char* path) = 0;

  // One synchronous I/O control request. False when the driver refuses it.
  virtual bool IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize) = 0;

  // One synchronous read of at most `size` bytes. Blocks until data is there, the device goes
  // away (false) or a cancel reaches it (false, got 0). Closing the handle from another thread
  // does not end it.
  virtual bool Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) = 0;

  // One synchronous write. True when the driver took it; `written` may be short. A driver may
  // block in it until a cancel reaches it (false).
  virtual bool Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) = 0;

  // Closes a handle that Open returned.
  virtual bool Close(DriverHandle handle) = 0;

  // Asks the driver to end the read or write that `thread` is blocked in, and every one pending
  // on `handle` whichever thread issued it (kInvalidHandle: the thread's alone). Does nothing
  // when none is blocked, and I/O that starts afterwards is not affected, so callers repeat it
  // until the thread has moved on. A driver may ignore it. `handle` must stay open during the call.
  virtual void CancelIo(std::thread& thread, DriverHandle handle) = 0;

  // Ends `thread` without its cooperation, as a last resort when a driver ignores the cancel of a
  // call the thread is blocked in. Only for a thread waiting inside Read, Write, IoControl or
  // Close, which hold nothing another thread needs. An ended thread never runs its caller's code
  // again, and the object is detached; a thread the backend cannot reach there is left as it was,
  // joinable.
  virtual void EndThread(std::thread& thread) = 0;
};

// The backend of this program, defined by the one backend linked into it.
DriverCalls& PlatformDriverCalls();
