// The one firmware image the program carries, and what is known of its layout: the version record
// at offsets 4 to 21 and the checksum at offset 0.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kFirmwareImageSize = 393216;

// The image file, put into the program as it is (FirmwareImageData.cpp).
extern "C" const unsigned char FirmwareImage[kFirmwareImageSize];

// The decimal pairs at offsets 9-10 and 12-13 of an image's version record, and its variant
// letter at offset 14.
int ImageMajor(const unsigned char* image);
int ImageMinor(const unsigned char* image);
char ImageVariant(const unsigned char* image);

// The checksum stored at offset 0 (little-endian) is the sum of the bytes from offset 4 on, as in
// an image the deck takes.
bool ImageChecksumRight(const unsigned char* image);

// Offsets 4 to 21 read "Z8KQV", two digits, ".", two digits, a capital letter, six digits, a 0.
bool ImageRecordWellFormed(const unsigned char* image);
