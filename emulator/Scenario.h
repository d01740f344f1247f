// Scenarios of the emulated deck: a name and the few values in which one deck differs from the
// deck that updates successfully. Both USB paths read the same scenario.
#pragma once

#include <string>
#include <vector>

struct Scenario {
  std::string name = "success";

  // --- Driver path ---------------------------------------------------------------------------
  int productId = 142;  // 0: no interface of the driver's class at all
  int vendorId = -1;    // -1: the maker's vendor ID
  bool ready = true;    // the driver's ready request reports a non-zero status
  bool pipe0Opens = true;
  bool pipe1Opens = true;
  int packetSize0 = 64;            // wMaxPacketSize of endpoint 0 of interface 0; 0: missing
  int packetSize1 = 64;            // the same for endpoint 1
  std::string model = "HVX-Z8KQ";  // the first 8 of the 13 model bytes; padded with spaces
  bool answersModel = true;
  int versionMajor = 1;
  int versionMinor = 5;
  char versionVariant = 'A';
  bool answersVersion = true;
  int discState = 0x13;           // 0x13: no disc inside
  int modeState = 1;              // 1: Tavro mode
  int replyDelayMs = 20;          // from a query frame to its reply on pipe 1
  bool garbage = false;           // unrelated frames between the replies
  int unplugAfterRequestMs = -1;  // the deck goes away this long after the rewrite request
  int completeAfterMs = 1500;     // completion report this long after the accepted reply; -1: never
  int plugInAfterMs = 0;          // the deck appears this long after the emulator starts
  bool strangerFirst = false;     // another device of the driver's class is listed before the deck
  int slowListingMs = 0;          // each look at the driver's list takes this long
  int devicePathLength = 0;       // 0: the driver's usual path; else padded to this many characters
  int failedReads = 0;            // the first reads of pipe 1 fail while the pipe stays ready
  bool cancelIgnored = false;     // the driver ignores every cancel while the deck is plugged in
  bool writesStall = false;       // pipe 0 takes nothing: every write blocks until it is cancelled

  // --- Library path --------------------------------------------------------------------------
  int libraryDecks = 1;  // decks the library enumerates
  bool nameRefused = false;
  bool openRefused = false;
  int refuseBlock = -1;            // the library refuses this block index; -1: none
  int unplugAtBlock = -1;          // the cable is pulled as this block index comes; -1: never
  int acceptAfterMs = 100;         // reply offered this long after the last block; -1: never
  bool shortStatus = false;        // status reads deliver 3 bytes
  bool zeroPendingLength = false;  // status says a reply is pending, with length 0
  bool emptyReply = false;         // the reply read succeeds with 0 bytes
  int pendingFlag = 1;             // status byte 0 when a reply is pending (1 is what counts)
};

// The named scenarios, "success" first.
const std::vector<Scenario>& Scenarios();
// The scenario of that name, or nullptr.
const Scenario* FindScenario(const std::string& name);
