#include "emulator/EmulatedLibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "emulator/EmulatedDeck.h"
#include "emulator/EmulatedDriver.h"
#include "emulator/Hex.h"
#include "image/FirmwareImage.h"
#include "link/Protocol.h"

namespace {
constexpr int kFaultsKept = 20;    // in detail; the rest are counted
constexpr int kReplyLength = 260;  // both bytes of the status's length field in use
// What a refused open leaves in the caller's handle: nothing promises it is left alone, and it is
// never a handle to use or close.
constexpr std::uint32_t kLeftByARefusal = 0xFFFFFFFFu;
// Less than this between the return of one block's call and the next block, and the deck misses
// the block's start: it needs 10 ms, and the difference is left to clock granularity.
constexpr double kShortestPauseMs = kBlockPauseMs - 0.5;
// The bus time of a control transfer: a block or the reply, and the 4-byte status.
constexpr double kTransferCallMs = 1;
constexpr double kStatusCallMs = 0.1;

std::string Offset(std::uint32_t offset) {
  const std::uint8_t bytes[4] = {std::uint8_t(offset >> 24), std::uint8_t(offset >> 16),
                                 std::uint8_t(offset >> 8), std::uint8_t(offset)};
  return Hex(bytes, 4) + " (" + std::to_string(offset) + ")";
}

std::uint32_t OffsetOf(const std::uint8_t* block) {
  const std::uint8_t* at = block + kBlockOffsetAt;
  return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

std::string HandleText(std::uint32_t handle) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", handle);
  return text;
}

// "5, 17-20, 31" for the indexes not in `filled`.
std::string Missing(const std::vector<bool>& filled) {
  std::string out;
  const int n = static_cast<int>(filled.size());
  for (int i = 0; i < n;) {
    if (filled[i]) {
      ++i;
      continue;
    }
    int j = i;
    while (j + 1 < n && !filled[j + 1]) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(i);
    if (j > i) out += "-" + std::to_string(j);
    i = j + 1;
  }
  return out;
}
}  // namespace

EmulatedLibrary::EmulatedLibrary(EmulatedDeck& deck)
    : deck(deck), image(kFirmwareImageSize, 0), filled(kImageBlocks, false) {}

EmulatedLibrary::~EmulatedLibrary() = default;

void EmulatedLibrary::Note(const char* kind, const std::string& text) {
  deck.events.Add("library", kind, text);
}

std::string EmulatedLibrary::DeckName(int index) const {
  return "TAVRO-HVX-Z8KQ-" + std::to_string(index);
}

int EmulatedLibrary::EnumerateDevices() {
  const bool plugged = deck.Driver().Cable() >= 0;
  std::lock_guard<std::mutex> hold(lock);
  ++enumerateCalls;
  const int decks = plugged ? deck.scenario.libraryDecks : 0;
  Note("enumerate",
       "enumerate: " + std::to_string(decks) + " deck(s)" + (plugged ? "" : ", the cable is out"));
  return decks;
}

int EmulatedLibrary::GetDeviceName(int index, char* name) {
  const bool plugged = deck.Driver().Cable() >= 0;
  std::lock_guard<std::mutex> hold(lock);
  if (!plugged) {
    Note("name", "name of deck " + std::to_string(index) + ": none, the cable is out");
    return 0;
  }
  if (!name) {
    Fault("bad-call", "device name asked with no buffer");
    return 0;
  }
  if (index < 0 || index >= deck.scenario.libraryDecks) {
    Fault("name-index", "name of deck " + std::to_string(index) + " asked, " +
                            std::to_string(deck.scenario.libraryDecks) + " enumerated");
    return 0;
  }
  if (deck.scenario.nameRefused) {
    Note("name", "name of deck " + std::to_string(index) + ": refused");
    return 0;
  }
  const std::string text = DeckName(index);
  std::snprintf(name, kDeviceNameLength, "%s", text.c_str());
  Note("name", "name of deck " + std::to_string(index) + ": " + text);
  return 1;
}

