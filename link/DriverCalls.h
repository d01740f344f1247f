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
  // away (false) or CancelRead is called for this handle (false, got 0).
  virtual bool Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) = 0;

  // One synchronous write. True when the driver took it; `written` may be short.
  virtual bool Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) = 0;

  // Closes a handle that Open returned.
  virtual bool Close(DriverHandle handle) = 0;

  // Makes a Read that `reader` is blocked in on `handle` return false. Does nothing when no read
  // is blocked; a read that starts afterwards is not affected, so callers repeat it until the
  // reader has seen its stop flag. Both the reader's blocked I/O and every read pending on
  // `handle` are cancelled, whichever thread issued it, so a driver that ignores the one is
  // reached by the other. `handle` must stay open during the call (kInvalidHandle: the reader's
  // I/O alone).
  virtual void CancelRead(std::thread& reader, DriverHandle handle) = 0;
};

// The backend of this program, defined by the one backend linked into it.
DriverCalls& PlatformDriverCalls();
