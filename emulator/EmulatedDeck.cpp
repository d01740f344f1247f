#include "emulator/EmulatedDeck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "emulator/EmulatedDriver.h"
#include "emulator/EmulatedLibrary.h"
#include "image/FirmwareImage.h"
#include "link/Clock.h"

namespace {
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

void DeckEvents::Add(const char* path, const char* kind, std::string text) {
  const double ms = Now();
  std::lock_guard<std::mutex> hold(lock);
  events.push_back({ms, path, kind, std::move(text)});
  if (live) {
    const std::string line = Describe(events.back()).Text() + "\n";
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
    const std::string line = Describe(e).Text() + "\n";
    std::fwrite(line.data(), 1, line.size(), live);
  }
  std::fflush(live);
  return true;
}

Json DeckEvents::Describe(const DeckEvent& e) {
  return Json::Object().Add("ms", e.ms).Add("path", e.path).Add("kind", e.kind).Add("text", e.text);
}

std::vector<DeckEvent> DeckEvents::All() const {
  std::lock_guard<std::mutex> hold(lock);
  return events;
}

double DeckEvents::Now() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() +
         skippedUs.load() / 1000.0;
}

void DeckEvents::Skip(double ms) {
  skipping = true;
  skippedUs += static_cast<std::int64_t>(ms * 1000);
}

void DeckEvents::Spend(double ms) {
  if (skipping.load())
    Skip(ms);
  else
    SystemClock().SleepMs(ms);
}

EmulatedDeck::EmulatedDeck(const Scenario& scenario)
    : scenario(scenario),
      driver(std::make_unique<EmulatedDriver>(*this)),
      library(std::make_unique<EmulatedLibrary>(*this)) {}

EmulatedDeck::~EmulatedDeck() = default;

std::string EmulatedDeck::Report() const {
  // Asked once, so that the version and `rewritten` agree however the rewrite's time runs on.
  const bool rewritten = driver->RewriteCompleted();
  const std::string before =
      VersionText(scenario.versionMajor, scenario.versionMinor, scenario.versionVariant);
  std::string now = before;
  if (rewritten) {
    // The version record of what the deck took.
    const std::vector<std::uint8_t> image = library->Image();
    now = VersionText(ImageMajor(image.data()), ImageMinor(image.data()), ImageVariant(image.data()));
  }
  Json all = Json::Array();
  for (const DeckEvent& e : events.All()) all.Push(DeckEvents::Describe(e));
  return Json::Object()
      .Add("scenario", scenario.name)
      .Add("driver", driver->Report())
      .Add("library", library->Report())
      .Add("version", Json::Object().Add("before", before).Add("now", now).Add("rewritten", rewritten))
      .Add("events", all)
      .Text();
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
