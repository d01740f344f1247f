// Bytes as spaced upper-case hex ("05 00 12"), the way the emulated deck's records and reports
// and the tests that read them write every frame and block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

inline std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, i ? " %02X" : "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

inline std::string Hex(const std::vector<unsigned char>& bytes) {
  return Hex(bytes.data(), bytes.size());
}

template <std::size_t N>
std::string Hex(const std::array<unsigned char, N>& bytes) {
  return Hex(bytes.data(), N);
}
