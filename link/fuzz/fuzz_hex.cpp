// Fuzzes the hex conversion and the frame text: any text converts to floor(n / 2) bytes without
// reading past it, and any command that can be framed converts back to its frame exactly.
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
  if (size < 2 || size > 255) {
    if (!frame.empty()) std::abort();
  } else {
    if (frame.size() != 2 + 2 * size) std::abort();
    const std::vector<unsigned char> back = HexToBytes(frame.c_str(), static_cast<int>(frame.size()));
    if (back.size() != size + 1 || back[0] != size || std::memcmp(back.data() + 1, data, size) != 0)
      std::abort();
  }

  std::string path;
  const std::string device(text.get(), size);
  const bool built = PipePath(device, size ? data[0] : 0, 1, path);
  if (built != (size <= kMaxDevicePath)) std::abort();
  return 0;
}