int EmulatedLibrary::Open(const char* name, std::uint32_t* handle) {
  const int cable = deck.Driver().Cable();
  std::lock_guard<std::mutex> hold(lock);
  if (!name || !handle) {
    Fault("bad-call", "open with no name or no handle");
    return 0;
  }
  const void* end = std::memchr(name, 0, kDeviceNameLength);
  const std::string text(name, end ? static_cast<const char*>(end) : name + kDeviceNameLength);
  if (deck.scenario.openRefused || cable < 0) {
    *handle = kLeftByARefusal;
    Note("open", "open " + text + ": refused" + (cable < 0 ? ", the cable is out" : ""));
    return 0;
  }
  int index = -1;
  for (int i = 0; i < deck.scenario.libraryDecks; ++i)
    if (DeckName(i) == text) index = i;
  if (index < 0) {
    Fault("open-name", "open of \"" + text + "\", which no deck is called");
    return 0;
  }
  *handle = nextHandle++;
  openHandles.push_back({*handle, index, cable});
  openedDeck = index;
  Note("open", "open " + text + ": handle " + HandleText(*handle) +
                   (index == deck.scenario.libraryDecks - 1 ? "" : " (not this deck)"));
  return 1;
}

const EmulatedLibrary::OpenDeck* EmulatedLibrary::FindOpen(std::uint32_t handle) const {
  for (const OpenDeck& h : openHandles)
    if (h.handle == handle) return &h;
  return nullptr;
}

bool EmulatedLibrary::Live(const OpenDeck& open, int cable, const char* call) {
  if (open.cable == cable) return true;
  Note("call-failed",
       std::string(call) + " on handle " + HandleText(open.handle) + " failed: the cable was pulled");
  return false;
}

void EmulatedLibrary::PullCableAtItsBlock() {
  bool pull;
  {
    std::lock_guard<std::mutex> hold(lock);
    pull = !cablePulled && blocksReceived == deck.scenario.unplugAtBlock;
    cablePulled = cablePulled || pull;
  }
  if (pull) deck.Driver().Unplug();
}

int EmulatedLibrary::ControlSend(std::uint32_t handle, int code, const void* data, int length) {
  PullCableAtItsBlock();
  const int cable = deck.Driver().Cable();
  const bool rewriteRequested = deck.Driver().RewriteRequested();
  const double arrived = deck.events.Now();
  int result;
  {
    std::lock_guard<std::mutex> hold(lock);
    result = Send(handle, code, data, length, arrived, rewriteRequested, cable);
  }
  // A control transfer takes bus time, and the deck's pause after a block runs from the moment its
  // call gives the program control back.
  deck.events.Spend(kTransferCallMs);
  std::lock_guard<std::mutex> hold(lock);
  lastReturnMs = deck.events.Now();
  return result;
}

int EmulatedLibrary::Send(std::uint32_t handle, int code, const void* data, int length, double arrived,
                          bool rewriteRequested, int cable) {
  ++sendCalls;
  const OpenDeck* open = FindOpen(handle);
  if (!open) {
    Fault("handle-not-open", "block sent on handle " + HandleText(handle) + ", which is not open");
    return 0;
  }
  if (!Live(*open, cable, "block")) return 0;
  if (open->index != deck.scenario.libraryDecks - 1) {
    Fault("other-deck",
          "block sent to deck " + std::to_string(open->index) + ", not to this deck (the last enumerated)");
    return 0;
  }
  if (code != kLibraryTransferCode || !data || length != kBlockLength) {
    Fault("block-call", "block sent with code " + std::to_string(code) + " and " + std::to_string(length) +
                            " bytes; expected code 255 and 397 bytes");
    return 0;
  }
  const int index = blocksReceived;
  double pause = -1;
  if (lastReturnMs >= 0) pauses.push_back(pause = arrived - lastReturnMs);
  if (refused) {
    Fault("block-after-refusal", "block " + std::to_string(index) + " sent after the refused one");
    return 0;
  }
  if (index >= kImageBlocks) {
    Fault("block-after-image", "block " + std::to_string(index) + " sent after the whole image");
    return 0;
  }
  // Its form is judged whether or not the deck takes it.
  const bool wellFormed = HeaderRight(index, static_cast<const std::uint8_t*>(data));
  // What the deck judges a fault it refuses, as a real deck would, and the transfer is over.
  const std::size_t before = faults.size();
  if (!rewriteRequested)
    Fault("block-before-rewrite", "block " + std::to_string(index) + " arrived before the rewrite request");
  if (pause >= 0 && pause < kShortestPauseMs) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "block %d arrived %.2f ms after the previous call returned; 10 ms needed", index, pause);
    Fault("block-too-soon", text);
  }
  const std::uint32_t offset = OffsetOf(static_cast<const std::uint8_t*>(data));
  if (offset % kImageBytesPerBlock != 0)
    Fault("block-misaligned",
          "block " + std::to_string(index) + ": offset " + Offset(offset) + " is not a multiple of 384");
  if (faults.size() > before || index == deck.scenario.refuseBlock) {
    refused = true;
    Note("block", "block " + std::to_string(index) + ": refused");
    return 0;
  }
  TakeBlock(index, static_cast<const std::uint8_t*>(data), offset, arrived, wellFormed);
  if (index == 0)
    Note("block", std::string("block 0 arrived; the rewrite request came before it: ") +
                      (rewriteRequested ? "yes" : "no"));
  if (blocksReceived == kImageBlocks) Judge();
  return 1;
}

