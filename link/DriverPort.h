// DriverPort: the lowest layer of the driver path. It finds the deck among the driver's
// interfaces, opens the device and its pipes, reads descriptors and the ready state, and moves
// raw bytes. It keeps no state: every handle goes back to the caller, who closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "link/DriverCalls.h"

class DriverPort {
 public:
  // Match flags of FindDevice.
  static constexpr int kMatchVendor = 1;
  static constexpr int kMatchProduct = 2;
  static constexpr std::uint32_t kLastMemberIndex = 128;

  explicit DriverPort(DriverCalls& calls) : calls(calls) {}
  DriverPort(const DriverPort&) = delete;
  DriverPort& operator=(const DriverPort&) = delete;

  // Searches members 0 to 128 of the interface class for a device whose descriptor matches. On
  // success `handle` holds the open device and `path` its device path; otherwise neither is
  // touched and no handle stays open. A search that `giveUp` tells to stop (it is asked before each
  // member) ends as one that found nothing.
  bool FindDevice(std::uint16_t vendorId, std::uint16_t productId, int matchFlags, DriverHandle& handle,
                  std::string& path, const std::function<bool()>& giveUp = {});

  // Opens pipe `pipe` of interface `interfaceNumber` below the device path. kInvalidHandle on
  // failure, also when the device path is too long for the driver's pipe path.
  DriverHandle OpenPipe(const std::string& devicePath, unsigned char interfaceNumber, unsigned char pipe);

  // 0: invalid handle (no driver call); 1: the driver does not report ready; 2: ready.
  int HandleState(DriverHandle handle);

  // wMaxPacketSize of the endpoint, 0 on any failure.
  int GetMaxPacketSize(DriverHandle handle, unsigned char interfaceNumber, unsigned char endpointIndex);

  bool DeviceControl(DriverHandle handle);
  bool PipeControl(DriverHandle handle);

  // One synchronous read of at most `size` bytes; blocks until the driver completes it.
  bool ReadPipe(DriverHandle handle, unsigned char* buffer, int size, int& got);

  // One write of the bytes that the hex text gives (floor(count / 2) of them). A short write
  // counts as success.
  bool WriteHex(DriverHandle handle, const char* text, int count);

  bool ReleaseHandle(DriverHandle handle);

 private:
  bool GetDeviceDescriptor(DriverHandle handle, unsigned char (&descriptor)[kDeviceDescriptorLength]);
  bool GetConfigDescriptor(DriverHandle handle, unsigned char* block, std::uint16_t size);
  bool QueryReady(DriverHandle handle, std::uint32_t& status);

  DriverCalls& calls;
};
