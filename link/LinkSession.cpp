#include "link/LinkSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "image/FirmwareImage.h"
#include "link/DriverPort.h"
#include "link/LinkCodec.h"
#include "link/Pause.h"

namespace {
constexpr int kPassPauseMs = 20;
constexpr int kEndPauseMs = 1000;
constexpr int kRecoveryPauseMs = 100;
constexpr int kPolls = 300;
constexpr int kPollMs = 10;
constexpr int kLinkRetryPolls = 30;  // about 300 ms for a new worker to open the deck
constexpr int kMatchVendorAndProduct = DriverPort::kMatchVendor | DriverPort::kMatchProduct;

std::string Formatted(const char* format, int value) {
  char line[64];
  std::snprintf(line, sizeof line, format, value);
  return line;
}

}  // namespace

LinkSession::LinkSession(DriverCalls& calls) : port(std::make_unique<DriverPort>(calls)) {
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

int LinkSession::LinkWorker() {
  while (running.load() != 0) {
    if (!Pause(kPassPauseMs)) break;
    const int now = state.load();
    if (now == kOpening) {
      const int result = OpenLink();
      state.store(result == 0 ? kReading : result);
    } else if (now == kReading) {
      const int result = ReadReply();
      if (result != 0) state.store(result);
    } else if (now >= 2 && now <= kDeviceRemoved) {
      Pause(kEndPauseMs);
      CloseHandles();
      running.store(0);
    }
  }
  {
    std::lock_guard<std::mutex> hold(pauseLock);
    workerGone.store(true);
  }
  wake.notify_all();
  return 1;
}

int LinkSession::OpenLink() {
  DriverHandle device = kInvalidHandle;
  std::string path;
  bool found = false;
  for (std::uint16_t product : kProductIds) {
    if (port->FindDevice(kMakerVendorId, product, kMatchVendorAndProduct, device, path)) {
      found = true;
      break;
    }
  }
  if (!found) {
    log.Append("USB OPEN出来ませんでした。");
    return kOpenFailed;
  }
  deviceHandle.store(device);
  if (port->HandleState(device) != 2) {
    log.Append("IOCTLエラーが発生しました。");
    return kOpenFailed;
  }
  const DriverHandle write = port->OpenPipe(path, interfaceNumber, kWritePipe);
  if (write == kInvalidHandle) {
    log.Append("USB PIPE 0 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  writePipe.store(write);
  const DriverHandle read = port->OpenPipe(path, interfaceNumber, kReadPipe);
  if (read == kInvalidHandle) {
    log.Append("USB PIPE 1 OPEN出来ませんでした。");
    return kOpenFailed;
  }
  readPipe.store(read);
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
  {
    std::lock_guard<std::mutex> hold(replyLock);
    readBuffer.assign(static_cast<std::size_t>(readMax), 0);
    readSize = readMax;
    writeSize = writeMax;
  }
  port->DeviceControl(device);
  SendHex("006000", 6);
  return 0;
}

int LinkSession::ReadReply() {
  const DriverHandle pipe = readPipe.load();
  int got = 0;
  if (!port->ReadPipe(pipe, incoming.data(), static_cast<int>(incoming.size()), got)) {
    // A read cancelled to stop the worker is no read error.
    if (running.load() == 0) return 0;
    log.Append(Formatted("read error size=%d", got));
    if (port->HandleState(pipe) != 2) {
      log.Append("デバイスが取り外されました");
      return kDeviceRemoved;
    }
    port->PipeControl(pipe);
    Pause(kRecoveryPauseMs);
  }
  got = std::min(got, static_cast<int>(incoming.size()));
  if (got <= 0) return 0;
  std::lock_guard<std::mutex> hold(replyLock);
  // Only what was read is replaced: the bytes behind a short reply keep their earlier contents.
  std::copy(incoming.begin(), incoming.begin() + got, readBuffer.begin());
  if (running.load() == 1 && (readBuffer[0] != 0 || (readSize > 1 && readBuffer[1] == 0x60))) ParseReply();
  return 0;
}

int LinkSession::CloseHandles() {
  std::lock_guard<std::mutex> hold(handleLock);
  // Each handle is taken out before it is closed, so none is ever closed twice.
  for (std::atomic<DriverHandle>* handle : {&deviceHandle, &writePipe, &readPipe}) {
    const DriverHandle h = handle->exchange(kInvalidHandle);
    if (h != kInvalidHandle) port->ReleaseHandle(h);
  }
  return 0;
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

int LinkSession::ParseReply() {
  // The matcher stores only the fields of the reply it recognised, straight into the report.
  const ReplyKind kind = MatchReply(readBuffer.data(), readSize, report);
  if (kind == kCompletionReply) rewriteDone = 1;
  return kind;
}

DeviceReport LinkSession::Report() const {
  std::lock_guard<std::mutex> hold(replyLock);
  return report;
}

template <typename Clear, typename Met>
bool LinkSession::SendAndPoll(const unsigned char* command, int count, Clear clear, Met met) {
  // Clearing comes before the send, so every reply read after the command went out is seen.
  {
    std::lock_guard<std::mutex> hold(replyLock);
    std::fill(readBuffer.begin(), readBuffer.end(), 0);
    clear();
  }
  SendBytes(command, count);
  for (int poll = 0; poll < kPolls; ++poll) {
    {
      std::lock_guard<std::mutex> hold(replyLock);
      if (met()) return true;
    }
    PauseMs(kPollMs);
  }
  return false;
}

int LinkSession::CheckLinkOpen() {
  if (onceLinkOpen) return -1;
  onceLinkOpen = 1;
  if (linkRetry) {
    // After a Reset the new worker needs a moment to run its open sequence.
    linkRetry = false;
    for (int poll = 0; poll < kLinkRetryPolls && state.load() == kOpening; ++poll) PauseMs(kPollMs);
  }
  // Only a finished open sequence is a link: a device found but not ready, or whose pipe or
  // packet size failed, keeps its handle until the worker ends a second later all the same.
  if (state.load() == kReading && deviceHandle.load() != kInvalidHandle) return 1;
  log.Append("ドライバオープンエラーが発生しました。");
  return -1;
}

int LinkSession::CheckPipeReady() {
  if (oncePipeReady) return -2;
  oncePipeReady = 1;
  int ready;
  {
    std::lock_guard<std::mutex> hold(handleLock);
    ready = port->HandleState(deviceHandle.load());
  }
  if (ready == 2) return 1;
  log.Append("IOCTLエラーが発生しました。");
  return -2;
}

int LinkSession::CheckModel() {
  if (onceModel) return -3;
  onceModel = 1;
  static const unsigned char command[] = {0x00, 0x60, 0xC0, 0x6A};
  const bool met = SendAndPoll(
      command, sizeof command, [this] { std::memset(report.modelName, 0, 8); },
      [this] { return std::memcmp(report.modelName, "HVX-Z8KQ", 8) == 0; });
  return met ? 1 : -3;
}

int LinkSession::CheckVersion() {
  if (onceVersion) return -4;
  onceVersion = 1;
  static const unsigned char command[] = {0x00, 0x60, 0xB0, 0xF1, 0x00};
  const bool met = SendAndPoll(
      command, sizeof command,
      [this] {
        report.versionMajor = 10;
        report.versionMinor = 10;
        report.versionVariant = 0;
      },
      [this] {
        const int major = ImageMajor(FirmwareImage);
        const int minor = ImageMinor(FirmwareImage);
        return report.versionMajor < major || (report.versionMajor == major && report.versionMinor < minor);
      });
  return met ? 1 : -4;
}

int LinkSession::CheckVariant() {
  if (onceVariant) return -5;
  onceVariant = 1;
  std::lock_guard<std::mutex> hold(replyLock);
  const unsigned char variant = report.versionVariant;
  return variant == 0 || variant == 'M' || variant == 'm' ? -5 : 1;
}

int LinkSession::CheckDiscOut() {
  if (onceDiscOut) return -7;
  onceDiscOut = 1;
  static const unsigned char command[] = {0x00, 0x60, 0xB0, 0x0F};
  const bool met = SendAndPoll(
      command, sizeof command, [this] { report.discState = 0; }, [this] { return report.discState == 0x13; });
  return met ? 1 : -7;
}

int LinkSession::CheckMode() {
  if (onceMode) return -8;
  onceMode = 1;
  static const unsigned char command[] = {0x00, 0x60, 0xB0, 0xCA, 0xFF};
  const bool met = SendAndPoll(
      command, sizeof command, [this] { report.modeState = 0; }, [this] { return report.modeState == 1; });
  return met ? 1 : -8;
}

int LinkSession::RequestRewrite() {
  {
    std::lock_guard<std::mutex> hold(replyLock);
    rewriteDone = 0;
    std::fill(readBuffer.begin(), readBuffer.end(), 0);
  }
  static const unsigned char command[] = {0x00, 0x60, 0xB0, 0xC0, 0xA6};
  SendBytes(command, sizeof command);
  return 1;
}

int LinkSession::IsRewriteDone() {
  std::lock_guard<std::mutex> hold(replyLock);
  return rewriteDone == 1 ? 1 : -9;
}
