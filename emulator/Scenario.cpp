#include "emulator/Scenario.h"

#include <functional>

namespace {
Scenario Make(const char* name, const std::function<void(Scenario&)>& change) {
  Scenario s;
  s.name = name;
  change(s);
  return s;
}
}  // namespace

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> all = {
      Make("success", [](Scenario&) {}),
      Make("product-52", [](Scenario& s) { s.productId = 52; }),
      Make("absent",
           [](Scenario& s) {
             s.productId = 0;
             s.libraryDecks = 0;
           }),
      Make("other-vendor", [](Scenario& s) { s.vendorId = 0x1234; }),
      Make("other-product", [](Scenario& s) { s.productId = 143; }),
      Make("not-ready", [](Scenario& s) { s.ready = false; }),
      Make("pipe0-fails", [](Scenario& s) { s.pipe0Opens = false; }),
      Make("pipe1-fails", [](Scenario& s) { s.pipe1Opens = false; }),
      Make("packet0-missing", [](Scenario& s) { s.packetSize0 = 0; }),
      Make("packet1-missing", [](Scenario& s) { s.packetSize1 = 0; }),
      Make("small-packets",
           [](Scenario& s) {
             s.packetSize0 = 8;
             s.packetSize1 = 8;
           }),
      Make("packets-13", [](Scenario& s) { s.packetSize1 = 13; }),
      Make("packets-16", [](Scenario& s) { s.packetSize1 = 16; }),
      Make("other-model", [](Scenario& s) { s.model = "HVX-Z9KQ"; }),
      Make("no-model-reply", [](Scenario& s) { s.answersModel = false; }),
      Make("version-1.07", [](Scenario& s) { s.versionMinor = 7; }),
      Make("version-2.00",
           [](Scenario& s) {
             s.versionMajor = 2;
             s.versionMinor = 0;
           }),
      Make("version-0.99",
           [](Scenario& s) {
             s.versionMajor = 0;
             s.versionMinor = 99;
           }),
      Make("no-version-reply", [](Scenario& s) { s.answersVersion = false; }),
      Make("variant-M", [](Scenario& s) { s.versionVariant = 'M'; }),
      Make("variant-m", [](Scenario& s) { s.versionVariant = 'm'; }),
      Make("disc-inside", [](Scenario& s) { s.discState = 0x12; }),
      Make("wrong-mode", [](Scenario& s) { s.modeState = 2; }),
      Make("reply-before-limit", [](Scenario& s) { s.replyDelayMs = 2500; }),
      Make("reply-after-limit", [](Scenario& s) { s.replyDelayMs = 4000; }),
      Make("garbage", [](Scenario& s) { s.garbage = true; }),
      Make("late-plug", [](Scenario& s) { s.plugInAfterMs = 600; }),
      Make("stranger-first", [](Scenario& s) { s.strangerFirst = true; }),
      Make("long-device-path", [](Scenario& s) { s.devicePathLength = 347; }),
      Make("read-error", [](Scenario& s) { s.failedReads = 1; }),
      Make("cancel-ignored", [](Scenario& s) { s.cancelIgnored = true; }),
      Make("write-stalls", [](Scenario& s) { s.writesStall = true; }),
      Make("unplug-during-wait",
           [](Scenario& s) {
             s.unplugAfterRequestMs = 16000;
             s.completeAfterMs = -1;
           }),
      Make("library-absent", [](Scenario& s) { s.libraryDecks = 0; }),
      Make("library-two-decks", [](Scenario& s) { s.libraryDecks = 2; }),
      Make("library-name-refused", [](Scenario& s) { s.nameRefused = true; }),
      Make("library-open-refused", [](Scenario& s) { s.openRefused = true; }),
      Make("refuse-block-0", [](Scenario& s) { s.refuseBlock = 0; }),
      Make("refuse-block-512", [](Scenario& s) { s.refuseBlock = 512; }),
      Make("unplug-at-block-500", [](Scenario& s) { s.unplugAtBlock = 500; }),
      Make("no-acceptance", [](Scenario& s) { s.acceptAfterMs = -1; }),
      Make("short-status", [](Scenario& s) { s.shortStatus = true; }),
      Make("zero-pending-length", [](Scenario& s) { s.zeroPendingLength = true; }),
      Make("empty-reply", [](Scenario& s) { s.emptyReply = true; }),
      Make("pending-flag-2", [](Scenario& s) { s.pendingFlag = 2; }),
      Make("never-completes", [](Scenario& s) { s.completeAfterMs = -1; }),
  };
  return all;
}

const Scenario* FindScenario(const std::string& name) {
  for (const Scenario& s : Scenarios())
    if (s.name == name) return &s;
  return nullptr;
}
