// Fuzzes reply matching with read buffers of every length from 0 to 64 bytes, each allocated to
// its exact size so that a read past its end is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/LinkCodec.h"

namespace {
// The bytes each kind's fields reach into.
int Needs(ReplyKind kind) {
  switch (kind) {
    case kModelReply:
      return 18;
    case kVersionReply:
      return 14;
    case kModeReply:
      return 6;
    case kDiscReply:
      return 10;
    case kCompletionReply:
      return 5;
    default:
      return 0;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReplyKind previous = kNoReply;
  for (std::size_t length = 0; length <= 64; ++length) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[length]);
    const std::size_t copied = size < length ? size : length;
    if (copied) std::memcpy(buffer.get(), data, copied);
    if (length > copied) std::memset(buffer.get() + copied, 0, length - copied);

    DeviceReport fields;
    std::memset(&fields, 0xA5, sizeof fields);
    const ReplyKind kind = MatchReply(buffer.get(), static_cast<int>(length), fields);
    if (kind < kNoReply || kind > kCompletionReply) std::abort();
    if (kind != kNoReply && static_cast<int>(length) < Needs(kind)) std::abort();
    // A longer buffer holding the same reply still matches it.
    if (previous != kNoReply && length <= size && kind != previous) std::abort();
    if (length <= size) previous = kind;
    // Only the fields of the kind found are written.
    if (kind != kModelReply && fields.modelName[0] != 0xA5) std::abort();
    if (kind != kModeReply && fields.modeState != 0xA5) std::abort();
    if (kind != kDiscReply && fields.discState != 0xA5) std::abort();
    if (kind != kVersionReply && fields.versionMajor != 0xA5) std::abort();
  }
  return 0;
}
