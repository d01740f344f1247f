// Byte-level rules of the command channel: hex conversion, frames, pipe paths, the descriptor walk
// and the reply patterns.
#include "link/LinkCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {
std::vector<unsigned char> Hex(const char* text) {
  return HexToBytes(text, static_cast<int>(std::strlen(text)));
}

using Bytes = std::vector<unsigned char>;

// A configuration block: the 9-byte header with wTotalLength, then the given descriptors.
Bytes Config(const Bytes& body) {
  Bytes block = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  block.insert(block.end(), body.begin(), body.end());
  block[2] = static_cast<unsigned char>(block.size());
  block[3] = static_cast<unsigned char>(block.size() >> 8);
  return block;
}

Bytes Interface(unsigned char number, unsigned char alternate = 0) {
  return {9, 4, number, alternate, 2, 0xFF, 0, 0, 0};
}

Bytes Endpoint(unsigned char address, int size) {
  return {7, 5, address, 2, static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 0};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An exact-size heap copy, so that a read past the end is caught by the sanitizers.
std::unique_ptr<unsigned char[]> Exact(const Bytes& bytes) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size()]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  return copy;
}

int Walk(const Bytes& block, unsigned char interfaceNumber, unsigned char index) {
  return EndpointPacketSize(Exact(block).get(), block.size(), interfaceNumber, index);
}

ReplyKind Match(const Bytes& buffer, DeviceReport& fields) {
  return MatchReply(Exact(buffer).get(), static_cast<int>(buffer.size()), fields);
}
}  // namespace

TEST(HexText, NibblesAndPairs) {
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(HexNibble("0123456789ABCDEF"[i]), i);
    EXPECT_EQ(HexNibble("0123456789abcdef"[i]), i);
  }
  for (char c : {'G', 'g', ' ', '/', ':', '@', '`', static_cast<char>(0xB0), static_cast<char>(0x80), '\0'})
    EXPECT_EQ(HexNibble(c), 0xFF) << int(c);

  EXPECT_EQ(Hex("0A1b"), (Bytes{0x0A, 0x1B}));
  EXPECT_EQ(Hex("G1"), (Bytes{0xF1}));  // a bad high digit still takes the low one
  EXPECT_EQ(Hex("1G"), (Bytes{0xFF}));  // a bad low digit spoils the whole byte
  EXPECT_EQ(Hex("ABC"), (Bytes{0xAB}));
  EXPECT_TRUE(Hex("").empty());
  EXPECT_TRUE(Hex("7").empty());
  EXPECT_TRUE(HexToBytes("00", -3).empty());
  EXPECT_EQ(Hex("0560B0C0A6ff"), (Bytes{0x05, 0x60, 0xB0, 0xC0, 0xA6, 0xFF}));
}

TEST(Frames, LengthInLowerCaseThenBytesInUpperCase) {
  const unsigned char two[] = {0x12, 0xAB};
  EXPECT_EQ(FrameText(two, 2), "0212AB");
  const unsigned char ten[10] = {0x00, 0x60, 0xb0, 0xca, 0xff, 1, 2, 3, 4, 5};
  EXPECT_EQ(FrameText(ten, 10), "0a0060B0CAFF0102030405");
  EXPECT_EQ(FrameText(two, 0), "");
  EXPECT_EQ(FrameText(two, 1), "");
  const unsigned char big[256] = {};
  EXPECT_EQ(FrameText(big, 255).substr(0, 4), "ff00");
  EXPECT_EQ(FrameText(big, 255).size(), 512u);
  EXPECT_EQ(FrameText(big, 256), "");  // cannot be framed in one length byte
  // The text converts back to exactly the frame.
  EXPECT_EQ(Hex(FrameText(ten, 10).c_str()), (Bytes{10, 0x00, 0x60, 0xB0, 0xCA, 0xFF, 1, 2, 3, 4, 5}));
}

