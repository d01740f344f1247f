// The link session's worker and its sends: construction starts a worker that opens the deck and
// sends the power-on request, then reads one reply per pass and hands it to the parser; a deck
// that cannot be opened or goes away ends it. Reset stops it and starts a fresh one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "link/DriverPort.h"
#include "link/LinkSession.h"

namespace {
constexpr int kPassPauseMs = 20;
constexpr int kEndPauseMs = 1000;
constexpr int kRecoveryPauseMs = 100;
constexpr int kMatchVendorAndProduct = DriverPort::kMatchVendor | DriverPort::kMatchProduct;
// How long a stop waits for the worker to leave by itself before it ends its thread.
constexpr auto kStopLimit = std::chrono::seconds(1);
// A command gets as long to go out as a check waits for its reply; a cancel, a moment more.
constexpr double kWriteLimitMs = 3000;
constexpr double kCancelLimitMs = 500;

std::string Formatted(const char* format, int value) {
  char line[64];
  std::snprintf(line, sizeof line, format, value);
  return line;
}
}  // namespace

LinkSession::LinkSession(DriverCalls& backend, Clock& clock) : clock(clock), calls(backend) {
  StartWorker();
}

LinkSession::~LinkSession() {
  StopWorker();
  CloseHandles();
}

void LinkSession::StartWorker() {
  running.store(1);
  workerGone.store(false);
  worker = std::thread([this] { LinkWorker(); });
}

void LinkSession::StopWorker() {
  if (!worker.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(pauseLock);
    running.store(0);
  }
  wake.notify_all();
  // A cancel reaches only I/O that is already blocked, so it is repeated until the worker has seen
  // the cleared flag and left. A driver that ignores it gets a second; then the worker is ended
  // where it waits, inside the driver's call.
  const auto giveUp = std::chrono::steady_clock::now() + kStopLimit;
  std::unique_lock<std::mutex> hold(pauseLock);
  while (!workerGone.load()) {
    hold.unlock();
    {
      // The read pipe, borrowed so that the worker's end step cannot close it under the cancel.
      Loan pipe(readPipe);
      calls.CancelIo(worker, pipe.Handle());
    }
    if (std::chrono::steady_clock::now() >= giveUp && calls.EndIfWaiting(worker)) {
      log.Append("応答しないワーカースレッドを強制終了しました。");
      return;
    }
    hold.lock();
    wake.wait_for(hold, std::chrono::milliseconds(1), [this] { return workerGone.load(); });
  }
  hold.unlock();
  worker.join();
}

bool LinkSession::Pause(int ms) {
  std::unique_lock<std::mutex> hold(pauseLock);
  return !clock.WaitMs(hold, wake, ms, [this] { return running.load() == 0; });
}

void LinkSession::LinkWorker() {
  // The worker's own: should it be ended inside a read, the driver may still write into it later,
  // so it is left to the ended thread and never freed.
  std::vector<unsigned char> incoming;
  while (running.load() != 0) {
    if (!Pause(kPassPauseMs)) break;
    switch (state.load()) {
      case kOpening:
        state.store(OpenLink(incoming));
        break;
      case kReading:
        state.store(ReadReply(incoming));
        break;
      case kOpenFailed:
      case kPacketSizeFailed:
      case kDeviceRemoved:
        Pause(kEndPauseMs);
        CloseHandles();
        running.store(0);
        break;
      default:
        break;
    }
  }
  {
    std::lock_guard<std::mutex> hold(pauseLock);
    workerGone.store(true);
  }
  wake.notify_all();
}

int LinkSession::OpenLink(std::vector<unsigned char>& incoming) {
  DriverHandle device = kInvalidHandle;
  std::string path;
  if (!FindDeck(device, path)) {
    // A search cut short by a stop found nothing, and says nothing.
    if (running.load() == 0) return kOpening;
    log.Append("USB OPEN出来ませんでした。");
    return kOpenFailed;
  }
  deviceHandle.Set(device);
  deviceFound.store(true);
  if (port.HandleState(device) != 2) {
    log.Append("IOCTLエラーが発生しました。");
    return kOpenFailed;
  }
  const int opened = OpenPipes(path, incoming);
  if (opened != kReading) return opened;
  port.DeviceControl(device);
  SendFrame(kPowerOnText, sizeof kPowerOnText - 1, true);
  return kReading;
}

bool LinkSession::FindDeck(DriverHandle& device, std::string& path) {
  // A driver that lists many members slowly can keep a search going for seconds: a stop ends it
  // between two members, with every candidate's handle closed, instead of ending the worker inside
  // one and losing that handle.
  const auto stopped = [this] { return running.load() == 0; };
  for (std::uint16_t product : kDeckProductIds)
    if (port.FindDevice(kMakerVendorId, product, kMatchVendorAndProduct, device, path, stopped)) return true;
  return false;
}

