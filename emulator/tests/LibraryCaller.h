// Test helpers that call the emulated deck's library path as the program does: a block of the
// program's image, the rewrite request the deck needs on the driver path before any block, and
// blocks sent with the deck's clock moved on by the pause it needs after each, so that a test
// pushes a whole image without waiting 10 s for it.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "delivery/TavroUsb.h"
#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "image/FirmwareImage.h"
#include "link/Protocol.h"

using Block = std::vector<std::uint8_t>;

// The block of the program's image at `offset`, with its header.
inline Block BlockAt(std::uint32_t offset) {
  Block b(kBlockLength);
  std::memcpy(b.data(), kBlockHeader, kBlockHeaderLength);
  for (int i = 0; i < 4; ++i) b[kBlockOffsetAt + i] = std::uint8_t(offset >> (24 - 8 * i));
  std::memcpy(b.data() + kBlockHeaderLength, FirmwareImage + offset, kImageBytesPerBlock);
  return b;
}

// The power-on request and then the rewrite request on pipe 0, as the link sends them. True when
// the deck took the request.
inline bool RequestRewrite(EmulatedDeck& deck) {
  DriverSide& driver = deck.Driver();
  std::string path;
  if (!driver.InterfacePath(0, path)) return false;
  const DriverHandle pipe0 = driver.Open((path + "\\if000pipe000").c_str());
  unsigned char rewrite[sizeof kRewriteRequest + 1] = {sizeof kRewriteRequest};
  std::memcpy(rewrite + 1, kRewriteRequest, sizeof kRewriteRequest);
  std::uint32_t written = 0;
  driver.Write(pipe0, kPowerOn, sizeof kPowerOn, written);
  driver.Write(pipe0, rewrite, sizeof rewrite, written);
  driver.Close(pipe0);
  return driver.RewriteRequested();
}

// One block, followed by the pause the deck needs, on the deck's clock. The library's result.
inline int SendPaced(EmulatedDeck& deck, std::uint32_t handle, Block block) {
  const int result =
      VornUsbControlSend(handle, kLibraryTransferCode, block.data(), static_cast<int>(block.size()));
  deck.events.Skip(kBlockPauseMs);
  return result;
}

// Blocks 0 to 1,023, paced; `change` may alter each on the way out.
inline void SendImagePaced(EmulatedDeck& deck, std::uint32_t handle,
                           const std::function<void(int, Block&)>& change = {}) {
  for (int i = 0; i < kImageBlocks; ++i) {
    Block b = BlockAt(std::uint32_t(i) * kImageBytesPerBlock);
    if (change) change(i, b);
    SendPaced(deck, handle, b);
  }
}
