// The link session's view of the deck: the parser that stores what each reply reports, the seven
// once-only checks run by the connection check, the rewrite request and the completion query.
#include <algorithm>
#include <cstring>

#include "image/FirmwareImage.h"
#include "link/DriverPort.h"
#include "link/LinkSession.h"

namespace {
constexpr int kPolls = 300;
constexpr int kPollMs = 10;
constexpr int kLinkRetryPolls = 30;  // about 300 ms for a new worker to open the deck
// Version presets before the version query: 10.10 is newer than any image, so no answer fails.
constexpr unsigned char kVersionPreset = 10;
}  // namespace

void LinkSession::ParseReply() {
  // The matcher stores only the fields of the reply it recognised, straight into the report.
  if (MatchReply(readBuffer.data(), readSize, report) == ReplyKind::Completion) rewriteDone = 1;
}

DeviceReport LinkSession::Report() const {
  std::lock_guard<std::mutex> hold(replyLock);
  return report;
}

template <std::size_t N, typename Clear, typename Met>
bool LinkSession::SendAndPoll(const unsigned char (&command)[N], Clear clear, Met met) {
  // Clearing comes before the send, so every reply read after the command went out is seen.
  {
    std::lock_guard<std::mutex> hold(replyLock);
    std::fill(readBuffer.begin(), readBuffer.end(), 0);
    clear();
  }
  SendBytes(command, N);
  for (int poll = 0; poll < kPolls; ++poll) {
    {
      std::lock_guard<std::mutex> hold(replyLock);
      if (met()) return true;
    }
    clock.SleepMs(kPollMs);
  }
  return false;
}

int LinkSession::CheckLinkOpen() {
  if (onceLinkOpen) return -1;
  onceLinkOpen = 1;
  if (linkRetry) {
    // After a Reset the new worker needs a moment to look for the deck.
    linkRetry = false;
    for (int poll = 0; poll < kLinkRetryPolls && state.load() == kOpening && !deviceFound.load(); ++poll)
      clock.SleepMs(kPollMs);
  }
  // A deck that was found is there, even when a later step of its open failed: that is for the
  // pipe check to tell, whether or not the worker's end step has closed the device by now.
  if (deviceFound.load()) return 1;
  log.Append("ドライバオープンエラーが発生しました。");
  return -1;
}

int LinkSession::CheckPipeReady() {
  if (oncePipeReady) return -2;
  oncePipeReady = 1;
  int ready;
  {
    Loan device(deviceHandle);
    ready = port.HandleState(device.Handle());
  }
  // A device whose open failed later on is no usable link, even while the worker still holds it
  // in the pause before its end.
  const int now = state.load();
  if (ready == 2 && now != kOpenFailed && now != kPacketSizeFailed) return 1;
  log.Append("IOCTLエラーが発生しました。");
  return -2;
}

int LinkSession::CheckModel() {
  if (onceModel) return -3;
  onceModel = 1;
  const bool met = SendAndPoll(
      kModelQuery, [this] { std::memset(report.modelName, 0, kModelComparedLength); },
      [this] { return std::memcmp(report.modelName, kDeckModelName, kModelComparedLength) == 0; });
  return met ? 1 : -3;
}

int LinkSession::CheckVersion() {
  if (onceVersion) return -4;
  onceVersion = 1;
  const bool met = SendAndPoll(
      kVersionQuery,
      [this] {
        report.versionMajor = kVersionPreset;
        report.versionMinor = kVersionPreset;
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
  // No version reply leaves 0; variant M (either case) is not eligible.
  return variant == 0 || variant == 'M' || variant == 'm' ? -5 : 1;
}

int LinkSession::CheckDiscOut() {
  if (onceDiscOut) return -7;
  onceDiscOut = 1;
  const bool met = SendAndPoll(
      kDiscQuery, [this] { report.discState = 0; }, [this] { return report.discState == kNoDiscInside; });
  return met ? 1 : -7;
}

int LinkSession::CheckMode() {
  if (onceMode) return -8;
  onceMode = 1;
  const bool met = SendAndPoll(
      kModeQuery, [this] { report.modeState = 0; }, [this] { return report.modeState == kTavroMode; });
  return met ? 1 : -8;
}

int LinkSession::RequestRewrite() {
  {
    std::lock_guard<std::mutex> hold(replyLock);
    rewriteDone = 0;
    std::fill(readBuffer.begin(), readBuffer.end(), 0);
  }
  SendBytes(kRewriteRequest, sizeof kRewriteRequest);
  return 1;
}

int LinkSession::IsRewriteDone() {
  std::lock_guard<std::mutex> hold(replyLock);
  return rewriteDone == 1 ? 1 : -9;
}