TEST(PipePaths, ThreeDigitNumbersBelowTheDevicePath) {
  // Pipes 0 and 1 of interface 0 are opened by name on the emulated deck in the link tests.
  std::string path;
  ASSERT_TRUE(PipePath("D", 7, 12, path));
  EXPECT_EQ(path, "D\\if007pipe012");
  ASSERT_TRUE(PipePath("D", 255, 255, path));
  EXPECT_EQ(path, "D\\if255pipe255");
}

TEST(PipePaths, DevicePathTooLongForTheDriverIsRefused) {
  std::string path = "unchanged";
  const std::string longest(346, 'x');
  ASSERT_TRUE(PipePath(longest, 0, 1, path));
  EXPECT_EQ(path.size(), 359u);  // 346 + 13, and the terminating zero makes 360
  EXPECT_EQ(path.substr(346), "\\if000pipe001");
  path = "unchanged";
  EXPECT_FALSE(PipePath(longest + "x", 0, 1, path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_FALSE(PipePath(std::string(5000, 'y'), 0, 1, path));
}

TEST(DescriptorWalk, FindsTheEndpointsOfTheWantedInterface) {
  const Bytes block = Config(Join({Interface(0), Endpoint(0x01, 64), Endpoint(0x82, 512)}));
  EXPECT_EQ(Walk(block, 0, 0), 64);
  EXPECT_EQ(Walk(block, 0, 1), 512);
  EXPECT_EQ(Walk(block, 0, 2), 0);
  EXPECT_EQ(Walk(block, 1, 0), 0);

  // Other interfaces and other kinds of descriptor are passed over; all 16 bits are kept.
  const Bytes mixed = Config(Join({Interface(3), Endpoint(0x81, 8), Bytes{5, 0x24, 1, 2, 3}, Interface(0),
                                   Bytes{4, 0x21, 0, 0}, Endpoint(0x02, 0x1840), Endpoint(0x83, 0xFFFF)}));
  EXPECT_EQ(Walk(mixed, 0, 0), 0x1840);
  EXPECT_EQ(Walk(mixed, 0, 1), 0xFFFF);
  EXPECT_EQ(Walk(mixed, 3, 0), 8);
  EXPECT_EQ(Walk(mixed, 3, 1), 0);
}

TEST(DescriptorWalk, OneEndpointOnlyAndAlternateSettings) {
  EXPECT_EQ(Walk(Config(Join({Interface(0), Endpoint(0x01, 64)})), 0, 1), 0);
  // An alternate setting repeating the interface number starts its own count; the first match wins.
  const Bytes alternates = Config(
      Join({Interface(0, 0), Endpoint(0x01, 16), Interface(0, 1), Endpoint(0x01, 32), Endpoint(0x82, 48)}));
  EXPECT_EQ(Walk(alternates, 0, 0), 16);
  EXPECT_EQ(Walk(alternates, 0, 1), 48);
}

TEST(DescriptorWalk, StopsAtTheEndOfTheBlockAndAtBrokenDescriptors) {
  const Bytes good = Config(Join({Interface(0), Endpoint(0x01, 64), Endpoint(0x82, 64)}));
  // A block cut before the second endpoint: that endpoint is not there.
  EXPECT_EQ(Walk(Bytes(good.begin(), good.end() - 7), 0, 1), 0);
  // Cut inside the second endpoint: it runs past the block.
  EXPECT_EQ(Walk(Bytes(good.begin(), good.end() - 2), 0, 1), 0);
  EXPECT_EQ(Walk(Bytes(good.begin(), good.end() - 2), 0, 0), 64);
  // A zero bLength ends the walk (it would never move on).
  EXPECT_EQ(Walk(Config(Join({Interface(0), Bytes{0, 5, 0x01, 2, 64, 0, 0}, Endpoint(0x82, 64)})), 0, 0), 0);
  // So does a one-byte descriptor, and a lone byte at the end.
  EXPECT_EQ(Walk(Config(Join({Interface(0), Bytes{1}, Endpoint(0x82, 64)})), 0, 0), 0);
  EXPECT_EQ(Walk(Join({Config(Interface(0)), Bytes{7}}), 0, 0), 0);
  // An endpoint too short to hold wMaxPacketSize is passed over, not read past.
  EXPECT_EQ(Walk(Config(Join({Interface(0), Bytes{4, 5, 0x01, 2}, Endpoint(0x82, 40)})), 0, 0), 40);
  EXPECT_EQ(Walk(Bytes{}, 0, 0), 0);
}

TEST(Replies, EachPatternStoresItsOwnFieldsOnly) {
  const struct {
    Bytes reply;
    ReplyKind kind;
    DeviceReport fields;  // name, major, minor, variant, disc, mode
  } cases[] = {
      {{0x12, 0x00, 0x18, 0xC8, 0x6A, 'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e', 'Z'},
       ReplyKind::Model,
       {{'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 'a', 'b', 'c', 'd', 'e'}}},
      {{0x0D, 0x00, 0x12, 0xB8, 0xF1, 9, 9, 9, 0x01, 0x05, 9, 9, 9, 'A'},
       ReplyKind::Version,
       {{}, 1, 5, 'A'}},
      {{0x05, 0x00, 0x12, 0xB8, 0xCA, 0x01}, ReplyKind::Mode, {{}, 0, 0, 0, 0, 1}},
      {{0x11, 0x00, 0x12, 0xB8, 0x70, 1, 2, 3, 4, 0x13, 5, 6, 7, 8, 9, 10, 11, 12},
       ReplyKind::Disc,
       {{}, 0, 0, 0, 0x13}},
      {{0x04, 0x00, 0x12, 0xB8, 0xEF}, ReplyKind::Completion, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    DeviceReport f;
    EXPECT_EQ(Match(c.reply, f), c.kind);
    EXPECT_EQ(0, std::memcmp(&f, &c.fields, sizeof f));
  }
}

TEST(Replies, NearMissesAndShortBuffersMatchNothing) {
  DeviceReport f;
  f.versionMajor = 7;
  f.modelName[0] = 'x';
  EXPECT_EQ(
      Match({0x12, 0x00, 0x18, 0xC8, 0x6B, 'H', 'V', 'X', '-', 'Z', '8', 'K', 'Q', 0, 0, 0, 0, 0, 0}, f),
      ReplyKind::None);
  EXPECT_EQ(Match({0x00, 0x60, 0x01}, f), ReplyKind::None);
  EXPECT_EQ(f.versionMajor, 7);  // untouched
  EXPECT_EQ(f.modelName[0], 'x');

  // A reply whose fields lie beyond the buffer matches nothing.
  Bytes model = {0x12, 0x00, 0x18, 0xC8, 0x6A, 'H', 'V', 'X', '-',
                 'Z',  '8',  'K',  'Q',  ' ',  ' ', ' ', ' ', ' '};
  EXPECT_EQ(Match(model, f), ReplyKind::Model);  // 18 bytes reach byte 17, the last one stored
  model.pop_back();
  EXPECT_EQ(Match(model, f), ReplyKind::None);
  EXPECT_EQ(Match(Bytes(model.begin(), model.begin() + 8), f), ReplyKind::None);
  EXPECT_EQ(Match({0x0D, 0x00, 0x12, 0xB8, 0xF1, 0, 0, 0, 1, 5, 0, 0, 0}, f), ReplyKind::None);
  EXPECT_EQ(Match({0x05, 0x00, 0x12, 0xB8, 0xCA}, f), ReplyKind::None);
  EXPECT_EQ(Match({0x11, 0x00, 0x12, 0xB8, 0x70, 1, 2, 3, 4}, f), ReplyKind::None);
  EXPECT_EQ(Match({0x04, 0x00, 0x12, 0xB8}, f), ReplyKind::None);
  EXPECT_EQ(Match({}, f), ReplyKind::None);
  EXPECT_EQ(f.versionMajor, 7);
}
