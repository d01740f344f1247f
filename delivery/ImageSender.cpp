#include "delivery/ImageSender.h"

#include <cstring>

#include "delivery/TavroUsb.h"
#include "image/FirmwareImage.h"
#include "link/Pause.h"

static_assert(kFirmwareImageSize == std::size_t(ImageSender::kBlocks) * ImageSender::kImageBytesPerBlock,
              "the image must be exactly 1,024 whole blocks");

ImageSender::ImageSender() = default;

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
  char name[kNameLength] = {};
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
  unsigned char block[kBlockLength] = {0x01, 0x00, 0x02, 0x01, 0x80};
  block[9] = 0x00;
  block[10] = 0x06;
  block[11] = 0x00;
  block[12] = 0x00;
  int index = 0;
  for (std::uint32_t offset = 0; offset < kFirmwareImageSize; offset += kImageBytesPerBlock, ++index) {
    view.ShowWaitCursor();
    block[5] = static_cast<unsigned char>(offset >> 24);
    block[6] = static_cast<unsigned char>(offset >> 16);
    block[7] = static_cast<unsigned char>(offset >> 8);
    block[8] = static_cast<unsigned char>(offset);
    std::memcpy(block + kHeaderLength, FirmwareImage + offset, kImageBytesPerBlock);
    view.SetProgress(index);
    if (VornUsbControlSend(libraryHandle, kTransferCode, block, kBlockLength) == 0) {
      // The caller shows a message box next; it must not appear under a wait cursor.
      view.EndWaitCursor();
      return 0;
    }
    view.PumpOneMessage();
    PauseMs(kPauseMs);
  }
  view.EndWaitCursor();
  return 1;
}

std::int32_t ImageSender::PollAccepted() {
  std::int32_t pendingLength = 0;
  if (QueryPending(&pendingLength) != kQueryOk || pendingLength == 0) return 0;
  unsigned char reply[kReplyBufferLength];
  std::uint32_t received = 0;
  if (VornUsbControlRecive(libraryHandle, kTransferCode, reply, kReplyReadLength, &received) == 0) return 0;
  accepted = 1;
  return 1;
}

std::int32_t ImageSender::QueryPending(std::int32_t* pendingLength) {
  *pendingLength = 0;
  std::uint32_t received = 0;
  unsigned char status[kStatusLength] = {};
  if (VornUsbControlRecive(libraryHandle, kStatusCode, status, kStatusLength, &received) == 0 ||
      received != kStatusLength)
    return kQueryFailed;
  if (status[0] == 1) *pendingLength = status[2] + 256 * status[3];
  return kQueryOk;
}

std::int32_t ImageSender::Close() {
  if (libraryHandle != 0) {
    VornUsbClose(libraryHandle);
    libraryHandle = 0;
  }
  return 1;
}
