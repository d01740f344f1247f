// The one firmware image the program carries, and the version it reads from it.
#pragma once

#include <cstddef>

inline constexpr std::size_t kFirmwareImageSize = 393216;

extern const unsigned char FirmwareImage[kFirmwareImageSize];

// The decimal pairs at offsets 9-10 and 12-13 of an image's version record.
int ImageMajor(const unsigned char* image);
int ImageMinor(const unsigned char* image);
