// The emulated HVX-Z8KQ deck: one deck behind both USB paths, the driver path (EmulatedDriver, with
// its command logic in DeckCommands) and the library path (EmulatedLibrary), driven by a scenario,
// recording what reached it and in which order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/Json.h"
#include "emulator/Scenario.h"

class EmulatedDriver;
class EmulatedLibrary;

// One thing that reached the deck or that the deck did, on either path, in arrival order.
struct DeckEvent {
  double ms;         // since the deck was made
  std::string path;  // "driver" or "library"
  std::string kind;  // one word for a test to look for: "frame", "block", "rewrite-requested", ...
  std::string text;  // the same for a person, with its details
};

class DeckEvents {
 public:
  DeckEvents();
  ~DeckEvents();
  DeckEvents(const DeckEvents&) = delete;
  DeckEvents& operator=(const DeckEvents&) = delete;

  void Add(const char* path, const char* kind, std::string text);
  std::vector<DeckEvent> All() const;
  // The deck's clock: milliseconds since the deck was made, plus whatever Skip added.
  double Now() const;
  // Moves the deck's clock on at once: a test's stand-in for a pause it need not wait out. From then
  // on the deck's own calls move it on too (Spend), instead of taking real time.
  void Skip(double ms);
  // The time a call of the deck takes on its clock: slept out, or skipped once a test skips.
  void Spend(double ms);
  // From now on every event is also appended to this file as it happens, one JSON object a line,
  // flushed at once: a test reads it while the program still runs. False when it cannot be opened.
  bool LogTo(const std::string& file);

  // One event as a JSON object.
  static ::Json Describe(const DeckEvent& e);

 private:
  std::chrono::steady_clock::time_point start;
  std::atomic<std::int64_t> skippedUs{0};
  std::atomic<bool> skipping{false};
  mutable std::mutex lock;
  std::vector<DeckEvent> events;
  std::FILE* live = nullptr;
};

class EmulatedDeck {
 public:
  explicit EmulatedDeck(const Scenario& scenario);
  ~EmulatedDeck();
  EmulatedDeck(const EmulatedDeck&) = delete;
  EmulatedDeck& operator=(const EmulatedDeck&) = delete;

  const Scenario scenario;
  DeckEvents events;

  EmulatedDriver& Driver() { return *driver; }
  EmulatedLibrary& Library() { return *library; }

  // What the deck received and how it judged it, as one JSON object that tests and scripts read
  // field by field: `scenario`; `driver` and `library` (their Report); `version` (`before`; `now`,
  // the image's, e.g. "1.07A", once the deck has taken it, been asked to rewrite itself and done so;
  // `rewritten`: whether it did); `events`, each {ms, path, kind, text}, `kind` one word a program
  // looks for (`frame`, `rewrite-requested`, `block`, `reply-read`, `fault`, ...), `text` the same
  // for a person.
  std::string Report() const;

  // The deck of this process: the scenario named by TREVOLIN_DECK ("success" when unset). When
  // TREVOLIN_DECK_REPORT names a file, the report is written there as the process ends; when
  // TREVOLIN_DECK_EVENTS names one, every event is appended there as it happens (JSON lines).
  static EmulatedDeck& Process();

 private:
  std::unique_ptr<EmulatedDriver> driver;
  std::unique_ptr<EmulatedLibrary> library;
};
