// The byte-level rules of the driver path: hex text, command frames, pipe paths, the walk of
// a configuration descriptor and the deck's reply patterns. It holds no texts, so the fuzzers can
// build it with clang.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "link/Protocol.h"

// '0'-'9', 'A'-'F' and 'a'-'f' give 0-15; every other character gives 0xFF.
unsigned char HexNibble(char c);

// Pairs of hex characters as bytes: floor(count / 2) of them. A non-digit in a high position
// gives a high nibble of F; one in a low position makes the whole byte 0xFF.
std::vector<unsigned char> HexToBytes(const char* text, int count);

// The frame text of a command: the count as "%02x", then each byte as "%02X". Empty when the
// command cannot be framed (fewer than 2 or more than 255 bytes).
std::string FrameText(const unsigned char* bytes, int count);

// The driver's paths are built in 360 bytes: a device path of at most 346 characters, then
// "\ifNNNpipeNNN" and the terminating zero.
inline constexpr std::size_t kPipePathBuffer = 360;
inline constexpr std::size_t kMaxDevicePath = 346;

// Device path + DRIVER_PIPE_SUFFIX. False, and `out` untouched, when the device path is too long.
bool PipePath(const std::string& devicePath, unsigned char interfaceNumber, unsigned char pipe,
              std::string& out);

// wMaxPacketSize of endpoint `endpointIndex` (counted within the interface) of the first
// interface descriptor numbered `interfaceNumber`, found in a configuration block of `size`
// bytes; 0 when there is none. Never reads outside the block: a descriptor shorter than 2 bytes
// or running past the block ends the walk with 0.
int EndpointPacketSize(const unsigned char* block, std::size_t size, unsigned char interfaceNumber,
                       unsigned char endpointIndex);

// The five replies of the deck, recognised by their first five bytes; None for anything else.
enum class ReplyKind { None = 0, Model = 1, Version = 2, Mode = 3, Disc = 4, Completion = 5 };

// What the deck's replies reported: the report fields of the link session.
struct DeviceReport {
  unsigned char modelName[kModelNameLength] = {};
  unsigned char versionMajor = 0;
  unsigned char versionMinor = 0;
  unsigned char versionVariant = 0;
  unsigned char discState = 0;
  unsigned char modeState = 0;
};

// Matches the first bytes of a read buffer of `size` bytes against the patterns in the order
// model, version, mode, disc, completion report, and stores the fields of the kind found (only
// those, and only as far as the buffer holds them). A reply matches once the buffer holds what its
// check compares: the model's first 8 name bytes (13 bytes in all), the version's major and minor
// (10), the mode's and the disc's state; the variant is stored only from a buffer that holds byte
// 13. Nothing past `size` is read.
ReplyKind MatchReply(const unsigned char* buffer, int size, DeviceReport& fields);
