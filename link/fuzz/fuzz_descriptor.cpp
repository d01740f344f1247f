// Fuzzes the walk of a configuration descriptor block: the first two input bytes choose the
// interface number and endpoint index, the rest is the block, allocated to its exact size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/LinkCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned char interfaceNumber = data[0];
  const unsigned char endpointIndex = data[1];
  const std::size_t length = size - 2;
  std::unique_ptr<unsigned char[]> block(new unsigned char[length]);
  if (length) std::memcpy(block.get(), data + 2, length);
  const int result = EndpointPacketSize(block.get(), length, interfaceNumber, endpointIndex);
  if (result < 0 || result > 0xFFFF) std::abort();
  // A block too short to hold an interface and an endpoint has nothing to find.
  if (length < 9 && result != 0) std::abort();
  return 0;
}
