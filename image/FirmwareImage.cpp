#include "image/FirmwareImage.h"

#include <cstring>

namespace {
constexpr std::size_t kRecordAt = 4;
constexpr std::size_t kMajorAt = 9, kMinorAt = 12, kVariantAt = 14, kDateAt = 15, kRecordEndAt = 21;
constexpr char kModel[] = "Z8KQV";

int DecimalPair(const unsigned char* digits) {
  return (digits[0] - '0') * 10 + (digits[1] - '0');
}

bool Digits(const unsigned char* at, int count) {
  for (int i = 0; i < count; ++i)
    if (at[i] < '0' || at[i] > '9') return false;
  return true;
}
}  // namespace

int ImageMajor(const unsigned char* image) {
  return DecimalPair(image + kMajorAt);
}

int ImageMinor(const unsigned char* image) {
  return DecimalPair(image + kMinorAt);
}

char ImageVariant(const unsigned char* image) {
  return static_cast<char>(image[kVariantAt]);
}

bool ImageChecksumRight(const unsigned char* image) {
  std::uint32_t sum = 0;
  for (std::size_t i = kRecordAt; i < kFirmwareImageSize; ++i) sum += image[i];
  return sum == (image[0] | image[1] << 8 | image[2] << 16 | std::uint32_t(image[3]) << 24);
}

bool ImageRecordWellFormed(const unsigned char* image) {
  return std::memcmp(image + kRecordAt, kModel, sizeof kModel - 1) == 0 && Digits(image + kMajorAt, 2) &&
         image[kMajorAt + 2] == '.' && Digits(image + kMinorAt, 2) && image[kVariantAt] >= 'A' &&
         image[kVariantAt] <= 'Z' && Digits(image + kDateAt, 6) && image[kRecordEndAt] == 0;
}