bool EmulatedLibrary::HeaderRight(int index, const std::uint8_t* block) {
  if (std::memcmp(block, kBlockHeader, kBlockOffsetAt) == 0 &&
      std::memcmp(block + kBlockOffsetAt + 4, kBlockHeader + kBlockOffsetAt + 4, 4) == 0)
    return true;
  Fault("block-header", "block " + std::to_string(index) +
                            ": header expected 01 00 02 01 80 .. 00 06 00 00, arrived " +
                            Hex(block, kBlockHeaderLength));
  return false;
}

void EmulatedLibrary::TakeBlock(int index, const std::uint8_t* block, std::uint32_t offset, double arrived,
                                bool good) {
  if (index == 0) firstBlockMs = arrived;
  lastBlockMs = arrived;

  std::array<std::uint8_t, kBlockHeaderLength> header;
  std::memcpy(header.data(), block, kBlockHeaderLength);
  headers.push_back(header);
  ++blocksReceived;

  const std::uint32_t expected = std::uint32_t(index) * kImageBytesPerBlock;
  if (offset != expected) {
    good = false;
    std::string why;
    if (offset >= kFirmwareImageSize) {
      why = "past the end of the image";
    } else if (offset < expected) {
      why = filled[offset / kImageBytesPerBlock] ? "a block repeated" : "a block out of order";
    } else {
      why = "blocks skipped";
    }
    Fault("block-out-of-order", "block " + std::to_string(index) + ": offset expected " + Offset(expected) +
                                    ", arrived " + Offset(offset) + ": " + why);
  }
  if (offset < kFirmwareImageSize) {
    std::memcpy(image.data() + offset, block + kBlockHeaderLength, kImageBytesPerBlock);
    filled[offset / kImageBytesPerBlock] = true;
  }
  if (!good) ++blockFaults;
}

void EmulatedLibrary::Judge() {
  complete = blockFaults == 0 && std::all_of(filled.begin(), filled.end(), [](bool b) { return b; });
  checksumRight = ImageChecksumRight(image.data());
  recordRight = ImageRecordWellFormed(image.data());
  imageGood = complete && checksumRight && recordRight;
  std::string when;
  if (imageGood)
    when = deck.scenario.acceptAfterMs < 0
               ? "; no reply will be offered"
               : "; reply in " + std::to_string(deck.scenario.acceptAfterMs) + " ms";
  Note("block", std::string("block 1023 arrived: image ") + (complete ? "complete; " : "not complete; ") +
                    (checksumRight ? "checksum right" : "checksum wrong") +
                    (recordRight ? ", version record right" : ", version record wrong") +
                    (imageGood ? ": taken" : ": not taken") + when);
}

bool EmulatedLibrary::ReplyPending() const {
  return imageGood && !replyTaken && deck.scenario.acceptAfterMs >= 0 &&
         deck.events.Now() - lastBlockMs >= deck.scenario.acceptAfterMs;
}

