// Byte-level rules of the command channel: hex conversion, frames, pipe paths, the descriptor walk
// and the reply patterns. Every buffer is an exact-size heap copy, so that the sanitizers catch a
// read past its end.
#include "link/LinkCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {
using Bytes = std::vector<unsigned char>;

Bytes Hex(const char* text) {
  return HexToBytes(text, static_cast<int>(std::strlen(text)));
}

std::unique_ptr<unsigned char[]> Exact(const Bytes& bytes) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

// A configuration block: the 9-byte header with wTotalLength, then the given descriptors.
Bytes Config(std::initializer_list<Bytes> parts) {
  Bytes block = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  for (const Bytes& p : parts) block.insert(block.end(), p.begin(), p.end());
  block[2] = static_cast<unsigned char>(block.size());
  return block;
}

Bytes Interface(unsigned char number, unsigned char alternate = 0) {
  return {9, 4, number, alternate, 2, 0xFF, 0, 0, 0};
}

Bytes Endpoint(unsigned char address, int size) {
  return {7, 5, address, 2, static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 0};
}

int Walk(const Bytes& block, unsigned char interfaceNumber, unsigned char index) {
  return EndpointPacketSize(Exact(block).get(), block.size(), interfaceNumber, index);
}

ReplyKind Match(const Bytes& buffer, DeviceReport& fields) {
  return MatchReply(Exact(buffer).get(), static_cast<int>(buffer.size()), fields);
}
}  // namespace

TEST(HexText, PairsOfDigitsInEitherCaseAndWhatANonDigitGives) {
  EXPECT_EQ(Hex("0123456789abcdefABCDEF"),
            (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(Hex("G1"), (Bytes{0xF1}));  // a bad high digit still takes the low one
  EXPECT_EQ(Hex("1G"), (Bytes{0xFF}));  // a bad low digit spoils the whole byte
  EXPECT_EQ(Hex("/:@`gG"), (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Hex("ABC"), (Bytes{0xAB}));
  EXPECT_TRUE(Hex("7").empty());
  EXPECT_TRUE(HexToBytes("00", -3).empty());
}

TEST(Frames, LengthInLowerCaseThenBytesInUpperCaseForTwoTo255Bytes) {
  const unsigned char ten[10] = {0x00, 0x60, 0xb0, 0xca, 0xff, 1, 2, 3, 4, 5};
  EXPECT_EQ(FrameText(ten, 10), "0a0060B0CAFF0102030405");
  EXPECT_EQ(FrameText(ten, 2), "020060");
  EXPECT_EQ(FrameText(ten, 1), "");
  const unsigned char big[256] = {};
  EXPECT_EQ(FrameText(big, 255).substr(0, 4), "ff00");
  EXPECT_EQ(FrameText(big, 256), "");  // cannot be framed in one length byte
}

TEST(PipePaths, ThreeDigitNumbersBelowADevicePathOfAtMost346Characters) {
  std::string path = "unchanged";
  ASSERT_TRUE(PipePath("D", 7, 12, path));
  EXPECT_EQ(path, "D\\if007pipe012");
  const std::string longest(346, 'x');
  ASSERT_TRUE(PipePath(longest, 255, 1, path));
  EXPECT_EQ(path, longest + "\\if255pipe001");  // with its zero, the driver's 360 bytes
  EXPECT_FALSE(PipePath(longest + "x", 0, 1, path));
  EXPECT_EQ(path, longest + "\\if255pipe001");
}

TEST(DescriptorWalk, FindsTheEndpointsOfTheFirstMatchingInterfaceAndStopsAtBrokenDescriptors) {
  // Other interfaces and other kinds of descriptor are passed over; all 16 bits are kept.
  const Bytes mixed = Config({Interface(3),
                              Endpoint(0x81, 8),
                              {5, 0x24, 1, 2, 3},
                              Interface(0),
                              {4, 0x21, 0, 0},
                              Endpoint(0x02, 0x1840),
                              Endpoint(0x83, 0xFFFF)});
  EXPECT_EQ(Walk(mixed, 0, 0), 0x1840);
  EXPECT_EQ(Walk(mixed, 0, 1), 0xFFFF);
  EXPECT_EQ(Walk(mixed, 0, 2), 0);
  EXPECT_EQ(Walk(mixed, 3, 0), 8);
  EXPECT_EQ(Walk(mixed, 3, 1), 0);
  EXPECT_EQ(Walk(mixed, 1, 0), 0);
  // An alternate setting repeating the interface number starts its own count; the first match wins.
  const Bytes alternates =
      Config({Interface(0, 0), Endpoint(0x01, 16), Interface(0, 1), Endpoint(0x01, 32), Endpoint(0x82, 48)});
  EXPECT_EQ(Walk(alternates, 0, 0), 16);
  EXPECT_EQ(Walk(alternates, 0, 1), 48);

  const Bytes good = Config({Interface(0), Endpoint(0x01, 64), Endpoint(0x82, 64)});
  EXPECT_EQ(Walk(Bytes(good.begin(), good.end() - 2), 0, 1), 0);  // runs past the block
  EXPECT_EQ(Walk(Bytes(good.begin(), good.end() - 2), 0, 0), 64);
  // A bLength of 0 or 1 ends the walk; an endpoint too short for wMaxPacketSize is passed over.
  EXPECT_EQ(Walk(Config({Interface(0), {0, 5, 0x01, 2, 64, 0, 0}, Endpoint(0x82, 64)}), 0, 0), 0);
  EXPECT_EQ(Walk(Config({Interface(0), {1}, Endpoint(0x82, 64)}), 0, 0), 0);
  EXPECT_EQ(Walk(Config({Interface(0), {4, 5, 0x01, 2}, Endpoint(0x82, 40)}), 0, 0), 40);
  EXPECT_EQ(Walk(Bytes{}, 0, 0), 0);
}

TEST(Replies, EachPatternStoresItsOwnFieldsOnlyAndNothingBeyondTheBuffer) {
  const struct {
    Bytes reply;
    ReplyKind kind;
    DeviceReport fields;  // name, major, minor, variant, disc, mode
  } cases[] = {
      {{0x12, 0x00, 0x18, 0xC8, 0x6A, 'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e'},
       ReplyKind::Model,
       {{'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e'}}},
      {{0x0D, 0x00, 0x12, 0xB8, 0xF1, 9, 9, 9, 0x01, 0x05, 9, 9, 9, 'A'},
       ReplyKind::Version,
       {{}, 1, 5, 'A'}},
      {{0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01}, ReplyKind::Mode, {{}, 0, 0, 0, 0, 1}},
      {{0x11, 0x00, 0x12, 0xB8, 0x70, 1, 2, 3, 4, 0x13}, ReplyKind::Disc, {{}, 0, 0, 0, 0x13}},
      {{0x04, 0x00, 0x12, 0xB8, 0xEF}, ReplyKind::Completion, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    DeviceReport f;
    EXPECT_EQ(Match(c.reply, f), c.kind);
    EXPECT_EQ(0, std::memcmp(&f, &c.fields, sizeof f));
    // One byte short of its last field, or one head byte off, it is no reply, and nothing is stored.
    EXPECT_EQ(Match(Bytes(c.reply.begin(), c.reply.end() - 1), f), ReplyKind::None);
    Bytes off = c.reply;
    off[4] ^= 1;
    EXPECT_EQ(Match(off, f), ReplyKind::None);
    EXPECT_EQ(0, std::memcmp(&f, &c.fields, sizeof f));
  }
}
