#include "emulator/LibrarySide.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "image/FirmwareImage.h"

namespace {
constexpr int kTransferCode = 255;
constexpr int kStatusCode = 1;
constexpr int kStatusLength = 4;
constexpr int kFaultsKept = 20;  // in detail; the rest are counted
constexpr std::uint8_t kHeader[LibrarySide::kHeaderLength] = {0x01, 0x00, 0x02, 0x01, 0x80, 0,   0,
                                                              0,    0,    0x00, 0x06, 0x00, 0x00};

std::string Offset(std::uint32_t offset) {
  const std::uint8_t bytes[4] = {std::uint8_t(offset >> 24), std::uint8_t(offset >> 16),
                                 std::uint8_t(offset >> 8), std::uint8_t(offset)};
  return Hex(bytes, 4) + " (" + std::to_string(offset) + ")";
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

LibrarySide::LibrarySide(EmulatedDeck& deck)
    : deck(deck), image(kFirmwareImageSize, 0), filled(kBlocks, false) {}

LibrarySide::~LibrarySide() = default;

std::string LibrarySide::DeckName(int index) const {
  return "TAVRO-HVX-Z8KQ-" + std::to_string(index);
}

int LibrarySide::EnumerateDevices() {
  std::lock_guard<std::mutex> hold(lock);
  ++enumerateCalls;
  deck.events.Add("library", "enumerate: " + std::to_string(deck.scenario.libraryDecks) + " deck(s)");
  return deck.scenario.libraryDecks;
}

int LibrarySide::GetDeviceName(int index, char* name) {
  std::lock_guard<std::mutex> hold(lock);
  if (!name) {
    Fault("device name asked with no buffer");
    return 0;
  }
  if (index < 0 || index >= deck.scenario.libraryDecks) {
    Fault("name of deck " + std::to_string(index) + " asked, " + std::to_string(deck.scenario.libraryDecks) +
          " enumerated");
    return 0;
  }
  if (deck.scenario.nameRefused) {
    deck.events.Add("library", "name of deck " + std::to_string(index) + ": refused");
    return 0;
  }
  const std::string text = DeckName(index);
  std::snprintf(name, 260, "%s", text.c_str());
  deck.events.Add("library", "name of deck " + std::to_string(index) + ": " + text);
  return 1;
}

int LibrarySide::Open(const char* name, std::uint32_t* handle) {
  std::lock_guard<std::mutex> hold(lock);
  if (!name || !handle) {
    Fault("open with no name or no handle");
    return 0;
  }
  const void* end = std::memchr(name, 0, 260);
  const std::string text(name, end ? static_cast<const char*>(end) : name + 260);
  if (deck.scenario.openRefused) {
    deck.events.Add("library", "open " + text + ": refused");
    return 0;
  }
  int index = -1;
  for (int i = 0; i < deck.scenario.libraryDecks; ++i)
    if (DeckName(i) == text) index = i;
  if (index < 0) {
    Fault("open of \"" + text + "\", which no deck is called");
    return 0;
  }
  *handle = nextHandle++;
  openHandles.emplace_back(*handle, index);
  openedDeck = index;
  deck.events.Add("library", "open " + text + ": handle " + HandleText(*handle) +
                                 (index == deck.scenario.libraryDecks - 1 ? "" : " (not this deck)"));
  return 1;
}

int LibrarySide::ControlSend(std::uint32_t handle, int code, const void* data, int length) {
  const bool rewriteRequested = deck.Driver().RewriteRequested();
  std::lock_guard<std::mutex> hold(lock);
  ++sendCalls;
  const auto open = std::find_if(openHandles.begin(), openHandles.end(),
                                 [&](const std::pair<std::uint32_t, int>& h) { return h.first == handle; });
  if (open == openHandles.end()) {
    Fault("block sent on handle " + HandleText(handle) + ", which is not open");
    return 0;
  }
  if (open->second != deck.scenario.libraryDecks - 1) {
    Fault("block sent to deck " + std::to_string(open->second) + ", not to this deck (the last enumerated)");
    return 0;
  }
  if (code != kTransferCode || !data || length != kBlockLength) {
    Fault("block sent with code " + std::to_string(code) + " and " + std::to_string(length) +
          " bytes; expected code 255 and 397 bytes");
    return 0;
  }
  const int index = blocksReceived;
  if (refused) {
    Fault("block " + std::to_string(index) + " sent after the refused one");
    return 0;
  }
  if (index == deck.scenario.refuseBlock) {
    refused = true;
    deck.events.Add("library", "block " + std::to_string(index) + ": refused");
    return 0;
  }
  if (index >= kBlocks) {
    Fault("block " + std::to_string(index) + " sent after the whole image");
    return 0;
  }

  const double now = deck.events.Now();
  if (lastBlockMs >= 0) pauses.push_back(now - lastBlockMs);
  lastBlockMs = now;

  const auto* block = static_cast<const std::uint8_t*>(data);
  std::array<std::uint8_t, kHeaderLength> header;
  std::memcpy(header.data(), block, kHeaderLength);
  headers.push_back(header);
  ++blocksReceived;

  bool good = true;
  if (std::memcmp(block, kHeader, 5) != 0 || std::memcmp(block + 9, kHeader + 9, 4) != 0) {
    good = false;
    Fault("block " + std::to_string(index) + ": header expected 01 00 02 01 80 .. 00 06 00 00, arrived " +
          Hex(block, kHeaderLength));
  }
  const std::uint32_t offset =
      std::uint32_t(block[5]) << 24 | std::uint32_t(block[6]) << 16 | std::uint32_t(block[7]) << 8 | block[8];
  const std::uint32_t expected = std::uint32_t(index) * kBlockData;
  if (offset != expected) {
    good = false;
    std::string why;
    if (offset % kBlockData != 0 || offset >= kFirmwareImageSize)
      why = "not a block of the image";
    else if (offset < expected)
      why = filled[offset / kBlockData] ? "a block repeated" : "a block out of order";
    else
      why = "blocks skipped";
    Fault("block " + std::to_string(index) + ": offset expected " + Offset(expected) + ", arrived " +
          Offset(offset) + ": " + why);
  }
  if (offset % kBlockData == 0 && offset < kFirmwareImageSize) {
    std::memcpy(image.data() + offset, block + kHeaderLength, kBlockData);
    filled[offset / kBlockData] = true;
  }
  if (!good) ++blockFaults;

  if (index == 0)
    deck.events.Add("library", std::string("block 0 arrived; the rewrite request came before it: ") +
                                   (rewriteRequested ? "yes" : "no"));
  if (blocksReceived == kBlocks) Judge();
  return 1;
}

void LibrarySide::Judge() {
  judged = true;
  const bool complete =
      blockFaults == 0 && std::all_of(filled.begin(), filled.end(), [](bool b) { return b; });
  std::uint32_t sum = 0;
  for (std::size_t i = 4; i < image.size(); ++i) sum += image[i];
  const std::uint32_t stored = image[0] | image[1] << 8 | image[2] << 16 | std::uint32_t(image[3]) << 24;
  const std::uint8_t* r = image.data() + 4;
  auto digits = [&](int at, int n) {
    for (int i = at; i < at + n; ++i)
      if (r[i] < '0' || r[i] > '9') return false;
    return true;
  };
  const bool record = std::memcmp(r, "Z8KQV", 5) == 0 && digits(5, 2) && r[7] == '.' && digits(8, 2) &&
                      r[10] >= 'A' && r[10] <= 'Z' && digits(11, 6) && r[17] == 0;
  imageGood = complete && sum == stored && record;
  judgement = std::string(sum == stored ? "checksum right" : "checksum wrong") +
              (record ? ", version record right" : ", version record wrong") +
              (imageGood ? ": taken" : ": not taken");
  std::string when;
  if (imageGood)
    when = deck.scenario.acceptAfterMs < 0
               ? "; no reply will be offered"
               : "; reply in " + std::to_string(deck.scenario.acceptAfterMs) + " ms";
  deck.events.Add("library", std::string("block 1023 arrived: image ") +
                                 (complete ? "complete; " : "not complete; ") + judgement + when);
}

bool LibrarySide::ReplyPending() const {
  return judged && imageGood && !replyTaken && deck.scenario.acceptAfterMs >= 0 &&
         deck.events.Now() - lastBlockMs >= deck.scenario.acceptAfterMs;
}

int LibrarySide::ControlRecive(std::uint32_t handle, int code, void* buffer, int length,
                               std::uint32_t* received) {
  bool accepted = false;
  int result = 0;
  {
    std::lock_guard<std::mutex> hold(lock);
    const bool open = std::any_of(openHandles.begin(), openHandles.end(),
                                  [&](const std::pair<std::uint32_t, int>& h) { return h.first == handle; });
    if (!open) {
      Fault("read with code " + std::to_string(code) + " on handle " + HandleText(handle) +
            ", which is not open");
      return 0;
    }
    if (!buffer || !received || length < 0) {
      Fault("read with code " + std::to_string(code) + " with no buffer or no count");
      return 0;
    }
    const bool pending = ReplyPending();
    if (code == kStatusCode) {
      ++statusReads;
      if (length != kStatusLength) Fault("status read of " + std::to_string(length) + " bytes; expected 4");
      const int replyLength = pending && !deck.scenario.zeroPendingLength ? kReplyLength : 0;
      // Byte 1 is deck state the program does not examine; it is never 0 so that a length read
      // from the wrong bytes shows.
      const std::uint8_t status[kStatusLength] = {std::uint8_t(pending ? deck.scenario.pendingFlag : 0), 0x80,
                                                  std::uint8_t(replyLength & 0xFF),
                                                  std::uint8_t(replyLength >> 8)};
      const int delivered = std::min(length, deck.scenario.shortStatus ? kStatusLength - 1 : kStatusLength);
      std::memcpy(buffer, status, delivered);
      *received = delivered;
      if (pending && !pendingSeen) {
        pendingSeen = true;
        deck.events.Add("library", "status read " + std::to_string(statusReads) + ": reply pending, status " +
                                       Hex(status, kStatusLength) + ", " + std::to_string(delivered) +
                                       " bytes delivered");
      }
      return 1;
    }
    if (code != kTransferCode) {
      Fault("read with code " + std::to_string(code) + "; expected 1 or 255");
      return 0;
    }
    if (!pending) {
      Fault("reply read with no reply pending");
      *received = 0;
      return 0;
    }
    const int delivered = deck.scenario.emptyReply ? 0 : std::min(length, kReplyLength);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (int i = 0; i < delivered; ++i) out[i] = static_cast<std::uint8_t>(i == 0 ? 0x01 : i);
    *received = delivered;
    replyTaken = true;
    ++replyReads;
    deck.events.Add("library", "reply read: " + std::to_string(delivered) + " bytes delivered");
    accepted = true;
    result = 1;
  }
  // Outside the lock: the driver side answers to its own thread.
  if (accepted) deck.Driver().ImageAccepted();
  return result;
}

int LibrarySide::Close(std::uint32_t handle) {
  std::lock_guard<std::mutex> hold(lock);
  ++closeCalls;
  const auto open = std::find_if(openHandles.begin(), openHandles.end(),
                                 [&](const std::pair<std::uint32_t, int>& h) { return h.first == handle; });
  if (open == openHandles.end()) {
    Fault("close of handle " + HandleText(handle) + ", which is not open");
    return 0;
  }
  openHandles.erase(open);
  deck.events.Add("library", "close handle " + HandleText(handle));
  return 1;
}

void LibrarySide::Fault(std::string what) {
  if (static_cast<int>(faults.size()) < kFaultsKept) deck.events.Add("library", "FAULT: " + what);
  faults.push_back(std::move(what));
}

int LibrarySide::OpenedDeck() const {
  std::lock_guard<std::mutex> hold(lock);
  return openedDeck;
}

int LibrarySide::OpenHandles() const {
  std::lock_guard<std::mutex> hold(lock);
  return static_cast<int>(openHandles.size());
}

int LibrarySide::CloseCalls() const {
  std::lock_guard<std::mutex> hold(lock);
  return closeCalls;
}

int LibrarySide::SendCalls() const {
  std::lock_guard<std::mutex> hold(lock);
  return sendCalls;
}

int LibrarySide::BlocksReceived() const {
  std::lock_guard<std::mutex> hold(lock);
  return blocksReceived;
}

std::vector<std::uint8_t> LibrarySide::Header(int index) const {
  std::lock_guard<std::mutex> hold(lock);
  if (index < 0 || index >= static_cast<int>(headers.size())) return {};
  return {headers[index].begin(), headers[index].end()};
}

bool LibrarySide::ImageComplete() const {
  std::lock_guard<std::mutex> hold(lock);
  return blockFaults == 0 && std::all_of(filled.begin(), filled.end(), [](bool b) { return b; });
}

bool LibrarySide::ImageIdentical() const {
  std::lock_guard<std::mutex> hold(lock);
  return blockFaults == 0 && std::all_of(filled.begin(), filled.end(), [](bool b) { return b; }) &&
         std::memcmp(image.data(), FirmwareImage, kFirmwareImageSize) == 0;
}

std::vector<std::uint8_t> LibrarySide::Image() const {
  std::lock_guard<std::mutex> hold(lock);
  return image;
}

std::vector<double> LibrarySide::Pauses() const {
  std::lock_guard<std::mutex> hold(lock);
  return pauses;
}

int LibrarySide::StatusReads() const {
  std::lock_guard<std::mutex> hold(lock);
  return statusReads;
}

int LibrarySide::ReplyReads() const {
  std::lock_guard<std::mutex> hold(lock);
  return replyReads;
}

std::vector<std::string> LibrarySide::Faults() const {
  std::lock_guard<std::mutex> hold(lock);
  return faults;
}

std::string LibrarySide::ImageVerdict() const {
  if (blocksReceived == 0) return "nothing received";
  const int in = static_cast<int>(std::count(filled.begin(), filled.end(), true));
  if (in < kBlocks)
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

std::string LibrarySide::Report() const {
  std::lock_guard<std::mutex> hold(lock);
  std::ostringstream out;
  out << "library:\n";
  out << "  enumerate calls: " << enumerateCalls << ", decks: " << deck.scenario.libraryDecks << "\n";
  out << "  opened: ";
  if (openedDeck < 0)
    out << "none";
  else
    out << DeckName(openedDeck) << (openedDeck == deck.scenario.libraryDecks - 1 ? "" : " (not this deck)");
  out << "; close calls: " << closeCalls << "; handles left open: " << openHandles.size() << "\n";
  out << "  blocks: " << blocksReceived << " taken of " << sendCalls << " sent";
  if (refused) out << "; block " << deck.scenario.refuseBlock << " refused";
  out << "\n";
  if (!pauses.empty()) {
    std::vector<double> sorted = pauses;
    std::sort(sorted.begin(), sorted.end());
    char text[160];
    std::snprintf(text, sizeof text,
                  "  pauses between blocks: %zu, min %.2f ms, median %.2f ms, max %.2f ms\n", sorted.size(),
                  sorted.front(), sorted[sorted.size() / 2], sorted.back());
    out << text;
  }
  out << "  image: " << ImageVerdict();
  if (judged) out << "; " << judgement;
  out << "\n";
  out << "  status reads: " << statusReads << "; reply offered: " << (pendingSeen ? "yes" : "no")
      << "; reply read: " << (replyReads ? "yes" : "no") << "\n";
  out << "  faults: " << faults.size() << "\n";
  for (int i = 0; i < static_cast<int>(faults.size()) && i < kFaultsKept; ++i)
    out << "    " << faults[i] << "\n";
  if (static_cast<int>(faults.size()) > kFaultsKept)
    out << "    ... and " << faults.size() - kFaultsKept << " more\n";
  return out.str();
}
