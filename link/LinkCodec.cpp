#include "link/LinkCodec.h"

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
  std::snprintf(path, sizeof path, "%s\\if%03dpipe%03d", devicePath.c_str(), interfaceNumber, pipe);
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
    if (type == 4 && length >= 3) {
      inside = block[pos + 2] == interfaceNumber;
      count = 0;
    } else if (type == 5 && inside && length >= 6) {
      if (count == endpointIndex) return block[pos + 4] | block[pos + 5] << 8;
      ++count;
    }
    pos += length;
  }
  return 0;
}

namespace {
struct Pattern {
  ReplyKind kind;
  unsigned char head[5];
  int needs;  // bytes the reply's fields reach into
};
constexpr Pattern kPatterns[] = {
    {kModelReply, {0x12, 0x00, 0x18, 0xC8, 0x6A}, 18},
    {kVersionReply, {0x0D, 0x00, 0x12, 0xB8, 0xF1}, 14},
    {kModeReply, {0x05, 0x00, 0x12, 0xB8, 0xCA}, 6},
    {kDiscReply, {0x11, 0x00, 0x12, 0xB8, 0x70}, 10},
    {kCompletionReply, {0x04, 0x00, 0x12, 0xB8, 0xEF}, 5},
};
}  // namespace

ReplyKind MatchReply(const unsigned char* buffer, int size, DeviceReport& fields) {
  for (const Pattern& p : kPatterns) {
    if (size < p.needs || std::memcmp(buffer, p.head, sizeof p.head) != 0) continue;
    switch (p.kind) {
      case kModelReply:
        std::memcpy(fields.modelName, buffer + 5, sizeof fields.modelName);
        break;
      case kVersionReply:
        fields.versionMajor = buffer[8];
        fields.versionMinor = buffer[9];
        fields.versionVariant = buffer[13];
        break;
      case kModeReply:
        fields.modeState = buffer[5];
        break;
      case kDiscReply:
        fields.discState = buffer[9];
        break;
      default:
        break;
    }
    return p.kind;
  }
  return kNoReply;
}
