// The carried image: what the sender and the version check rely on.
#include "image/FirmwareImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(FirmwareImage, CarriesVersionOnePointZeroSeven) {
  EXPECT_EQ(ImageMajor(FirmwareImage), 1);
  EXPECT_EQ(ImageMinor(FirmwareImage), 7);
}

TEST(FirmwareImage, VersionRecordAndChecksumAreWhatTheDeckExpects) {
  EXPECT_EQ(0, std::memcmp(FirmwareImage + 4, "Z8KQV01.07A011128", 18));  // with its zero byte
  std::uint32_t sum = 0;
  for (std::size_t i = 4; i < kFirmwareImageSize; ++i) sum += FirmwareImage[i];
  const std::uint32_t stored = FirmwareImage[0] | FirmwareImage[1] << 8 | FirmwareImage[2] << 16 |
                               std::uint32_t(FirmwareImage[3]) << 24;
  EXPECT_EQ(stored, sum);
}

TEST(FirmwareImage, VersionIsReadFromTheDigitPairsOnly) {
  unsigned char record[22] = {};
  std::memcpy(record, "....Z8KQV12.34B991231", 21);
  EXPECT_EQ(ImageMajor(record), 12);
  EXPECT_EQ(ImageMinor(record), 34);
  std::memcpy(record, "....XXXXV00.99-------", 21);
  EXPECT_EQ(ImageMajor(record), 0);
  EXPECT_EQ(ImageMinor(record), 99);
}
