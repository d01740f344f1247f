// The deck's driver path as the maker's driver serves it: the device interface that the driver
// registers for the deck, its descriptors and ready state, pipe 0 (command frames in, for
// DeckCommands to answer) and pipe 1 (replies out, reads block until a reply is due). Its handles
// are synchronous, as the program opens them: one call at a time on each, and a close waits for
// the call in flight. It records every handle and reply.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/DeckCommands.h"
#include "emulator/Json.h"
#include "emulator/Scenario.h"
#include "link/DriverCalls.h"

class EmulatedDeck;

class EmulatedDriver : public DriverCalls {
 public:
  explicit EmulatedDriver(EmulatedDeck& deck);
  ~EmulatedDriver() override;

  // The driver's calls, answered as the deck and the maker's driver would.
  bool InterfacePath(std::uint32_t index, std::string& path) override;
  DriverHandle Open(const char* path) override;
  bool IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize) override;
  bool Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) override;
  bool Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) override;
  // Waits while a call is in flight on the handle: for ever when its thread was ended there.
  bool Close(DriverHandle handle) override;
  // A cancel ends the reads and writes blocked by the thread or on the handle, unless the
  // scenario ignores cancels. A call still waiting for its turn on a handle has no I/O to cancel.
  // Closing a handle ends none of them.
  void CancelIo(std::thread& thread, DriverHandle handle) override;
  // Ends a thread blocked in a read or a write here, or waiting for its turn on a handle: it never
  // returns from the call, and a call it was in is in flight for ever. Threads anywhere else cannot
  // be reached and are left joinable.
  void EndThread(std::thread& thread) override;

  // The emulated library calls this when the deck has offered its reply after reading the image:
  // the completion report follows on pipe 1 after the scenario's time (never when it is -1).
  void ImageAccepted();
  bool RewriteRequested() const;
  // The image was accepted after a rewrite request, and the deck finished rewriting itself
  // without being pulled out meanwhile.
  bool RewriteCompleted() const;
  // Handles opened and not yet closed, and those of them that a thread was ended inside a call on.
  int OpenHandles() const;
  int HandlesInEndedCalls() const;
  // Every write on pipe 0, in order, as it arrived.
  std::vector<std::vector<unsigned char>> FramesReceived() const;

  // Pulls the cable: blocked reads fail, the ready request and every open fail, and the handles
  // opened before stay dead. Plug brings the deck (back) in, whatever the scenario says.
  void Unplug();
  void Plug();
  bool Plugged() const;
  // The cable as the library path sees it: a number that changes with every unplug, or -1 while the
  // deck is out. A library handle opened under one number is dead under any other.
  int Cable();
  // Queues a frame on pipe 1 as if the deck had sent it unasked, `afterMs` from now.
  void Inject(const std::vector<unsigned char>& frame, int afterMs = 0);
  // Reads blocked right now on pipe 1, and writes on pipe 0.
  int BlockedReads() const;
  int BlockedWrites() const;

  // Test hooks for faults no scenario brings about. While on: every write on pipe 0 fails and
  // reaches nothing, though the deck stays plugged in and its handles stay live.
  void FailWrites(bool on);
  // While on: a write whose frame makes the deck queue a reply returns only after pipe 1 holds
  // nothing more and a reader is blocked on it again, that is, once the reply has been read and
  // the reader has come back for the next one (at most 5 s beyond the reply's due time). Whatever
  // the writer does after its write then comes after the reply was taken.
  void HoldWritesUntilReplyRead(bool on);
  // While on: a close that waits for a call in flight gives up after `ms`, fails and is counted as
  // hung, instead of waiting as long as the call does (for ever when its thread was ended), so that
  // a test of a program that closes such a handle ends. Negative: off.
  void LimitCloseWaits(double ms);
  // The path the driver lists for the deck.
  std::string DevicePath() const;

  struct Counts {
    int opened = 0;
    int closed = 0;
    int badCloses = 0;     // closes of a handle that was not open
    int refusedOpens = 0;  // opens that failed, for whatever reason
    int readsDone = 0;     // reads that delivered a packet
    int readsFailed = 0;   // reads that failed (unplugged, closed, scenario)
    int readsCancelled = 0;
    int readsOverrun = 0;  // reads whose buffer was shorter than the packet waiting
    int writesCancelled = 0;
    int cancelsIgnored = 0;
    int threadsEnded = 0;  // ended inside a blocked read or write, or waiting for a handle
    int callsWaited = 0;   // calls that waited for another on their handle
    int closesWaited = 0;  // closes that waited for a call in flight on their handle
    int closesHung = 0;    // of those, closes that gave up (LimitCloseWaits)
    int powerOns = 0;
    int ignoredFrames = 0;  // frames the deck did not understand or could not take
    int deviceControls = 0;
    int pipeControls = 0;
    int controlsRefused = 0;  // codes on the wrong kind of handle, or with the wrong buffers
  };
  Counts Counters() const;
  // Every reply (whole, before it is split into packets) that the deck queued on pipe 1.
  std::vector<std::vector<unsigned char>> RepliesQueued() const;

  // The driver path's part of the deck's report: the device path, whether the deck is plugged in,
  // the handles (opened, closed, left open, those left inside an ended thread's call and not among
  // the open, bad closes, refused opens, closes and calls that waited for a call in flight), the
  // power-ons, whether the rewrite was requested, the frames and replies in hex, the frames not
  // taken, the reads (delivered, failed, cancelled, overrun), cancelled writes, ignored cancels,
  // ended threads, and the control requests (start, pipe reset, refused).
  Json Report() const;

 private:
  enum class Kind { Device, Pipe0, Pipe1, Other };
  struct Handle {
    Kind kind;
    int generation;  // plug generation it was opened in
    bool open;
    std::thread::id caller;  // whose call is in flight on it; none while no call is
    bool callerEnded;        // that thread was ended inside the call, which never returns
    int other;               // which of the scenario's other devices, for Kind::Other
  };
  // Waits for the handle's turn and takes it for this thread's call; given back by the InCall's end.
  class InCall;
  void Enter(std::unique_lock<std::mutex>& hold, DriverHandle handle);
  void Leave(DriverHandle handle);
  // Waits until no call is in flight on the handle, `limitMs` at most (negative: for ever); false
  // when the limit came first. The thread can be ended while it waits.
  bool AwaitTurn(std::unique_lock<std::mutex>& hold, DriverHandle handle, double limitMs);
  struct Packet {
    double due;
    std::vector<unsigned char> bytes;
  };

  double Now() const;
  bool PresentAt(double now) const;
  void Refresh();  // notices the deck coming and going; lock held
  bool Alive(const Handle& h) const;
  Handle* Find(DriverHandle handle);
  void Note(const char* kind, const std::string& text);
  bool Descriptor(const Handle& h, unsigned char type, void* out, std::uint32_t outSize);
  // Takes the next packet off pipe 1 into the buffer, whole; kOverrun, and the packet lost, when it
  // does not fit.
  static constexpr std::uint32_t kOverrun = ~0u;
  std::uint32_t TakePacket(unsigned char* buffer, std::uint32_t size);
  void Queue(std::vector<unsigned char> reply, double due);
  // Notes and counts the command logic's answer, queues its replies and takes its unplugging; gives back when
  // the reply to a query is due, or -1.
  double Carry(DeckCommands::Answer answer);
  // A write the deck never takes: blocks until cancelled, ended or unplugged; false.
  bool Stall(std::unique_lock<std::mutex>& hold, DriverHandle handle);
  // The other devices of the driver's class, those listed before the deck first.
  const Scenario::Member& Other(std::size_t i) const;
  std::string OtherPath(std::size_t i) const;
  std::size_t Others() const;
  // Handles open, or only those of them that a thread was ended inside a call on; lock held.
  int CountOpen(bool inEndedCallsOnly) const;

  EmulatedDeck& deck;
  mutable std::mutex lock;
  DeckCommands commands;  // under `lock`
  std::condition_variable changed;

  bool present = false;
  int generation = 0;
  bool pluggedByHand = false;
  double unplugAt = -1;  // -1: not due to leave
  std::map<DriverHandle, Handle> handles;
  DriverHandle nextHandle = 0x1000;
  std::deque<Packet> pipe1;
  struct Blocked {
    DriverHandle handle;
    bool cancelled;
    bool ended;
  };
  // Takes out a thread whose blocked call was ended: it lets go of the lock and never returns.
  [[noreturn]] void Vanish(std::unique_lock<std::mutex>& hold, std::map<std::thread::id, Blocked>& blocked);
  // Waits for the next change, or until something becomes due.
  void WaitForChange(std::unique_lock<std::mutex>& hold);
  std::map<std::thread::id, Blocked> blockedReaders;
  std::map<std::thread::id, Blocked> blockedWriters;
  std::map<std::thread::id, Blocked> waitingForTurn;  // calls waiting for another on their handle
  double closeWaitLimitMs = -1;
  int failedReadsLeft = 0;
  bool failWrites = false;
  bool holdWrites = false;
  std::vector<std::vector<unsigned char>> replies;
  Counts counts;
};
