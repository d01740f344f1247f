// Byte-level rules of the driver path: hex conversion, frames, pipe paths, the descriptor walk
// and the reply patterns. Every buffer is an exact-size heap copy, so that the sanitizers catch a
// read past its end.
#include "link/LinkCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
using Bytes = std::vector<unsigned char>;

const auto Hex = [](const char* text) { return HexToBytes(text, static_cast<int>(std::strlen(text))); };
const auto Exact = [](const Bytes& bytes) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return copy;
};
const auto Walk = [](const Bytes& block, unsigned char interfaceNumber, unsigned char index) {
  return EndpointPacketSize(Exact(block).get(), block.size(), interfaceNumber, index);
};
const auto Match = [](const Bytes& buffer, DeviceReport& fields) {
  return MatchReply(Exact(buffer).get(), static_cast<int>(buffer.size()), fields);
};

// A configuration block: the 9-byte header with wTotalLength, then the given descriptors.
Bytes Config(std::initializer_list<Bytes> parts) {
  Bytes block = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  for (const Bytes& p : parts) block.insert(block.end(), p.begin(), p.end());
  block[2] = static_cast<unsigned char>(block.size());
  return block;
}
const auto Interface = [](unsigned char number, unsigned char alternate = 0) {
  return Bytes{9, 4, number, alternate, 2, 0xFF, 0, 0, 0};
};
const auto Endpoint = [](unsigned char address, int size) {
  return Bytes{7, 5, address, 2, static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 0};
};
}  // namespace

TEST(HexText, PairsOfDigitsInEitherCaseWhatANonDigitGivesAndFramesOfTwoTo255Bytes) {
  EXPECT_EQ(Hex("0123456789abcdefABCDEF"),
            (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(Hex("G11G/:@`gGABC"),
            (Bytes{0xF1, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB}));  // a bad low digit spoils its byte
  EXPECT_TRUE(Hex("7").empty());
  EXPECT_TRUE(HexToBytes("00", -3).empty());
  // The count in lower case, the bytes in upper case.
  const unsigned char big[256] = {0x00, 0x60, 0xb0, 0xca, 0xff, 1, 2, 3, 4, 5};
  EXPECT_EQ((std::vector<std::string>{FrameText(big, 10), FrameText(big, 2), FrameText(big, 1),
                                      FrameText(big, 256)}),
            (std::vector<std::string>{"0a0060B0CAFF0102030405", "020060", "", ""}));
  EXPECT_EQ(FrameText(big, 255).substr(0, 4), "ff00");
}

TEST(PipePaths, ThreeDigitNumbersBelowADevicePathOfAtMost346Characters) {
  std::string path = "unchanged";
  ASSERT_TRUE(PipePath(std::string(346, 'x'), 7, 255, path));
  EXPECT_EQ(path, std::string(346, 'x') + "\\if007pipe255");  // with its zero, the driver's 360 bytes
  EXPECT_FALSE(PipePath(std::string(347, 'x'), 0, 1, path));
  EXPECT_EQ(path, std::string(346, 'x') + "\\if007pipe255");
}

TEST(DescriptorWalk, FindsTheEndpointsOfTheFirstMatchingInterfaceAndStopsAtBrokenDescriptors) {
  // Other interfaces and other kinds of descriptor are passed over; all 16 bits are kept. An
  // alternate setting repeating the interface number starts its own count; the first match wins.
  const Bytes classSpecific = {5, 0x24, 1, 2, 3}, hid = {4, 0x21, 0, 0};
  const Bytes mixed = Config({Interface(3), Endpoint(0x81, 8), classSpecific, Interface(0), hid,
                              Endpoint(0x02, 0x1840), Endpoint(0x83, 0xFFFF)});
  const Bytes alternates =
      Config({Interface(0, 0), Endpoint(0x01, 16), Interface(0, 1), Endpoint(0x01, 32), Endpoint(0x82, 48)});
  EXPECT_EQ((std::vector<int>{Walk(mixed, 0, 0), Walk(mixed, 0, 1), Walk(mixed, 0, 2), Walk(mixed, 3, 0),
                              Walk(mixed, 3, 1), Walk(mixed, 1, 0), Walk(alternates, 0, 0),
                              Walk(alternates, 0, 1)}),
            (std::vector<int>{0x1840, 0xFFFF, 0, 8, 0, 0, 16, 48}));
  // A descriptor running past the block, or with a bLength of 0 or 1, ends the walk; an endpoint
  // too short for wMaxPacketSize is passed over.
  const Bytes cut = Config({Interface(0), Endpoint(0x01, 64), Endpoint(0x82, 64)});
  EXPECT_EQ((std::vector<int>{
                Walk(Bytes(cut.begin(), cut.end() - 2), 0, 1), Walk(Bytes(cut.begin(), cut.end() - 2), 0, 0),
                Walk(Config({Interface(0), {0, 5, 0x01, 2, 64, 0, 0}, Endpoint(0x82, 64)}), 0, 0),
                Walk(Config({Interface(0), {1}, Endpoint(0x82, 64)}), 0, 0),
                Walk(Config({Interface(0), {4, 5, 0x01, 2}, Endpoint(0x82, 40)}), 0, 0), Walk({}, 0, 0)}),
            (std::vector<int>{0, 64, 0, 0, 40, 0}));
}

// A read shorter than its reply still matches once it holds what the reply's check compares, and
// stores what it holds of the fields; one byte less, or one head byte off, and it is no reply.
TEST(Replies, EachPatternStoresItsOwnFieldsAsFarAsTheReadHoldsThemAndNothingBeyond) {
  const struct {
    Bytes reply;
    ReplyKind kind;
    DeviceReport fields;  // name, major, minor, variant, disc, mode
    std::size_t shortest;
    DeviceReport shortFields;  // from the shortest read that matches
  } cases[] = {
      {{0x12, 0x00, 0x18, 0xC8, 0x6A, 'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e'},
       ReplyKind::Model,
       {{'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e'}},
       13,
       {{'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q'}}},
      {{0x0D, 0x00, 0x12, 0xB8, 0xF1, 9, 9, 9, 0x01, 0x05, 9, 9, 9, 'A'},
       ReplyKind::Version,
       {{}, 1, 5, 'A'},
       10,
       {{}, 1, 5}},
      {{0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01}, ReplyKind::Mode, {{}, 0, 0, 0, 0, 1}, 6, {{}, 0, 0, 0, 0, 1}},
      {{0x11, 0x00, 0x12, 0xB8, 0x70, 1, 2, 3, 4, 0x13},
       ReplyKind::Disc,
       {{}, 0, 0, 0, 0x13},
       10,
       {{}, 0, 0, 0, 0x13}},
      {{0x04, 0x00, 0x12, 0xB8, 0xEF}, ReplyKind::Completion, {}, 5, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    DeviceReport f;
    EXPECT_EQ(Match(c.reply, f), c.kind);
    EXPECT_EQ(0, std::memcmp(&f, &c.fields, sizeof f));
    DeviceReport part;
    EXPECT_EQ(Match(Bytes(c.reply.begin(), c.reply.begin() + c.shortest), part), c.kind);
    EXPECT_EQ(0, std::memcmp(&part, &c.shortFields, sizeof part));
    EXPECT_EQ(Match(Bytes(c.reply.begin(), c.reply.begin() + c.shortest - 1), f), ReplyKind::None);
    Bytes off = c.reply;
    off[4] ^= 1;
    EXPECT_EQ(Match(off, f), ReplyKind::None);
    EXPECT_EQ(0, std::memcmp(&f, &c.fields, sizeof f));
  }
}
