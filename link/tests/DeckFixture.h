// Helpers for the link tests: an emulated deck of a named or tweaked scenario with a session on
// it, waiting for what the worker does, frames in hex and the session's log lines.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "emulator/Scenario.h"
#include "link/LinkSession.h"
#include "link/tests/WaitFor.h"

using Lines = std::vector<std::string>;

// The named scenario, changed by `change` when given.
Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change = {});

// Waits until the session's worker is blocked reading pipe 1.
bool WaitForReading(EmulatedDeck& deck, int limitMs = 5000);

// Waits until the session's worker has ended by itself.
bool WaitForWorkerEnd(const LinkSession& session, int limitMs = 5000);

// A session on a deck of the scenario.
struct Session {
  explicit Session(const Scenario& s) : deck(s), link(deck.Driver()) {}
  EmulatedDeck deck;
  LinkSession link;
};

// A session whose worker has opened the deck and is reading.
struct Reading : Session {
  explicit Reading(const Scenario& s) : Session(s) { EXPECT_TRUE(WaitForReading(deck)); }
};

Lines HexFrames(const std::vector<std::vector<unsigned char>>& frames);

// The log lines of a successful open, as the session writes them with 64-byte packets.
Lines OpenedLines(int readSize = 64, int writeSize = 64);

Lines Concat(Lines a, const Lines& b);
