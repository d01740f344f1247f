// The emulated library as an oracle: each way a caller can get the library path wrong is a fault
// of its own kind, and a faithful transfer none.
#include "emulator/EmulatedLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

#include "delivery/TavroUSB.h"
#include "emulator/LibraryBackend.h"
#include "image/FirmwareImage.h"
#include "tests/support/DeckFixture.h"

namespace {
using Block = std::vector<std::uint8_t>;

// The block of the program's image at `offset`, with its header.
Block BlockAt(std::uint32_t offset) {
  Block b(kBlockLength);
  std::memcpy(b.data(), kBlockHeader, kBlockHeaderLength);
  for (int i = 0; i < 4; ++i) b[kBlockOffsetAt + i] = std::uint8_t(offset >> (24 - 8 * i));
  std::memcpy(b.data() + kBlockHeaderLength, FirmwareImage + offset, kImageBytesPerBlock);
  return b;
}

// A deck bound to the six functions, and the program's link to it.
struct Deck : Reading {
  explicit Deck(const char* scenario) : Reading(Named(scenario)), binding(deck) {}
  void Open(int index) { VornUsbGetDeviceName(index, name), VornUsbOpen(name, &handle); }
  // One block as it arrives, then the deck's pause.
  void Send(Block b, int length = kBlockLength, int code = kLibraryTransferCode,
            double pauseMs = kBlockPauseMs) {
    VornUsbControlSend(handle, code, b.data(), length);
    deck.events.Skip(pauseMs);
  }
  // Blocks 0 to 1,023, `change` altering each on the way out; then the time the reply takes.
  void SendAll(const std::function<void(int, Block&)>& change = [](int, Block&) {}) {
    for (int i = 0; i < kImageBlocks; ++i) {
      Block b = BlockAt(std::uint32_t(i) * kImageBytesPerBlock);
      change(i, b);
      Send(b);
    }
    deck.events.Skip(deck.scenario.acceptAfterMs);
  }
  void Read(int code, int length) {
    unsigned char buffer[1024];
    std::uint32_t got = 0;
    VornUsbControlRecive(handle, code, buffer, length, &got);
  }
  LibraryDeckBinding binding;
  std::uint32_t handle = 0;
  char name[kDeviceNameLength] = {};
};

// The calls a case is made of, as the program makes them or as it must not.
const std::map<std::string, std::function<void(Deck&)>> kSteps = {
    {"request", [](Deck& d) { d.link.RequestRewrite(); }},
    {"open", [](Deck& d) { d.Open(VornUsbEnumerateDevices() - 1); }},
    {"image", [](Deck& d) { d.SendAll(); }},
    {"block-0", [](Deck& d) { d.Send(BlockAt(0)); }},
    {"block-0-then-9-ms", [](Deck& d) { d.Send(BlockAt(0), kBlockLength, kLibraryTransferCode, 9); }},
    {"block-1", [](Deck& d) { d.Send(BlockAt(384)); }},
    {"block-at-385", [](Deck& d) { d.Send(BlockAt(385)); }},
    {"block-of-396", [](Deck& d) { d.Send(BlockAt(0), 396); }},
    {"block-code-254", [](Deck& d) { d.Send(BlockAt(0), 397, 254); }},
    {"block-other-handle", [](Deck& d) { d.handle += 1, d.Send(BlockAt(0)); }},
    {"image-5-6-swapped",
     [](Deck& d) { d.SendAll([](int i, Block& b) { b = i == 5 || i == 6 ? BlockAt((11 - i) * 384) : b; }); }},
    {"image-header-2-changed", [](Deck& d) { d.SendAll([](int i, Block& b) { b[2] ^= i == 2; }); }},
    {"image-byte-changed", [](Deck& d) { d.SendAll([](int i, Block& b) { b[20] ^= i == 100; }); }},
    // A major version of ":'", with the same sum: the checksum stays right.
    {"image-record-changed",
     [](Deck& d) { d.SendAll([](int i, Block& b) { b[22] += 10 * !i, b[23] -= 10 * !i; }); }},
    {"status", [](Deck& d) { d.Read(kLibraryStatusCode, kStatusLength); }},
    {"status-of-3", [](Deck& d) { d.Read(kLibraryStatusCode, 3); }},
    {"reply", [](Deck& d) { d.Read(kLibraryTransferCode, kReplyReadLength); }},
    {"read-254", [](Deck& d) { d.Read(254, kReplyReadLength); }},
    {"close", [](Deck& d) { VornUsbClose(d.handle); }},
    {"open-stranger",
     [](Deck& d) { std::strcpy(d.name, "SOME-OTHER-DEVICE"), VornUsbOpen(d.name, &d.handle); }},
    {"name-2", [](Deck& d) { VornUsbGetDeviceName(2, d.name); }},
    {"open-0", [](Deck& d) { d.Open(0); }},
};
}  // namespace

