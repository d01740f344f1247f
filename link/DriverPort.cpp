#include "link/DriverPort.h"

#include <vector>

#include "link/LinkCodec.h"

bool DriverPort::GetDeviceDescriptor(DriverHandle handle,
                                     unsigned char (&descriptor)[kDeviceDescriptorLength]) {
  const unsigned char request[4] = {kDeviceDescriptorType, 0, 0, 0};
  return calls.IoControl(handle, kDescriptorCode, request, sizeof request, descriptor, sizeof descriptor);
}

bool DriverPort::GetConfigDescriptor(DriverHandle handle, unsigned char* block, std::uint16_t size) {
  const unsigned char request[4] = {kConfigDescriptorType, 0, 0, 0};
  return calls.IoControl(handle, kDescriptorCode, request, sizeof request, block, size);
}

bool DriverPort::QueryReady(DriverHandle handle, std::uint32_t& status) {
  unsigned char out[4] = {};
  if (!calls.IoControl(handle, kReadyCode, nullptr, 0, out, sizeof out)) return false;
  status = out[0] | out[1] << 8 | out[2] << 16 | std::uint32_t(out[3]) << 24;
  return true;
}

bool DriverPort::FindDevice(std::uint16_t vendorId, std::uint16_t productId, int matchFlags,
                            DriverHandle& handle, std::string& path, const std::function<bool()>& giveUp) {
  for (std::uint32_t i = 0; i <= kLastMemberIndex; ++i) {
    if (giveUp && giveUp()) return false;
    std::string candidate;
    if (!calls.InterfacePath(i, candidate)) return false;
    const DriverHandle h = calls.Open(candidate.c_str());
    if (h == kInvalidHandle) continue;
    unsigned char descriptor[kDeviceDescriptorLength] = {};
    if (!GetDeviceDescriptor(h, descriptor)) {
      calls.Close(h);
      continue;
    }
    const std::uint16_t vendor =
        static_cast<std::uint16_t>(descriptor[kVendorIdAt] | descriptor[kVendorIdAt + 1] << 8);
    const std::uint16_t product =
        static_cast<std::uint16_t>(descriptor[kProductIdAt] | descriptor[kProductIdAt + 1] << 8);
    if (((matchFlags & kMatchVendor) && vendor != vendorId) ||
        ((matchFlags & kMatchProduct) && product != productId)) {
      calls.Close(h);
      continue;
    }
    handle = h;
    path = std::move(candidate);
    return true;
  }
  return false;
}

DriverHandle DriverPort::OpenPipe(const std::string& devicePath, unsigned char interfaceNumber,
                                  unsigned char pipe) {
  std::string path;
  if (!PipePath(devicePath, interfaceNumber, pipe, path)) return kInvalidHandle;
  return calls.Open(path.c_str());
}

int DriverPort::HandleState(DriverHandle handle) {
  if (handle == kInvalidHandle) return 0;
  std::uint32_t status = 0;
  return QueryReady(handle, status) && status != 0 ? 2 : 1;
}

int DriverPort::GetMaxPacketSize(DriverHandle handle, unsigned char interfaceNumber,
                                 unsigned char endpointIndex) {
  unsigned char head[kConfigHeadLength] = {};
  if (!GetConfigDescriptor(handle, head, sizeof head)) return 0;
  const std::uint16_t total =
      static_cast<std::uint16_t>(head[kTotalLengthAt] | head[kTotalLengthAt + 1] << 8);
  std::vector<unsigned char> block(total);
  if (!GetConfigDescriptor(handle, block.data(), total)) return 0;
  return EndpointPacketSize(block.data(), block.size(), interfaceNumber, endpointIndex);
}

bool DriverPort::DeviceControl(DriverHandle handle) {
  return calls.IoControl(handle, kDeviceControlCode, nullptr, 0, nullptr, 0);
}

bool DriverPort::PipeControl(DriverHandle handle) {
  return calls.IoControl(handle, kPipeControlCode, nullptr, 0, nullptr, 0);
}

bool DriverPort::ReadPipe(DriverHandle handle, unsigned char* buffer, int size, int& got) {
  std::uint32_t count = 0;
  const bool ok = calls.Read(handle, buffer, size > 0 ? static_cast<std::uint32_t>(size) : 0, count);
  got = static_cast<int>(count);
  return ok;
}

bool DriverPort::WriteHex(DriverHandle handle, const char* text, int count) {
  const std::vector<unsigned char> bytes = HexToBytes(text, count);
  std::uint32_t written = 0;
  return calls.Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
}

bool DriverPort::ReleaseHandle(DriverHandle handle) {
  return calls.Close(handle);
}
