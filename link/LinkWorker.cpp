// The link session's worker and its sends: construction starts a worker that opens the deck and
// sends the power-on request, then reads one reply per pass and hands it to the parser; a deck
// that cannot be opened or goes away ends it. Reset stops it and starts a fresh one.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "link/DriverPort.h"
#include "link/LinkSession.h"

namespace {
constexpr int kPassPauseMs = 20;
constexpr int kEndPauseMs = 1000;
constexpr int kRecoveryPauseMs = 100;
constexpr int kMatchVendorAndProduct = DriverPort::kMatchVendor | DriverPort::kMatchProduct;

std::string Formatted(const char* format, int value) {
  char line[64];
  std::snprintf(line, sizeof line, format, value);
  return line;
}
}  // namespace

LinkSession::LinkSession(DriverCalls& calls, Clock& clock)
    : clock(clock), port(std::make_unique<DriverPort>(calls)) {
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
  // A cancel reaches only a read that is already blocked, so it is repeated until the worker has
  // seen the cleared flag and left.
  std::unique_lock<std::mutex> hold(pauseLock);
  while (!workerGone.load()) {
    hold.unlock();
    {
      // The read pipe is cancelled by handle only while it cannot be closed under the cancel (and
      // its value reused); while the worker closes or writes, its own I/O is cancelled alone.
      std::unique_lock<std::mutex> handles(handleLock, std::try_to_lock);
      port->CancelRead(worker, handles.owns_lock() ? readPipe.load() : kInvalidHandle);
    }
    hold.lock();
    wake.wait_for(hold, std::chrono::milliseconds(1), [this] { return workerGone.load(); });
  }
  hold.unlock();
  worker.join();
}

bool LinkSession::Pause(int ms) {
  std::unique_lock<std::mutex> hold(pauseLock);
  return !wake.wait_for(hold, std::chrono::milliseconds(ms), [this] { return running.load() == 0; });
}

void LinkSession::LinkWorker() {
  while (running.load() != 0) {
    if (!Pause(kPassPauseMs)) break;
    switch (state.load()) {
      case kOpening:
        state.store(OpenLink());
        break;
      case kReading:
        state.store(ReadReply());
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

int LinkSession::OpenLink() {
  DriverHandle device = kInvalidHandle;
  std::string path;
  if (!FindDeck(device, path)) {
    log.Append("USB OPEN出来ませんでした。");
    return kOpenFailed;
  }
  deviceHandle.store(device);
  if (port->HandleState(device) != 2) {
    log.Append("IOCTLエラーが発生しました。");
    return kOpenFailed;
  }
  const int opened = OpenPipes(path);
  if (opened != kReading) return opened;
  port->DeviceControl(device);
  SendHex(kPowerOnText, sizeof kPowerOnText - 1);
  return kReading;
}

bool LinkSession::FindDeck(DriverHandle& device, std::string& path) {
  for (std::uint16_t product : kDeckProductIds)
    if (port->FindDevice(kMakerVendorId, product, kMatchVendorAndProduct, device, path)) return true;
  return false;
}

int LinkSession::OpenPipes(const std::string& path) {
  const DriverHandle write = port->OpenPipe(path, interfaceNumber, kCommandPipe);
  if (write == kInvalidHandle) {
    log.Append("USB PIPE 0 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  writePipe.store(write);
  const DriverHandle read = port->OpenPipe(path, interfaceNumber, kReplyPipe);
  if (read == kInvalidHandle) {
    log.Append("USB PIPE 1 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  readPipe.store(read);
  // Pipe 0 is the interface's first endpoint, pipe 1 its second.
  const int writeMax = port->GetMaxPacketSize(write, interfaceNumber, 0);
  if (writeMax == 0) {
    log.Append("パケット０の最大値を取得できませんでした。");
    return kPacketSizeFailed;
  }
  const int readMax = port->GetMaxPacketSize(read, interfaceNumber, 1);
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

int LinkSession::ReadReply() {
  const DriverHandle pipe = readPipe.load();
  int got = 0;
  if (!port->ReadPipe(pipe, incoming.data(), static_cast<int>(incoming.size()), got)) {
    // A read cancelled to stop the worker is no read error.
    if (running.load() == 0) return kReading;
    log.Append(Formatted("read error size=%d", got));
    if (port->HandleState(pipe) != 2) {
      log.Append("デバイスが取り外されました");
      return kDeviceRemoved;
    }
    port->PipeControl(pipe);
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
  std::lock_guard<std::mutex> hold(handleLock);
  // Each handle is taken out before it is closed, so none is ever closed twice.
  for (std::atomic<DriverHandle>* handle : {&deviceHandle, &writePipe, &readPipe}) {
    const DriverHandle h = handle->exchange(kInvalidHandle);
    if (h != kInvalidHandle) port->ReleaseHandle(h);
  }
}

void LinkSession::Reset() {
  StopWorker();
  CloseHandles();
  state.store(kOpening);
  {
    std::lock_guard<std::mutex> hold(replyLock);
    readBuffer.clear();
    readSize = 0;
    writeSize = 0;
  }
  incoming.clear();
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
  const std::string work(text, static_cast<std::size_t>(std::max(length, 0)));
  {
    std::lock_guard<std::mutex> hold(handleLock);
    if (deviceHandle.load() == kInvalidHandle) {
      log.Append("USBはOPENしていません。");
      return;
    }
    port->WriteHex(writePipe.load(), work.c_str(), length);
  }
  if (work.compare(0, 2, "00") == 0) {
    log.Append("Send Data: [LINK KIT LOCAL COMMAND] " + work);
  } else {
    log.Append("Send Data: " + work.substr(std::min<std::size_t>(2, work.size())));
  }
}