// Each misuse is recorded by its kind, and a block the deck judges a fault is refused as well: the
// transfer is over, and the blocks taken are those before it.
TEST(EmulatedLibraryChecks, EachMisuseIsRecordedByItsKindAndAFaithfulTransferByNone) {
  const std::tuple<const char*, const char*, const char*, int> cases[] = {
      // scenario, calls, fault kinds, blocks taken
      {"success", "request open image status reply close", "", 1024},
      {"success", "open block-0 block-1", "block-before-rewrite block-after-refusal", 0},
      {"success", "request open block-0-then-9-ms block-1", "block-too-soon", 1},
      {"success", "request open image block-0", "block-after-image", 1024},
      {"success", "request open block-0 block-at-385", "block-misaligned", 1},
      {"success", "request open image-5-6-swapped", "block-out-of-order block-out-of-order", 1024},
      {"success", "request open image-header-2-changed", "block-header", 1024},
      {"success", "request open image-byte-changed status reply", "reply-not-pending", 1024},  // not taken
      {"success", "request open image-record-changed status reply", "reply-not-pending", 1024},
      {"success", "request open block-of-396 block-code-254 block-other-handle",
       "block-call block-call handle-not-open", 0},
      {"success", "request open close close", "handle-not-open", 0},
      {"refuse-block-0", "request open block-0 block-0", "block-after-refusal", 0},
      {"library-two-decks", "request open-stranger name-2 open-0 block-0", "open-name name-index other-deck",
       0},
      {"success", "request open image reply", "reply-not-pending", 1024},
      {"pending-flag-2", "request open image status reply", "reply-not-pending", 1024},
      {"zero-pending-length", "request open image status reply", "reply-not-pending", 1024},
      {"success", "request open image status reply reply", "reply-not-pending", 1024},
      {"short-status", "request open image status reply", "reply-after-short-status", 1024},
      {"success", "request open image status-of-3 reply", "status-length reply-after-short-status", 1024},
      {"success", "request open image status read-254", "read-code", 1024},
  };
  for (const auto& [scenario, steps, kinds, taken] : cases) {
    SCOPED_TRACE(std::string(scenario) + ": " + steps);
    Deck d(scenario);
    std::istringstream calls(steps);
    for (std::string step; calls >> step;) kSteps.at(step)(d);
    std::string faults;
    for (const std::string& kind : d.deck.Library().Counters().faultKinds)
      faults += (faults.empty() ? "" : " ") + kind;
    EXPECT_EQ(faults, kinds);
    EXPECT_EQ(d.deck.Library().Counters().blocksReceived, taken);
  }
}

// One cable for both paths: pulled as block 500 comes, it leaves the library listing nothing and
// every call on the handle opened before failing, even once the deck is back; none of it is a fault
// of the program, and the handle is given back on its close.
TEST(EmulatedLibraryCable, PulledAtABlockItFailsThatBlockAndEveryLaterCallOnTheHandle) {
  Deck d("unplug-at-block-500");
  d.link.RequestRewrite();
  d.Open(VornUsbEnumerateDevices() - 1);
  int sent = 0;
  for (int i = 0; i <= 500; ++i) {
    Block b = BlockAt(std::uint32_t(i) * kImageBytesPerBlock);
    sent += VornUsbControlSend(d.handle, kLibraryTransferCode, b.data(), kBlockLength);
    d.deck.events.Skip(kBlockPauseMs);
  }
  EXPECT_EQ(sent, 500);
  EXPECT_FALSE(d.deck.Driver().Plugged());
  std::uint32_t other = 0, got = 7;
  unsigned char status[kStatusLength] = {};
  EXPECT_EQ((std::vector<int>{VornUsbEnumerateDevices(), VornUsbGetDeviceName(0, d.name),
                              VornUsbOpen(d.name, &other)}),
            (std::vector<int>{0, 0, 0}));
  d.deck.Driver().Plug();
  EXPECT_EQ(VornUsbControlRecive(d.handle, kLibraryStatusCode, status, kStatusLength, &got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(VornUsbClose(d.handle), 0);
  EXPECT_EQ(VornUsbEnumerateDevices(), 1);
  const EmulatedLibrary::Counts c = d.deck.Library().Counters();
  EXPECT_EQ((std::vector<int>{c.blocksReceived, c.sendCalls, c.openHandles}),
            (std::vector<int>{500, 501, 0}));
  EXPECT_EQ(c.faultKinds, std::vector<std::string>{});
}
