#include "image/FirmwareImage.h"

namespace {
int DecimalPair(const unsigned char* digits) {
  return (digits[0] - '0') * 10 + (digits[1] - '0');
}
}  // namespace

int ImageMajor(const unsigned char* image) {
  return DecimalPair(image + 9);
}

int ImageMinor(const unsigned char* image) {
  return DecimalPair(image + 12);
}
