// Fuzzes the hex conversion and the frame text: any text converts to floor(n / 2) bytes without
// reading past it, and any command of 2 to 255 bytes, and no other, converts back from its frame.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "link/LinkCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> text(new char[size]);
  if (size) std::memcpy(text.get(), data, size);
  const int count = static_cast<int>(size);
  const std::vector<unsigned char> bytes = HexToBytes(text.get(), count);
  if (bytes.size() != size / 2) std::abort();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char high = HexNibble(text[2 * i]), low = HexNibble(text[2 * i + 1]);
    if (low == 0xFF && bytes[i] != 0xFF) std::abort();
    if (high != 0xFF && low != 0xFF && bytes[i] != (high << 4 | low)) std::abort();
  }

  const std::string frame = FrameText(data, count);
  if (size >= 2 && size <= 255 ? frame.size() != 2 + 2 * size : !frame.empty()) std::abort();
  const std::vector<unsigned char> back = HexToBytes(frame.c_str(), static_cast<int>(frame.size()));
  if (!frame.empty() && (back[0] != size || std::memcmp(back.data() + 1, data, size) != 0)) std::abort();
  return 0;
}
