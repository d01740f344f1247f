// Scenarios of the emulated deck: a name and the few values in which one deck differs from the
// deck that updates successfully. Both USB paths read the same scenario. The scenarios are the
// rows of emulator/scenarios.txt, which gives the successful deck's values too.
#pragma once

#include <string>
#include <vector>

struct Scenario {
  std::string name;

  // --- The driver path -----------------------------------------------------------------------
  int productId;  // 0: the deck is not listed at all
  int vendorId;
  bool ready;  // the driver's ready request reports a non-zero status
  bool pipe0Opens;
  bool pipe1Opens;
  int packetSize0;    // wMaxPacketSize of endpoint 0 of interface 0; 0: missing
  int packetSize1;    // the same for endpoint 1
  std::string model;  // the first 8 of the 13 model bytes; padded with spaces
  bool answersModel;
  int versionMajor;
  int versionMinor;
  char versionVariant;
  bool answersVersion;
  int discState;             // 0x13: no disc inside
  int modeState;             // 1: Tavro mode
  int replyDelayMs;          // from a query frame to its reply on pipe 1
  bool garbage;              // unrelated frames between the replies
  int unplugAfterRequestMs;  // the deck goes away this long after the rewrite request; -1: never
  int completeAfterMs;       // completion report this long after the accepted reply; -1: never
  int plugInAfterMs;         // the deck appears this long after the emulator starts
  // Another device of the driver's interface class.
  struct Member {
    int vendorId;
    int productId;
    bool ready;
  };
  std::vector<Member> before;  // listed before the deck, in order
  std::vector<Member> after;   // and after it
  int slowListingMs;           // each look at the driver's list takes this long
  int devicePathLength;        // 0: the driver's usual path; else padded to this many characters
  int failedReads;             // the first reads of pipe 1 fail while the pipe stays ready
  bool cancelIgnored;          // the driver ignores every cancel while the deck is plugged in
  bool writesStall;            // pipe 0 takes nothing: every write blocks until it is cancelled

  // --- The library path ----------------------------------------------------------------------
  int libraryDecks;  // decks the library enumerates
  bool nameRefused;
  bool openRefused;
  int refuseBlock;         // the library refuses this block index; -1: none
  int unplugAtBlock;       // the cable is pulled as this block index comes; -1: never
  int acceptAfterMs;       // reply offered this long after the last block; -1: never
  bool shortStatus;        // status reads deliver 3 bytes
  bool zeroPendingLength;  // status says a reply is pending, with length 0
  bool emptyReply;         // the reply read succeeds with 0 bytes
  int pendingFlag;         // status byte 0 when a reply is pending (1 is what counts)
};

// The named scenarios, "success" first.
const std::vector<Scenario>& Scenarios();
// The scenario of that name, or nullptr.
const Scenario* FindScenario(const std::string& name);

// The table as written, and its rows read from it: false, with the line and why in `error`, at a
// row that names an unknown field or a bad value, repeats a name, or (the first) leaves a field out.
extern const char kScenarioTable[];
bool ReadScenarios(const std::string& table, std::vector<Scenario>& scenarios, std::string& error);
