#include "delivery/ImageSender.h"

#include <cstring>

#include "delivery/TavroUSB.h"
#include "image/FirmwareImage.h"

static_assert(kFirmwareImageSize == kImageLength, "the image must be exactly 1,024 whole blocks");

namespace {
// The reply is read into twice the length asked for.
constexpr int kReplyBufferLength = 2 * kReplyReadLength;
}  // namespace

ImageSender::ImageSender(Clock& clock) : clock(clock) {}

ImageSender::~ImageSender() {
  Close();
}

std::int32_t ImageSender::Open() {
  // A handle still held would be lost by overwriting it: give it back first.
  Close();
  const int count = VornUsbEnumerateDevices();
  if (count == 0) {
    log.Append("No Tavro exists");
    return 0;
  }
  char name[kDeviceNameLength] = {};
  if (VornUsbGetDeviceName(count - 1, name) == 0) {
    log.Append("The Device Name aquisition was failed");
    return 0;
  }
  if (VornUsbOpen(name, &libraryHandle) == 0) {
    // Whatever the library left there is not a handle to close later.
    libraryHandle = 0;
    log.Append("The handle aquisition was failed");
    return 0;
  }
  return 1;
}

std::int32_t ImageSender::SendImage(TransferView& view) {
  view.ShowWaitCursor();
  unsigned char block[kBlockLength];
  std::memcpy(block, kBlockHeader, kBlockHeaderLength);
  Pacer pause(clock, kBlockPauseMs);
  int index = 0;
  for (std::uint32_t offset = 0; offset < kImageLength; offset += kImageBytesPerBlock, ++index) {
    view.ShowWaitCursor();
    for (int i = 0; i < 4; ++i)
      block[kBlockOffsetAt + i] = static_cast<unsigned char>(offset >> (24 - 8 * i));
    std::memcpy(block + kBlockHeaderLength, FirmwareImage + offset, kImageBytesPerBlock);
    view.SetProgress(index);
    pause.Wait();
    if (VornUsbControlSend(libraryHandle, kLibraryTransferCode, block, kBlockLength) == 0) return 0;
    pause.Mark();
    view.PumpOneMessage();
  }
  pause.Wait();
  view.EndWaitCursor();
  return 1;
}

std::int32_t ImageSender::PollAccepted() {
  std::int32_t pendingLength = 0;
  if (QueryPending(&pendingLength) != kQueryOk || pendingLength == 0) return 0;
  unsigned char reply[kReplyBufferLength];
  std::uint32_t received = 0;
  if (VornUsbControlRecive(libraryHandle, kLibraryTransferCode, reply, kReplyReadLength, &received) == 0)
    return 0;
  accepted = 1;
  return 1;
}

std::int32_t ImageSender::QueryPending(std::int32_t* pendingLength) {
  *pendingLength = 0;
  std::uint32_t received = 0;
  unsigned char status[kStatusLength] = {};
  if (VornUsbControlRecive(libraryHandle, kLibraryStatusCode, status, kStatusLength, &received) == 0 ||
      received != kStatusLength)
    return kQueryFailed;
  if (status[0] == kReplyPending) *pendingLength = status[2] + 256 * status[3];
  return kQueryOk;
}

std::int32_t ImageSender::Close() {
  if (libraryHandle != 0) {
    VornUsbClose(libraryHandle);
    libraryHandle = 0;
  }
  return 1;
}
