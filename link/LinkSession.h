// LinkSession: the command channel to the deck over the maker's driver. Its worker thread opens
// the deck and reads the deck's replies into the device report; the user-interface thread sends
// commands and runs the once-only checks against that report.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/DriverCalls.h"
#include "link/LinkCodec.h"
#include "link/LogRing.h"

class DriverPort;

class LinkSession {
 public:
  // Worker states.
  static constexpr int kOpening = 0;
  static constexpr int kReading = 1;
  static constexpr int kOpenFailed = 4;
  static constexpr int kPacketSizeFailed = 5;
  static constexpr int kDeviceRemoved = 6;

  static constexpr std::uint16_t kProductIds[2] = {142, 52};
  static constexpr unsigned char kWritePipe = 0;
  static constexpr unsigned char kReadPipe = 1;

  // Starts the worker, which opens the deck on its first pass, 20 ms later.
  explicit LinkSession(DriverCalls& calls);
  // Stops the worker (it is never killed), then closes the handles.
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // Stops the worker, closes every handle, and starts a fresh worker that opens the deck again.
  // Allows one more CheckLinkOpen, which waits a moment for the new worker.
  void Reset();

  // Frames the command bytes (2 to 255 of them) and sends them on pipe 0.
  void SendBytes(const unsigned char* bytes, int count);
  // Sends a frame given as hex text and logs it.
  void SendHex(const char* text, int length);

  // The checks: 1 on success, their own negative code otherwise. Each runs once; a second call
  // returns the failure code at once (CheckLinkOpen runs once more after each Reset).
  int CheckLinkOpen();   // -1; passes only once the worker has opened the deck and is reading
  int CheckPipeReady();  // -2
  int CheckModel();      // -3
  int CheckVersion();    // -4
  int CheckVariant();    // -5
  int CheckDiscOut();    // -7
  int CheckMode();       // -8
  // Asks the deck to take a new image; always 1.
  int RequestRewrite();
  // 1 once a completion report has been read and no RequestRewrite came after it, else -9.
  int IsRewriteDone();

  // For tests and diagnostics.
  const LogRing& Log() const { return log; }
  int State() const { return state.load(); }
  bool WorkerRunning() const { return running.load() != 0; }
  bool DeviceOpen() const { return deviceHandle.load() != kInvalidHandle; }
  DeviceReport Report() const;

 private:
  int LinkWorker();
  int OpenLink();
  int ReadReply();
  int CloseHandles();
  int ParseReply();  // on readBuffer, with replyLock held
  void StartWorker();
  void StopWorker();
  // Sleeps on the worker thread; returns early, false, once `running` is cleared.
  bool Pause(int ms);
  // Clears readBuffer and the awaited field (under replyLock), sends the command, then tests
  // `met` (under replyLock) every 10 ms, at most 300 times.
  template <typename Clear, typename Met>
  bool SendAndPoll(const unsigned char* command, int count, Clear clear, Met met);

  std::thread worker;
  std::atomic<int> running{1};
  std::atomic<int> state{kOpening};
  LogRing log;
  const unsigned char interfaceNumber = 0;
  std::unique_ptr<DriverPort> port;

  // The reply buffer, its size and the device report change under replyLock, never held across
  // a driver call. The worker reads into a buffer of its own and copies what it read into
  // readBuffer under the lock, so a check's clearing and the worker's parsing never interleave.
  mutable std::mutex replyLock;
  std::vector<unsigned char> readBuffer;
  int readSize = 0;
  int writeSize = 0;
  int rewriteDone = 0;
  DeviceReport report;
  std::vector<unsigned char> incoming;  // worker only

  // The handles are atomic; handleLock keeps a handle from being closed while the other thread
  // writes or queries through it.
  std::mutex handleLock;
  std::atomic<DriverHandle> deviceHandle{kInvalidHandle};
  std::atomic<DriverHandle> writePipe{kInvalidHandle};
  std::atomic<DriverHandle> readPipe{kInvalidHandle};

  // Lets Reset and destruction wake a sleeping worker and wait for it to leave.
  std::mutex pauseLock;
  std::condition_variable wake;
  std::atomic<bool> workerGone{true};

  // Once-flags of the checks, user-interface thread only.
  int onceLinkOpen = 0, oncePipeReady = 0, onceModel = 0, onceVersion = 0, onceVariant = 0, onceDiscOut = 0,
      onceMode = 0;
  bool linkRetry = false;  // set by Reset: the next CheckLinkOpen gives the new worker a moment
};
