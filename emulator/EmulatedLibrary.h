// The deck's library path: what the maker's USB library does for the program (enumerate, name,
// open, block transfers, status and reply), with every call judged as it arrives (the order of
// the rewrite request, the blocks and the pauses between them, the status before a reply read)
// and the reassembled image judged against the program's own. It shares the driver path's cable:
// with the deck out it lists nothing, and a handle opened before a pull is dead for good.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/Json.h"
#include "link/Protocol.h"

class EmulatedDeck;

class EmulatedLibrary {
 public:
  explicit EmulatedLibrary(EmulatedDeck& deck);
  ~EmulatedLibrary();
  EmulatedLibrary(const EmulatedLibrary&) = delete;
  EmulatedLibrary& operator=(const EmulatedLibrary&) = delete;

  // The six library functions, with the library's arguments and results.
  int EnumerateDevices();
  int GetDeviceName(int index, char* name);
  int Open(const char* name, std::uint32_t* handle);
  int ControlSend(std::uint32_t handle, int code, const void* data, int length);
  int ControlRecive(std::uint32_t handle, int code, void* buffer, int length, std::uint32_t* received);
  int Close(std::uint32_t handle);

  // What a test reads back, taken at once.
  struct Counts {
    int openedDeck;      // index of the deck last opened; -1: none
    int openHandles;     // handles opened and not yet closed
    int closeCalls;      // every VornUsbClose, valid or not
    int sendCalls;       // every VornUsbControlSend, refused ones included
    int blocksReceived;  // blocks taken, in order and well formed
    std::vector<std::array<std::uint8_t, kBlockHeaderLength>> headers;  // that each block taken came with
    bool imageIdentical;  // complete and byte for byte the program's image
    int statusReads;
    int replyReads;  // successful reads of the reply
    // Everything the program did wrong, in order, one word each, e.g. "block-too-soon".
    std::vector<std::string> faultKinds;
  };
  Counts Counters() const;
  std::vector<std::uint8_t> Image() const;  // the image as reassembled so far

  // The library path's part of the deck's report: the calls (enumerations, the deck opened, closes,
  // handles left open), the blocks taken and sent, each block call's bus time, the pauses from one
  // block's return to the next block, the image's verdict (complete, identical, checksum and record
  // right, taken), the status reads, whether a reply was offered and read, and every fault as
  // {kind, text}.
  Json Report() const;

 private:
  struct OpenDeck {
    std::uint32_t handle;
    int index;  // of its deck
    int cable;  // EmulatedDriver::Cable() when it was opened
  };
  // Pulls the cable as the scenario's block comes, before the block gets through.
  void PullCableAtItsBlock();
  // The name the library gives deck `index`; this deck is the last one enumerated.
  std::string DeckName(int index) const;

  // All under `lock`.
  void Note(const char* kind, const std::string& text);
  const OpenDeck* FindOpen(std::uint32_t handle) const;
  // False, and noted, when the cable was pulled since the handle was opened: the call fails.
  bool Live(const OpenDeck& open, int cable, const char* call);
  // One ControlSend, judged: the call, its order against the rewrite request and the previous
  // block, then the block itself.
  int Send(std::uint32_t handle, int code, const void* data, int length, double arrived,
           bool rewriteRequested, int cable);
  bool HeaderRight(int index, const std::uint8_t* block);  // a fault when not
  // Records and judges it, in order; `good` when its header was right, `offset` on the grid.
  void TakeBlock(int index, const std::uint8_t* block, std::uint32_t offset, double arrived, bool good);
  // One ControlRecive, judged; `accepted` when it read the deck's reply.
  int Recive(std::uint32_t handle, int code, void* buffer, int length, std::uint32_t* received, int cable,
             bool& accepted);
  int Status(std::uint8_t* buffer, int length, std::uint32_t* received);
  bool ReplyPending() const;
  void JudgeReplyRead();  // against what the last status read told the program
  // `kind` is one word a test looks for; `what` says it for a person, with the details.
  void Fault(const char* kind, std::string what);
  std::string ImageVerdict() const;
  bool Identical() const;
  void Judge();  // the image after the last block

  EmulatedDeck& deck;
  mutable std::mutex lock;

  int enumerateCalls = 0;
  int openedDeck = -1;
  std::vector<OpenDeck> openHandles;
  std::uint32_t nextHandle = 0x7A5E0001;
  int closeCalls = 0;

  int sendCalls = 0;
  bool cablePulled = false;  // the scenario's pull has come
  int blocksReceived = 0;    // also the index the next block must carry
  bool refused = false;      // a block was refused, by the scenario or as a fault: the transfer is over
  std::vector<std::array<std::uint8_t, kBlockHeaderLength>> headers;
  std::vector<std::uint8_t> image;
  std::vector<bool> filled;
  int blockFaults = 0;
  double firstBlockMs = -1;
  double lastBlockMs = -1;   // when the last block arrived
  double lastReturnMs = -1;  // when the call that brought the last block returned
  std::vector<double> pauses;

  bool complete = false;
  bool checksumRight = false;
  bool recordRight = false;
  bool imageGood = false;  // complete, checksum and version record right: the deck takes it

  int statusReads = 0;
  // What the last status read told the program since the last reply read.
  enum class Told { Nothing, NotWhole, NonePending, Pending } told = Told::Nothing;
  std::string toldText;  // that status, as delivered, for the fault's text
  bool pendingSeen = false;
  int replyReads = 0;
  bool replyTaken = false;

  struct FaultRecord {
    std::string kind;
    std::string what;
  };
  std::vector<FaultRecord> faults;
};
