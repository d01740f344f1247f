// The Win32 driver backend: the maker's driver reached through SetupAPI device-interface
// enumeration and synchronous file I/O. Defines PlatformDriverCalls() for the real program.
#include <windows.h>
// windows.h first: SetupAPI's header relies on its types.
#include <pthread.h>
#include <setupapi.h>

#include <memory>

#include "link/DriverCalls.h"

namespace {
// SetupAPI's structures are packed differently for 32 and 64 bits; cbSize must match the build.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 4 ? 28 : 32), "interface data size");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 4 ? 5 : 8), "detail size");
static_assert(sizeof(DriverHandle) == sizeof(HANDLE), "a driver handle holds a HANDLE");

const GUID kInterfaceClass = DRIVER_CLASS_GUID;

HANDLE ToHandle(DriverHandle h) {
  return reinterpret_cast<HANDLE>(h);
}

class Win32DriverCalls final : public DriverCalls {
 public:
  bool InterfacePath(std::uint32_t index, std::string& path) override {
    // Every index gets a fresh set, destroyed on every path.
    HDEVINFO set =
        SetupDiGetClassDevsA(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    if (SetupDiEnumDeviceInterfaces(set, nullptr, &kInterfaceClass, index, &data)) {
      DWORD required = 0;
      if (!SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr) &&
          GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
          required >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[required]());
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
          // The path ends within the buffer even if the driver's text does not.
          const char* text = detail->DevicePath;
          const std::size_t room =
              required - static_cast<std::size_t>(text - reinterpret_cast<char*>(detail));
          std::size_t length = 0;
          while (length < room && text[length]) ++length;
          path.assign(text, length);
          found = true;
        }
      }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
  }

  DriverHandle Open(const char* path) override {
    if (!path) return kInvalidHandle;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<DriverHandle>(h);
  }

  bool IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize) override {
    DWORD returned = 0;
    return DeviceIoControl(ToHandle(handle), code, const_cast<void*>(in), inSize, out, outSize, &returned,
                           nullptr) != FALSE;
  }

  bool Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    DWORD count = 0;
    const BOOL ok = ReadFile(ToHandle(handle), buffer, size, &count, nullptr);
    got = ok ? count : 0;
    return ok != FALSE;
  }

  bool Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) override {
    DWORD count = 0;
    const BOOL ok = WriteFile(ToHandle(handle), data, size, &count, nullptr);
    written = count;
    return ok != FALSE;
  }

  bool Close(DriverHandle handle) override { return CloseHandle(ToHandle(handle)) != FALSE; }

  void CancelIo(std::thread& thread, DriverHandle handle) override {
    // The thread's own handle: cancelling its synchronous I/O ends the blocked ReadFile or WriteFile.
    if (thread.joinable()) {
      HANDLE native = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
      if (native) CancelSynchronousIo(native);
    }
    // A driver may leave I/O that was cancelled by thread pending; cancelling by handle reaches it
    // all the same.
    if (handle != kInvalidHandle) CancelIoEx(ToHandle(handle), nullptr);
  }

  void EndThread(std::thread& thread) override {
    if (!thread.joinable()) return;
    HANDLE native = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    if (!native || !TerminateThread(native, 0)) return;
    // Its I/O may stay pending in the driver, and then the thread never finishes ending: it is let
    // go, not waited for.
    thread.detach();
  }
};
}  // namespace

DriverCalls& PlatformDriverCalls() {
  static Win32DriverCalls calls;
  return calls;
}
