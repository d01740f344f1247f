// ImageSender: the library path, the program's way to the deck through the maker's USB library.
// It opens the deck, pushes the firmware image in 1,024 blocks of 397 bytes and polls for the
// deck's reply.
#pragma once

#include <cstdint>

#include "delivery/TransferView.h"
#include "link/Clock.h"
#include "link/LogRing.h"
#include "link/Protocol.h"

class ImageSender {
 public:
  // Results of QueryPending, as the platform spells S_OK and E_FAIL.
  static constexpr std::int32_t kQueryOk = 0;
  static constexpr std::int32_t kQueryFailed = static_cast<std::int32_t>(0x80004005u);

  // The pauses between blocks are counted on `clock`.
  explicit ImageSender(Clock& clock = SystemClock());
  ~ImageSender();  // closes a deck still open
  ImageSender(const ImageSender&) = delete;
  ImageSender& operator=(const ImageSender&) = delete;

  // Opens the last deck the library enumerates. 1 when open; 0 after logging why not.
  std::int32_t Open();

  // Sends the whole image, one block per library call, each at least 10 ms after the previous
  // call returned (and the last followed by 10 ms), setting the view's progress to the block's
  // index before it goes out and dispatching at most one waiting message per block; that work is
  // done inside the pauses. 1 when the library took every block, with the wait cursor ended; 0 at
  // the first block it refused, with nothing sent after it, the deck left open and the wait cursor
  // still on. Writes nothing to the log.
  std::int32_t SendImage(TransferView& view);

  // Reads the deck's reply when the status shows one pending (of non-zero length): then sets
  // `accepted` to 1 and returns 1. Otherwise 0, with `accepted` unchanged. Never waits.
  std::int32_t PollAccepted();

  // Asks the deck's status. kQueryOk with the pending reply's length (0 when none is pending) in
  // `pendingLength`; kQueryFailed, with 0 there, when the query fails or delivers other than 4
  // bytes.
  std::int32_t QueryPending(std::int32_t* pendingLength);

  // Closes the deck when it is open. Always 1; harmless when nothing is open.
  std::int32_t Close();

  std::uint32_t libraryHandle = 0;  // 0: not open
  std::int32_t accepted = 0;        // the transfer stage clears it before polling
  std::int32_t blockCount = kImageBlocks;
  LogRing log;

 private:
  Clock& clock;
};
