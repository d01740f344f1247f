// The deck's protocol, written once for the link, the image sender, the emulated deck and the
// tests: the maker's driver (its facts are in link/DriverWire.h, named here for C++), the command
// frames on pipe 0 and the replies on pipe 1, and the image transfer through the maker's library.
// It holds no texts, so the clang fuzz build can include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/DriverWire.h"

// --- The maker's driver (link/DriverWire.h) ---------------------------------------------------

inline constexpr std::uint16_t kMakerVendorId = DRIVER_VENDOR_ID;
struct DriverClassGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
inline constexpr DriverClassGuid kDriverInterfaceClass = DRIVER_CLASS_GUID;
// The class as device paths and the registry write it: in braces, hex in lower case.
inline std::string DriverClassText() {
  const DriverClassGuid& g = kDriverInterfaceClass;
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.data1, g.data2,
                g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
  return text;
}

inline constexpr std::uint16_t kDeckProductIds[2] = {DRIVER_PRODUCT_ID, DRIVER_OTHER_PRODUCT_ID};

inline constexpr std::uint32_t kDeviceControlCode = DRIVER_DEVICE_CONTROL;
inline constexpr std::uint32_t kPipeControlCode = DRIVER_PIPE_CONTROL;
inline constexpr std::uint32_t kDescriptorCode = DRIVER_DESCRIPTOR;
inline constexpr std::uint32_t kReadyCode = DRIVER_READY;

inline constexpr unsigned char kDeviceDescriptorType = DRIVER_DEVICE_DESCRIPTOR_TYPE;
inline constexpr unsigned char kConfigDescriptorType = DRIVER_CONFIG_DESCRIPTOR_TYPE;
inline constexpr unsigned char kInterfaceDescriptorType = DRIVER_INTERFACE_DESCRIPTOR_TYPE;
inline constexpr unsigned char kEndpointDescriptorType = DRIVER_ENDPOINT_DESCRIPTOR_TYPE;
inline constexpr int kDeviceDescriptorLength = DRIVER_DEVICE_DESCRIPTOR_LENGTH;
inline constexpr int kConfigHeadLength = DRIVER_CONFIG_HEAD_LENGTH;
inline constexpr int kTotalLengthAt = DRIVER_TOTAL_LENGTH_AT;
inline constexpr int kVendorIdAt = DRIVER_VENDOR_ID_AT;
inline constexpr int kProductIdAt = DRIVER_PRODUCT_ID_AT;
inline constexpr int kInterfaceNumberAt = DRIVER_INTERFACE_NUMBER_AT;
inline constexpr int kPacketSizeAt = DRIVER_PACKET_SIZE_AT;

inline constexpr unsigned char kDeckInterface = DRIVER_DECK_INTERFACE;
inline constexpr unsigned char kCommandPipe = DRIVER_COMMAND_PIPE;
inline constexpr unsigned char kReplyPipe = DRIVER_REPLY_PIPE;

// --- Command frames on pipe 0 ------------------------------------------------------------------
// A frame is a count byte, then that many command bytes. A frame that starts with 0x00 is a
// command of the link kit itself, whose first byte counts nothing.

inline constexpr unsigned char kLinkKitCommand = 0x00;
// The byte that follows 0x00 in everything the link kit and the deck exchange: a reply that starts
// 00 60 is the link kit's own and is still handed to the parser.
inline constexpr unsigned char kLinkKitByte = 0x60;
inline constexpr char kPowerOnText[] = "006000";  // the power-on request, as frame text
inline constexpr unsigned char kPowerOn[] = {0x00, 0x60, 0x00};
inline constexpr unsigned char kPowerOnAcknowledged[] = {0x00, 0x60, 0x01};

// The deck's commands, as given to the framing (the count byte comes in front).
inline constexpr unsigned char kModelQuery[] = {0x00, 0x60, 0xC0, 0x6A};
inline constexpr unsigned char kVersionQuery[] = {0x00, 0x60, 0xB0, 0xF1, 0x00};
inline constexpr unsigned char kDiscQuery[] = {0x00, 0x60, 0xB0, 0x0F};
inline constexpr unsigned char kModeQuery[] = {0x00, 0x60, 0xB0, 0xCA, 0xFF};
inline constexpr unsigned char kRewriteRequest[] = {0x00, 0x60, 0xB0, 0xC0, 0xA6};

// --- Replies on pipe 1 -------------------------------------------------------------------------
// A reply is recognised by its first five bytes; its first byte is the number of bytes after it.

inline constexpr int kReplyHeadLength = 5;
struct ReplyShape {
  unsigned char head[kReplyHeadLength];
  int length;  // the whole reply
};
inline constexpr ReplyShape kModelReply = {{0x12, 0x00, 0x18, 0xC8, 0x6A}, 19};
inline constexpr ReplyShape kVersionReply = {{0x0D, 0x00, 0x12, 0xB8, 0xF1}, 14};
inline constexpr ReplyShape kModeReply = {{0x05, 0x00, 0x12, 0xB8, 0xCA}, 6};
inline constexpr ReplyShape kDiscReply = {{0x11, 0x00, 0x12, 0xB8, 0x70}, 18};
inline constexpr ReplyShape kCompletionReply = {{0x04, 0x00, 0x12, 0xB8, 0xEF}, 5};

// Where the fields lie in their replies.
inline constexpr int kModelNameAt = 5;
inline constexpr int kModelNameLength = 13;
inline constexpr int kModelComparedLength = 8;  // only these are compared with the model name
inline constexpr char kDeckModelName[] = "HVX-Z8KQ";
inline constexpr int kVersionMajorAt = 8;
inline constexpr int kVersionMinorAt = 9;
inline constexpr int kVersionVariantAt = 13;
inline constexpr int kModeAt = 5;
inline constexpr int kDiscAt = 9;

// The values the checks wait for.
inline constexpr unsigned char kNoDiscInside = 0x13;
inline constexpr unsigned char kTavroMode = 1;

// --- The image through the maker's library -----------------------------------------------------

inline constexpr int kLibraryTransferCode = 255;  // blocks out, the deck's reply in
inline constexpr int kLibraryStatusCode = 1;
inline constexpr int kDeviceNameLength = 260;
inline constexpr int kStatusLength = 4;  // pending flag, a byte not examined, length (little-endian)
inline constexpr unsigned char kReplyPending = 1;
inline constexpr int kReplyReadLength = 512;

// One block: a 13-byte header, then 384 image bytes. Numbers in the header are big-endian.
inline constexpr int kImageBytesPerBlock = 384;
inline constexpr int kBlockHeaderLength = 13;
inline constexpr int kBlockLength = kBlockHeaderLength + kImageBytesPerBlock;  // 397
inline constexpr int kImageBlocks = 1024;
inline constexpr std::size_t kImageLength = std::size_t(kImageBlocks) * kImageBytesPerBlock;  // 393,216
inline constexpr int kBlockOffsetAt = 5;  // 4 bytes: the block's offset in the image
// The header with a zero offset: 01 00 02, the 384 bytes in the block, the offset, the image length.
inline constexpr unsigned char kBlockHeader[kBlockHeaderLength] = {0x01, 0x00, 0x02, 0x01, 0x80, 0,   0,
                                                                   0,    0,    0x00, 0x06, 0x00, 0x00};
// The deck needs at least this long after each block before it takes the next.
inline constexpr int kBlockPauseMs = 10;