int LinkSession::OpenPipes(const std::string& path, std::vector<unsigned char>& incoming) {
  const DriverHandle write = port.OpenPipe(path, interfaceNumber, kCommandPipe);
  if (write == kInvalidHandle) {
    log.Append("USB PIPE 0 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  writePipe.Set(write);
  const DriverHandle read = port.OpenPipe(path, interfaceNumber, kReplyPipe);
  if (read == kInvalidHandle) {
    log.Append("USB PIPE 1 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  readPipe.Set(read);
  // Pipe 0 is the interface's first endpoint, pipe 1 its second.
  const int writeMax = port.GetMaxPacketSize(write, interfaceNumber, 0);
  if (writeMax == 0) {
    log.Append("パケット０の最大値を取得できませんでした。");
    return kPacketSizeFailed;
  }
  const int readMax = port.GetMaxPacketSize(read, interfaceNumber, 1);
  if (readMax == 0) {
    log.Append("パケット１の最大値を取得できませんでした。");
    return kPacketSizeFailed;
  }
  log.Append("USBデバイスを発見しました。");
  log.Append(Formatted("read max packet size =%d", readMax));
  log.Append(Formatted("write max packet size =%d", writeMax));
  log.Append("POWER ON REQローカルコマンドを送信しました。");
  incoming.assign(static_cast<std::size_t>(readMax), 0);
  std::lock_guard<std::mutex> hold(replyLock);
  readBuffer.assign(static_cast<std::size_t>(readMax), 0);
  readSize = readMax;
  writeSize = writeMax;
  return kReading;
}

int LinkSession::ReadReply(std::vector<unsigned char>& incoming) {
  const DriverHandle pipe = readPipe.Get();
  int got = 0;
  if (!port.ReadPipe(pipe, incoming.data(), static_cast<int>(incoming.size()), got)) {
    // A read cancelled to stop the worker is no read error.
    if (running.load() == 0) return kReading;
    log.Append(Formatted("read error size=%d", got));
    if (port.HandleState(pipe) != 2) {
      log.Append("デバイスが取り外されました");
      return kDeviceRemoved;
    }
    port.PipeControl(pipe);
    Pause(kRecoveryPauseMs);
  }
  got = std::min(got, static_cast<int>(incoming.size()));
  if (got <= 0) return kReading;
  std::lock_guard<std::mutex> hold(replyLock);
  // Only what was read is replaced: the bytes behind a short reply keep their earlier contents.
  std::copy(incoming.begin(), incoming.begin() + got, readBuffer.begin());
  const bool linkKit = readSize > 1 && readBuffer[1] == kLinkKitByte;
  if (running.load() == 1 && (readBuffer[0] != 0 || linkKit)) ParseReply();
  return kReading;
}

void LinkSession::CloseHandles() {
  deviceHandle.Close();
  writePipe.Close();
  readPipe.Close();
}

void LinkSession::Reset() {
  StopWorker();
  CloseHandles();
  state.store(kOpening);
  deviceFound.store(false);
  {
    std::lock_guard<std::mutex> hold(replyLock);
    readBuffer.clear();
    readSize = 0;
    writeSize = 0;
  }
  onceLinkOpen = 0;
  linkRetry = true;
  log.Append("INTERFACE / PIPE の設定をリセットしました。");
  StartWorker();
}

void LinkSession::SendBytes(const unsigned char* bytes, int count) {
  const std::string text = FrameText(bytes, count);
  if (text.empty()) return;
  SendHex(text.c_str(), static_cast<int>(text.size()));
}

void LinkSession::SendHex(const char* text, int length) {
  SendFrame(text, length, false);
}

void LinkSession::SendFrame(const char* text, int length, bool fromWorker) {
  const std::string work(text, static_cast<std::size_t>(std::max(length, 0)));
  if (!deviceHandle.Valid()) {
    log.Append("USBはOPENしていません。");
    return;
  }
  bool cameBack;
  {
    Loan pipe(writePipe);
    cameBack = WriteBounded(pipe.Handle(), work, fromWorker);
  }
  const bool local = work.compare(0, 2, "00") == 0;
  const std::string shown =
      local ? "[LINK KIT LOCAL COMMAND] " + work : work.substr(std::min<std::size_t>(2, work.size()));
  log.Append((cameBack ? "Send Data: " : "Send Data timed out: ") + shown);
}

bool LinkSession::WriteBounded(DriverHandle pipe, const std::string& text, bool fromWorker) {
  // The writer keeps what it uses alive by itself: should it be ended, it never runs again, but
  // nothing it was given may go away under it meanwhile.
  auto done = std::make_shared<std::atomic<bool>>(false);
  DriverPort& out = port;
  std::thread writer([&out, pipe, text, done] {
    out.WriteHex(pipe, text.c_str(), static_cast<int>(text.size()));
    done->store(true);
  });
  // Polled, not waited for: on the real clock, since this guards against a driver that stalls.
  Clock& real = SystemClock();
  const double giveUp = real.NowMs() + kWriteLimitMs;
  while (!done->load() && real.NowMs() < giveUp && !(fromWorker && running.load() == 0)) real.SleepMs(1);
  const bool inTime = done->load();
  // Still out: cancelled until it comes back; a driver that holds on to it past the cancel's
  // moment gets the thread ended where it waits.
  const double endAt = real.NowMs() + kCancelLimitMs;
  while (!done->load()) {
    if (real.NowMs() >= endAt && calls.EndIfWaiting(writer)) {
      log.Append("応答しない送信スレッドを強制終了しました。");
      return false;
    }
    calls.CancelIo(writer, pipe);
    real.SleepMs(1);
  }
  writer.join();
  return inTime;
}
