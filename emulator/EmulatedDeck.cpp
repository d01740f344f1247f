#include "emulator/EmulatedDeck.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "emulator/DriverSide.h"
#include "emulator/LibrarySide.h"

DeckEvents::DeckEvents() : start(std::chrono::steady_clock::now()) {}

void DeckEvents::Add(const char* path, std::string what) {
  const double ms = Now();
  std::lock_guard<std::mutex> hold(lock);
  events.push_back({ms, path, std::move(what)});
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
  out << "events:\n";
  for (const DeckEvent& e : events.All()) {
    char when[32];
    std::snprintf(when, sizeof when, "%10.1f", e.ms);
    out << "  " << when << " ms  " << e.path << ": " << e.what << "\n";
  }
  return out.str();
}

namespace {
// Writes the report when the process ends, after the program's own objects are gone.
struct ProcessDeck {
  EmulatedDeck deck;
  explicit ProcessDeck(const Scenario& s) : deck(s) {}
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
