// LinkSession: the driver path, commands to the deck over the maker's driver. Its worker thread opens
// the deck and reads the deck's replies into the device report (LinkWorker.cpp); the
// user-interface thread sends commands and runs the once-only checks against that report
// (LinkChecks.cpp).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/Clock.h"
#include "link/DriverCalls.h"
#include "link/DriverPort.h"
#include "link/GuardedCalls.h"
#include "link/LinkCodec.h"
#include "link/LogRing.h"
#include "link/SharedHandle.h"

class LinkSession {
 public:
  // The worker's states. 2 and 3 are never produced; the worker would end on them as on 4 to 6.
  enum WorkerState : int {
    kOpening = 0,           // the open sequence runs on the next pass
    kReading = 1,           // the deck is open; every pass reads one reply
    kOpenFailed = 4,        // no deck found, deck not ready, or a pipe failed to open
    kPacketSizeFailed = 5,  // a pipe's largest packet size was not obtained
    kDeviceRemoved = 6,     // a read failed and the read pipe no longer reports ready
  };

  // Starts the worker, which opens the deck on its first pass, 20 ms later. The worker's pauses and
  // the checks' polls are counted on `clock`.
  explicit LinkSession(DriverCalls& calls, Clock& clock = SystemClock());
  // Stops the worker, then closes the handles.
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // Stops the worker, closes every handle, and starts a fresh worker that opens the deck again.
  // Allows one more CheckLinkOpen, which waits a moment for the new worker. Stopping the worker
  // clears its flag and cancels its I/O; a worker that a driver still holds a second later, inside
  // a driver call, is ended without its cooperation.
  void Reset();

  // Frames the command bytes (2 to 255 of them) and sends them on pipe 0.
  void SendBytes(const unsigned char* bytes, int count);
  // Sends a frame given as hex text and logs it. The write is bounded: one the driver has not
  // completed after about 3 s is cancelled and logged as timed out.
  void SendHex(const char* text, int length);

  // The checks: 1 on success, their own negative code otherwise. Each runs once; a second call
  // returns the failure code at once (CheckLinkOpen runs once more after each Reset).
  int CheckLinkOpen();   // -1; passes once the worker has found the deck and opened its device
  int CheckPipeReady();  // -2; also when the worker's open sequence failed
  int CheckModel();      // -3
  int CheckVersion();    // -4
  int CheckVariant();    // -5
  int CheckDiscOut();    // -7
  int CheckMode();       // -8
  // Asks the deck to take a new image; always 1.
  int RequestRewrite();
  // 1 once a completion report has been read and no RequestRewrite came after it, else -9.
  int IsRewriteDone();

  // For tests.
  const LogRing& Log() const { return log; }
  int State() const { return state.load(); }
  bool WorkerRunning() const { return running.load() != 0; }
  bool DeviceOpen() const { return deviceHandle.Valid(); }
  DeviceReport Report() const;

 private:
  // --- The worker (LinkWorker.cpp) ---
  void LinkWorker();
  // The open sequence: kReading when the deck is open, else the end state its failure leads to.
  // `incoming` is the worker's read buffer, sized here.
  int OpenLink(std::vector<unsigned char>& incoming);
  // Finds the deck and opens its device; false when it is not there.
  bool FindDeck(DriverHandle& device, std::string& path);
  // Opens both pipes and learns their packet sizes; kReading, or the failure's end state.
  int OpenPipes(const std::string& path, std::vector<unsigned char>& incoming);
  // One read; kReading to go on, kDeviceRemoved when the deck has gone.
  int ReadReply(std::vector<unsigned char>& incoming);
  void CloseHandles();
  void StartWorker();
  void StopWorker();
  // Sleeps on the worker thread, on the clock; returns early, false, once `running` is cleared.
  bool Pause(int ms);
  // SendHex for either thread; the worker gives up a write as soon as it is told to stop.
  void SendFrame(const char* text, int length, bool fromWorker);
  // One write of the frame text on its own thread, given at most about 3 s; then it is cancelled,
  // and its thread is ended if the driver still holds it. True when the write came back.
  bool WriteBounded(DriverHandle pipe, const std::string& text, bool fromWorker);

  // --- The replies and the checks (LinkChecks.cpp) ---
  void ParseReply();  // on readBuffer, with replyLock held
  // Clears readBuffer and the awaited field (under replyLock), sends the command, then tests
  // `met` (under replyLock) every 10 ms, at most 300 times.
  template <std::size_t N, typename Clear, typename Met>
  bool SendAndPoll(const unsigned char (&command)[N], Clear clear, Met met);

  Clock& clock;
  GuardedCalls calls;
  std::thread worker;
  std::atomic<int> running{1};
  std::atomic<int> state{kOpening};
  // The current worker's open found the deck and opened its device, whatever came after.
  std::atomic<bool> deviceFound{false};
  LogRing log;
  const unsigned char interfaceNumber = kDeckInterface;
  DriverPort port{calls};

  // The reply buffer, its size and the device report change under replyLock, never held across
  // a driver call. The worker reads into a buffer of its own and copies what it read into
  // readBuffer under the lock, so a check's clearing and the worker's parsing never interleave.
  mutable std::mutex replyLock;
  std::vector<unsigned char> readBuffer;
  int readSize = 0;
  int writeSize = 0;
  int rewriteDone = 0;
  DeviceReport report;

  // Opened and closed by the worker (and by Reset and destruction once it has stopped); the
  // other thread borrows them for its calls, so none is closed while in use.
  SharedHandle deviceHandle{port};
  SharedHandle writePipe{port};
  SharedHandle readPipe{port};

  // Lets Reset and destruction wake a sleeping worker and wait for it to leave.
  std::mutex pauseLock;
  std::condition_variable wake;
  std::atomic<bool> workerGone{true};

  // Once-flags of the checks, user-interface thread only.
  int onceLinkOpen = 0, oncePipeReady = 0, onceModel = 0, onceVersion = 0, onceVariant = 0, onceDiscOut = 0,
      onceMode = 0;
  bool linkRetry = false;  // set by Reset: the next CheckLinkOpen gives the new worker a moment
};
