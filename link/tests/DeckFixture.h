// Helpers for the link tests: an emulated deck of a named or tweaked scenario, waiting for what
// the worker does, and frames in hex.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/Hex.h"
#include "emulator/Scenario.h"
#include "link/LinkSession.h"
#include "link/tests/WaitFor.h"

// The named scenario, changed by `change` when given.
Scenario Named(const std::string& name, const std::function<void(Scenario&)>& change = {});

// Waits until the session's worker is blocked reading pipe 1.
bool WaitForReading(EmulatedDeck& deck, int limitMs = 5000);

// Waits until the session's worker has ended by itself.
bool WaitForWorkerEnd(const LinkSession& session, int limitMs = 5000);

std::vector<std::string> HexFrames(const std::vector<std::vector<unsigned char>>& frames);

// The log lines of a successful open, as the session writes them with 64-byte packets.
std::vector<std::string> OpenedLines(int readSize = 64, int writeSize = 64);
