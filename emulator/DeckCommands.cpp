#include "emulator/DeckCommands.h"

#include <algorithm>
#include <cstdio>

#include "emulator/Hex.h"
#include "link/Protocol.h"

namespace {
using Bytes = DeckCommands::Bytes;

template <std::size_t N>
bool Is(const Bytes& command, const unsigned char (&expected)[N]) {
  return command.size() == N && std::equal(command.begin(), command.end(), expected);
}

// A reply of that kind with its head in place and the rest zero, for the fields to be set in.
Bytes Blank(const ReplyShape& shape) {
  Bytes reply(static_cast<std::size_t>(shape.length), 0);
  std::copy(shape.head, shape.head + kReplyHeadLength, reply.begin());
  return reply;
}
}  // namespace

DeckCommands::Answer DeckCommands::Take(const Bytes& frame, double now) {
  frames.push_back(frame);
  Answer answer;
  answer.notes.push_back({"frame", "frame received: " + Hex(frame)});
  if (frame.empty()) return Ignore("empty frame ignored", std::move(answer));
  if (frame[0] == kLinkKitCommand) {
    if (!Is(frame, kPowerOn)) return Ignore("unknown link kit command ignored", std::move(answer));
    poweredOn = answer.poweredOn = true;
    answer.replies.push_back({now, Bytes(std::begin(kPowerOnAcknowledged), std::end(kPowerOnAcknowledged))});
    return answer;
  }
  if (frame[0] != frame.size() - 1) {
    char text[96];
    std::snprintf(text, sizeof text, "frame ignored: length byte %02X, but %02X bytes followed", frame[0],
                  static_cast<unsigned>(frame.size() - 1));
    return Ignore(text, std::move(answer));
  }
  if (!poweredOn) return Ignore("command before the power-on request, not answered", std::move(answer));
  return Query(Bytes(frame.begin() + 1, frame.end()), now, std::move(answer));
}

DeckCommands::Answer DeckCommands::Ignore(std::string why, Answer answer) {
  answer.ignored = true;
  answer.notes.push_back({"frame-ignored", std::move(why)});
  return answer;
}

DeckCommands::Answer DeckCommands::Query(const Bytes& command, double now, Answer answer) {
  const Scenario& s = scenario;
  if (Is(command, kRewriteRequest)) {
    rewriteRequested = true;
    answer.notes.push_back({"rewrite-requested", "rewrite requested"});
    if (s.unplugAfterRequestMs >= 0) answer.unplugAt = now + s.unplugAfterRequestMs;
    return answer;
  }
  Bytes reply;
  if (Is(command, kModelQuery)) {
    if (s.answersModel) {
      reply = Blank(kModelReply);
      std::string name = s.model;
      name.resize(kModelNameLength, ' ');
      std::copy(name.begin(), name.end(), reply.begin() + kModelNameAt);
      reply.back() = 0x01;
    }
  } else if (Is(command, kVersionQuery)) {
    if (s.answersVersion) {
      // Around the numbers the deck repeats its version record: "Z8K", then the date.
      reply = Blank(kVersionReply);
      const unsigned char record[] = {'Z', '8', 'K', 0, 0, 0x01, 0x11, 0x28};
      std::copy(std::begin(record), std::end(record), reply.begin() + kReplyHeadLength);
      reply[kVersionMajorAt] = static_cast<unsigned char>(s.versionMajor);
      reply[kVersionMinorAt] = static_cast<unsigned char>(s.versionMinor);
      reply[kVersionVariantAt] = static_cast<unsigned char>(s.versionVariant);
    }
  } else if (Is(command, kDiscQuery)) {
    reply = Blank(kDiscReply);
    reply[kReplyHeadLength + 1] = 0x01;
    reply[kDiscAt] = static_cast<unsigned char>(s.discState);
  } else if (Is(command, kModeQuery)) {
    reply = Blank(kModeReply);
    reply[kModeAt] = static_cast<unsigned char>(s.modeState);
  } else {
    return Ignore("unknown command ignored", std::move(answer));
  }
  if (reply.empty()) {
    answer.notes.push_back({"unanswered", "query left unanswered, as the scenario says"});
    return answer;
  }
  answer.queryDue = now + s.replyDelayMs;
  if (!s.garbage) {
    answer.replies.push_back({answer.queryDue, reply});
    return answer;
  }
  // Unrelated traffic around the reply: a near miss of the model reply, a link kit status that is
  // not addressed to the program, and a reply-like frame of no known kind.
  Bytes nearMiss = Blank(kModelReply);
  nearMiss[kReplyHeadLength - 1] ^= 0x01;
  std::copy(kDeckModelName, kDeckModelName + kModelComparedLength, nearMiss.begin() + kModelNameAt);
  const double halfway = now + s.replyDelayMs / 2.0;
  answer.replies = {{halfway, nearMiss},
                    {halfway, {kLinkKitCommand, 0x12, 0x34}},
                    {answer.queryDue, reply},
                    {answer.queryDue, {0x07, 0x00, 0x12, 0xB8, 0x55, 0x01, 0x02, 0x03}}};
  return answer;
}

DeckCommands::Answer DeckCommands::ImageAccepted(double now) {
  Answer answer;
  if (acceptedAtMs >= 0) return answer;
  if (!rewriteRequested) {
    answer.notes.push_back(
        {"image-accepted", "image accepted without a rewrite request: nothing to rewrite"});
  } else if (scenario.completeAfterMs < 0) {
    answer.notes.push_back(
        {"image-accepted", "image accepted; the rewrite never completes, as the scenario says"});
  } else {
    acceptedAtMs = now;
    answer.notes.push_back({"image-accepted", "image accepted; rewriting"});
    answer.replies.push_back({now + scenario.completeAfterMs, Blank(kCompletionReply)});
  }
  return answer;
}

void DeckCommands::Unplugged(double now) {
  if (acceptedAtMs >= 0 && now < acceptedAtMs + scenario.completeAfterMs) rewriteCutShort = true;
}

bool DeckCommands::RewriteCompleted(double now) const {
  return acceptedAtMs >= 0 && !rewriteCutShort && now >= acceptedAtMs + scenario.completeAfterMs;
}
