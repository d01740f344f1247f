#include "link/LinkCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

unsigned char HexNibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned char>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned char>(c - 'a' + 10);
  return 0xFF;
}

std::vector<unsigned char> HexToBytes(const char* text, int count) {
  if (count < 0) count = 0;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(count / 2));
  unsigned char pending = 0;
  for (int i = 0; i < count / 2 * 2; ++i) {
    const unsigned char v = HexNibble(text[i]);
    if (i % 2 == 0) {
      pending = static_cast<unsigned char>(v << 4);
    } else {
      bytes[static_cast<std::size_t>(i / 2)] = static_cast<unsigned char>(pending | v);
    }
  }
  return bytes;
}

std::string FrameText(const unsigned char* bytes, int count) {
  if (count < 2 || count > 255) return {};
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02x", count);
  std::string text(digits);
  for (int i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

bool PipePath(const std::string& devicePath, unsigned char interfaceNumber, unsigned char pipe,
              std::string& out) {
  if (devicePath.size() > kMaxDevicePath) return false;
  char path[kPipePathBuffer];
  std::snprintf(path, sizeof path, "%s" DRIVER_PIPE_SUFFIX, devicePath.c_str(), interfaceNumber, pipe);
  out = path;
  return true;
}

int EndpointPacketSize(const unsigned char* block, std::size_t size, unsigned char interfaceNumber,
                       unsigned char endpointIndex) {
  bool inside = false;
  int count = 0;
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t length = block[pos];
    if (length < 2 || length > size - pos) return 0;
    const unsigned char type = block[pos + 1];
    if (type == kInterfaceDescriptorType && length > kInterfaceNumberAt) {
      inside = block[pos + kInterfaceNumberAt] == interfaceNumber;
      count = 0;
    } else if (type == kEndpointDescriptorType && inside && length > kPacketSizeAt + 1) {
      if (count == endpointIndex) return block[pos + kPacketSizeAt] | block[pos + kPacketSizeAt + 1] << 8;
      ++count;
    }
    pos += length;
  }
  return 0;
}

namespace {
struct Pattern {
  ReplyKind kind;
  const ReplyShape& shape;
  int needs;  // bytes the check of its fields compares, or the field itself
};
constexpr Pattern kPatterns[] = {
    {ReplyKind::Model, kModelReply, kModelNameAt + kModelComparedLength},
    {ReplyKind::Version, kVersionReply, kVersionMinorAt + 1},
    {ReplyKind::Mode, kModeReply, kModeAt + 1},
    {ReplyKind::Disc, kDiscReply, kDiscAt + 1},
    {ReplyKind::Completion, kCompletionReply, kReplyHeadLength},
};
}  // namespace

ReplyKind MatchReply(const unsigned char* buffer, int size, DeviceReport& fields) {
  for (const Pattern& p : kPatterns) {
    if (size < p.needs || std::memcmp(buffer, p.shape.head, kReplyHeadLength) != 0) continue;
    // A read shorter than the reply holds the compared bytes all the same; what lies beyond it is
    // not stored.
    switch (p.kind) {
      case ReplyKind::Model:
        std::memcpy(fields.modelName, buffer + kModelNameAt,
                    static_cast<std::size_t>(std::min(size - kModelNameAt, kModelNameLength)));
        break;
      case ReplyKind::Version:
        fields.versionMajor = buffer[kVersionMajorAt];
        fields.versionMinor = buffer[kVersionMinorAt];
        if (size > kVersionVariantAt) fields.versionVariant = buffer[kVersionVariantAt];
        break;
      case ReplyKind::Mode:
        fields.modeState = buffer[kModeAt];
        break;
      case ReplyKind::Disc:
        fields.discState = buffer[kDiscAt];
        break;
      default:
        break;
    }
    return p.kind;
  }
  return ReplyKind::None;
}
