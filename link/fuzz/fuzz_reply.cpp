// Fuzzes reply matching with read buffers of every length from 0 to 64 bytes, each allocated to
// its exact size so that a read past its end is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/LinkCodec.h"

// The bytes each kind's check compares, by ReplyKind: none, model, version, mode, disc, completion.
constexpr int kNeeds[] = {0, 13, 10, 6, 10, 5};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReplyKind previous = ReplyKind::None;
  for (std::size_t length = 0; length <= 64; ++length) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[length]());
    if (length && size) std::memcpy(buffer.get(), data, size < length ? size : length);

    DeviceReport fields;
    std::memset(&fields, 0xA5, sizeof fields);
    const ReplyKind kind = MatchReply(buffer.get(), static_cast<int>(length), fields);
    if (kind < ReplyKind::None || kind > ReplyKind::Completion) std::abort();
    if (kind != ReplyKind::None && static_cast<int>(length) < kNeeds[static_cast<int>(kind)]) std::abort();
    // A longer buffer holding the same reply still matches it.
    if (previous != ReplyKind::None && length <= size && kind != previous) std::abort();
    if (length <= size) previous = kind;
    // Only the fields of the kind found are written.
    if (kind != ReplyKind::Model && fields.modelName[0] != 0xA5) std::abort();
    if (kind != ReplyKind::Mode && fields.modeState != 0xA5) std::abort();
    if (kind != ReplyKind::Disc && fields.discState != 0xA5) std::abort();
    if (kind != ReplyKind::Version && fields.versionMajor != 0xA5) std::abort();
    // Nothing is stored from beyond the read.
    if (kind == ReplyKind::Model && length < 18 && fields.modelName[length - 5] != 0xA5) std::abort();
    if (kind == ReplyKind::Version && length < 14 && fields.versionVariant != 0xA5) std::abort();
  }
  return 0;
}
