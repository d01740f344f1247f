#include "emulator/EmulatedDeck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "emulator/DriverSide.h"
#include "emulator/LibrarySide.h"

namespace {
// The driver side's notes that tell how far the rewrite got.
constexpr char kAcceptedNote[] = "image accepted; rewriting";
constexpr char kUnpluggedNote[] = "the deck was unplugged";

std::string VersionText(int major, int minor, char variant) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d%c", major, minor, variant);
  return text;
}
}  // namespace

DeckEvents::DeckEvents() : start(std::chrono::steady_clock::now()) {}

DeckEvents::~DeckEvents() {
  if (live) std::fclose(live);
}

void DeckEvents::Add(const char* path, std::string what) {
  const double ms = Now();
  std::lock_guard<std::mutex> hold(lock);
  events.push_back({ms, path, std::move(what)});
  if (live) {
    const std::string line = Line(events.back()) + "\n";
    std::fwrite(line.data(), 1, line.size(), live);
    std::fflush(live);
  }
}

bool DeckEvents::LogTo(const std::string& file) {
  std::lock_guard<std::mutex> hold(lock);
  if (live) std::fclose(live);
  live = std::fopen(file.c_str(), "wb");
  if (!live) return false;
  for (const DeckEvent& e : events) {
    const std::string line = Line(e) + "\n";
    std::fwrite(line.data(), 1, line.size(), live);
  }
  std::fflush(live);
  return true;
}

std::string DeckEvents::Line(const DeckEvent& e) {
  char when[32];
  std::snprintf(when, sizeof when, "%10.1f", e.ms);
  return std::string(when) + " ms  " + e.path + ": " + e.what;
}

std::vector<DeckEvent> DeckEvents::All() const {
  std::lock_guard<std::mutex> hold(lock);
  return events;
}

double DeckEvents::Now() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

EmulatedDeck::EmulatedDeck(const Scenario& scenario)
    : scenario(scenario),
      driver(std::make_unique<DriverSide>(*this)),
      library(std::make_unique<LibrarySide>(*this)) {}

EmulatedDeck::~EmulatedDeck() = default;

std::string EmulatedDeck::Report() const {
  std::ostringstream out;
  out << "scenario: " << scenario.name << "\n";
  out << driver->Report();
  out << library->Report();
  out << "version: " << VersionText(scenario.versionMajor, scenario.versionMinor, scenario.versionVariant)
      << " before; " << VersionNow() << " now"
      << (RewriteCompleted() ? " (image taken and rewritten)" : " (not rewritten)") << "\n";
  out << "events:\n";
  for (const DeckEvent& e : events.All()) out << "  " << DeckEvents::Line(e) << "\n";
  return out.str();
}

bool EmulatedDeck::RewriteCompleted() const {
  if (scenario.completeAfterMs < 0) return false;
  double acceptedAt = -1;
  for (const DeckEvent& e : events.All()) {
    if (e.path != "driver") continue;
    if (e.what == kAcceptedNote && acceptedAt < 0) acceptedAt = e.ms;
    // Pulled before it was done: the rewrite did not finish.
    if (e.what == kUnpluggedNote && acceptedAt >= 0 && e.ms < acceptedAt + scenario.completeAfterMs)
      return false;
  }
  return acceptedAt >= 0 && events.Now() >= acceptedAt + scenario.completeAfterMs;
}

std::string EmulatedDeck::VersionNow() const {
  if (!RewriteCompleted())
    return VersionText(scenario.versionMajor, scenario.versionMinor, scenario.versionVariant);
  // The version record of what the deck took: "Z8KQV01.07A..." from byte 4 on.
  const std::vector<std::uint8_t> image = library->Image();
  auto number = [&](int at) { return (image[at] - '0') * 10 + (image[at + 1] - '0'); };
  return VersionText(number(9), number(12), static_cast<char>(image[14]));
}

namespace {
// Writes the report when the process ends, after the program's own objects are gone.
struct ProcessDeck {
  EmulatedDeck deck;
  explicit ProcessDeck(const Scenario& s) : deck(s) {
    const char* events = std::getenv("TREVOLIN_DECK_EVENTS");
    if (events && *events && !deck.events.LogTo(events))
      std::fprintf(stderr, "emulated deck: cannot write the events to '%s'\n", events);
  }
  ~ProcessDeck() {
    const char* path = std::getenv("TREVOLIN_DECK_REPORT");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "wb")) {
      const std::string text = deck.Report();
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
};

const Scenario& ScenarioFromEnvironment() {
  const char* name = std::getenv("TREVOLIN_DECK");
  if (!name || !*name) name = "success";
  if (const Scenario* s = FindScenario(name)) return *s;
  std::fprintf(stderr, "emulated deck: no scenario named '%s'\n", name);
  std::exit(2);
}
}  // namespace

EmulatedDeck& EmulatedDeck::Process() {
  static ProcessDeck process(ScenarioFromEnvironment());
  return process.deck;
}