int EmulatedLibrary::ControlRecive(std::uint32_t handle, int code, void* buffer, int length,
                                   std::uint32_t* received) {
  const int cable = deck.Driver().Cable();
  bool accepted = false;
  int result;
  {
    std::lock_guard<std::mutex> hold(lock);
    result = Recive(handle, code, buffer, length, received, cable, accepted);
  }
  deck.events.Spend(code == kLibraryStatusCode ? kStatusCallMs : kTransferCallMs);
  // Outside the lock: the emulated driver answers to its own lock.
  if (accepted) deck.Driver().ImageAccepted();
  return result;
}

int EmulatedLibrary::Recive(std::uint32_t handle, int code, void* buffer, int length, std::uint32_t* received,
                            int cable, bool& accepted) {
  const OpenDeck* open = FindOpen(handle);
  if (!open) {
    Fault("handle-not-open", "read with code " + std::to_string(code) + " on handle " + HandleText(handle) +
                                 ", which is not open");
    return 0;
  }
  if (!Live(*open, cable, "read")) {
    if (received) *received = 0;
    return 0;
  }
  if (!buffer || !received || length < 0) {
    Fault("bad-call", "read with code " + std::to_string(code) + " with no buffer or no count");
    return 0;
  }
  if (code == kLibraryStatusCode) return Status(static_cast<std::uint8_t*>(buffer), length, received);
  if (code != kLibraryTransferCode) {
    Fault("read-code", "read with code " + std::to_string(code) + "; expected 1 (status) or 255 (reply)");
    return 0;
  }
  JudgeReplyRead();
  told = Told::Nothing;
  if (!ReplyPending()) {
    *received = 0;
    return 0;
  }
  const int delivered = deck.scenario.emptyReply ? 0 : std::min(length, kReplyLength);
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (int i = 0; i < delivered; ++i) out[i] = static_cast<std::uint8_t>(i == 0 ? 0x01 : i);
  *received = delivered;
  replyTaken = true;
  ++replyReads;
  Note("reply-read", "reply read: " + std::to_string(delivered) + " bytes delivered");
  accepted = true;
  return 1;
}

void EmulatedLibrary::JudgeReplyRead() {
  switch (told) {
    case Told::Pending:
      return;
    case Told::NotWhole:
      Fault("reply-after-short-status",
            "reply read after a status read of other than 4 bytes (" + toldText + ")");
      return;
    case Told::NonePending:
      Fault("reply-not-pending", "reply read while the status said none is pending (" + toldText + ")");
      return;
    case Told::Nothing:
      Fault("reply-not-pending", "reply read with no status read before it");
      return;
  }
}

int EmulatedLibrary::Status(std::uint8_t* buffer, int length, std::uint32_t* received) {
  ++statusReads;
  if (length != kStatusLength)
    Fault("status-length", "status read of " + std::to_string(length) + " bytes; expected 4");
  const bool pending = ReplyPending();
  const int replyLength = pending && !deck.scenario.zeroPendingLength ? kReplyLength : 0;
  // Byte 1 is deck state the program does not examine; it is never 0 so that a length read
  // from the wrong bytes shows.
  const std::uint8_t status[kStatusLength] = {std::uint8_t(pending ? deck.scenario.pendingFlag : 0), 0x80,
                                              std::uint8_t(replyLength & 0xFF),
                                              std::uint8_t(replyLength >> 8)};
  const int delivered = std::min(length, deck.scenario.shortStatus ? kStatusLength - 1 : kStatusLength);
  std::memcpy(buffer, status, delivered);
  *received = delivered;
  toldText = Hex(status, delivered);
  if (delivered != kStatusLength || length != kStatusLength)
    told = Told::NotWhole;
  else
    told = status[0] == kReplyPending && replyLength != 0 ? Told::Pending : Told::NonePending;
  if (pending && !pendingSeen) {
    pendingSeen = true;
    Note("status", "status read " + std::to_string(statusReads) + ": reply pending, status " +
                       Hex(status, kStatusLength) + ", " + std::to_string(delivered) + " bytes delivered");
  }
  return 1;
}

