// Helpers for the tests of whatever talks to the emulated deck.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/EmulatedDeck.h"
#include "emulator/EmulatedDriver.h"
#include "emulator/Hex.h"
#include "link/LinkSession.h"
#include "tests/support/SimClock.h"

using Lines = std::vector<std::string>;

// Polls `condition` every millisecond; false if it still does not hold after `limitMs`, so that a
// fault fails the test instead of hanging it.
inline bool WaitFor(const std::function<bool()>& condition, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The named scenario, changed by `change` when given.
inline Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change = {}) {
  Scenario s = *FindScenario(name);
  if (change) change(s);
  return s;
}

// A session on a deck of the scenario, on its own simulated clock unless given another.
struct Session {
  explicit Session(const Scenario& s, Clock* other = nullptr)
      : deck(s), link(deck.Driver(), other ? *other : clock) {}
  SimClock clock;
  EmulatedDeck deck;
  LinkSession link;
};

// Waits until the session's worker is blocked reading pipe 1, or has ended by itself.
inline bool WaitForReading(EmulatedDeck& deck) {
  return WaitFor([&] { return deck.Driver().BlockedReads() > 0; });
}
inline bool WaitForWorkerEnd(const LinkSession& session) {
  return WaitFor([&] { return !session.WorkerRunning(); });
}

// A session whose worker has opened the deck and is reading.
struct Reading : Session {
  explicit Reading(const Scenario& s) : Session(s) { EXPECT_TRUE(WaitForReading(deck)); }
};

inline Lines HexFrames(const std::vector<std::vector<unsigned char>>& frames) {
  Lines out;
  for (const auto& f : frames) out.push_back(Hex(f));
  return out;
}

// A command as the deck receives it, in hex: its count byte, then its bytes.
template <std::size_t N>
std::string Framed(const unsigned char (&command)[N]) {
  return Hex(HexToBytes(FrameText(command, N).c_str(), 2 * N + 2));
}

inline Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The log lines of a successful open, as the session writes them with 64-byte packets, and of a Reset.
inline Lines OpenedLines(int readSize = 64, int writeSize = 64) {
  return {"USBデバイスを発見しました。", "read max packet size =" + std::to_string(readSize),
          "write max packet size =" + std::to_string(writeSize),
          "POWER ON REQローカルコマンドを送信しました。", "Send Data: [LINK KIT LOCAL COMMAND] 006000"};
}
inline const std::string kResetLine = "INTERFACE / PIPE の設定をリセットしました。";