int EmulatedLibrary::Close(std::uint32_t handle) {
  const int cable = deck.Driver().Cable();
  std::lock_guard<std::mutex> hold(lock);
  ++closeCalls;
  const auto open = std::find_if(openHandles.begin(), openHandles.end(),
                                 [&](const OpenDeck& h) { return h.handle == handle; });
  if (open == openHandles.end()) {
    Fault("handle-not-open", "close of handle " + HandleText(handle) + ", which is not open");
    return 0;
  }
  // A dead handle is given back all the same; only the call fails.
  const bool live = Live(*open, cable, "close");
  openHandles.erase(open);
  Note("close", "close handle " + HandleText(handle));
  return live ? 1 : 0;
}

void EmulatedLibrary::Fault(const char* kind, std::string what) {
  if (static_cast<int>(faults.size()) < kFaultsKept) Note("fault", "FAULT: " + what);
  faults.push_back({kind, std::move(what)});
}

EmulatedLibrary::Counts EmulatedLibrary::Counters() const {
  std::lock_guard<std::mutex> hold(lock);
  Counts c{openedDeck,     static_cast<int>(openHandles.size()),
           closeCalls,     sendCalls,
           blocksReceived, headers,
           Identical(),    statusReads,
           replyReads,     {}};
  for (const FaultRecord& f : faults) c.faultKinds.push_back(f.kind);
  return c;
}

bool EmulatedLibrary::Identical() const {
  return complete && std::memcmp(image.data(), FirmwareImage, kFirmwareImageSize) == 0;
}

std::vector<std::uint8_t> EmulatedLibrary::Image() const {
  std::lock_guard<std::mutex> hold(lock);
  return image;
}

std::string EmulatedLibrary::ImageVerdict() const {
  if (blocksReceived == 0) return "nothing received";
  const int in = static_cast<int>(std::count(filled.begin(), filled.end(), true));
  if (in < kImageBlocks)
    return "incomplete, " + std::to_string(in) + " of 1024 blocks in; missing " + Missing(filled);
  if (blockFaults > 0) return "all blocks in, " + std::to_string(blockFaults) + " of them faulty";
  int differ = 0;
  std::size_t first = 0;
  for (std::size_t i = kFirmwareImageSize; i-- > 0;)
    if (image[i] != FirmwareImage[i]) {
      ++differ;
      first = i;
    }
  if (differ == 0) return "complete, byte-identical";
  char text[128];
  std::snprintf(text, sizeof text,
                "complete, differs in %d bytes, first at offset %zu (expected %02X, arrived %02X)", differ,
                first, FirmwareImage[first], image[first]);
  return text;
}

Json EmulatedLibrary::Report() const {
  std::lock_guard<std::mutex> hold(lock);
  Json pauseFigures = Json::Object().Add("count", static_cast<int>(pauses.size()));
  if (!pauses.empty()) {
    std::vector<double> sorted = pauses;
    std::sort(sorted.begin(), sorted.end());
    pauseFigures.Add("minMs", sorted.front())
        .Add("medianMs", sorted[sorted.size() / 2])
        .Add("maxMs", sorted.back());
  }
  Json faultList = Json::Array();
  for (const FaultRecord& f : faults) faultList.Push(Json::Object().Add("kind", f.kind).Add("text", f.what));
  return Json::Object()
      .Add("enumerateCalls", enumerateCalls)
      .Add("decks", deck.scenario.libraryDecks)
      .Add("opened", openedDeck < 0 ? std::string() : DeckName(openedDeck))
      .Add("openedThisDeck", openedDeck >= 0 && openedDeck == deck.scenario.libraryDecks - 1)
      .Add("closeCalls", closeCalls)
      .Add("handlesLeftOpen", static_cast<int>(openHandles.size()))
      .Add("blocksTaken", blocksReceived)
      .Add("blockCallMs", kTransferCallMs)
      .Add("blocksSent", sendCalls)
      .Add("firstBlockMs", firstBlockMs)
      .Add("lastBlockMs", lastBlockMs)
      .Add("pauses", pauseFigures)
      .Add("image", Json::Object()
                        .Add("verdict", ImageVerdict())
                        .Add("complete", complete)
                        .Add("identical", Identical())
                        .Add("checksumRight", checksumRight)
                        .Add("recordRight", recordRight)
                        .Add("taken", imageGood))
      .Add("statusReads", statusReads)
      .Add("replyOffered", pendingSeen)
      .Add("replyRead", replyReads > 0)
      .Add("faults", faultList);
}
