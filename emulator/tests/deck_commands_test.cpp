// The deck's command logic alone, without threads or a clock: frames in, in turn, on a deck of a
// scenario ("accepted" for the library path taking the image); out, each reply the deck queues on
// pipe 1 with how long after the frame it is due, "ignored" for a frame it does not take, and when
// it goes away.
#include "emulator/DeckCommands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "emulator/Hex.h"

namespace {
DeckCommands::Bytes Bytes(const std::string& hex) {
  DeckCommands::Bytes bytes;
  std::istringstream in(hex);
  for (unsigned byte; in >> std::hex >> byte;) bytes.push_back(static_cast<unsigned char>(byte));
  return bytes;
}

std::string Said(const DeckCommands::Answer& answer, double now) {
  std::string said = answer.ignored ? "ignored" : "";
  for (const DeckCommands::Reply& r : answer.replies)
    said += (said.empty() ? "+" : ", +") + std::to_string(int(r.due - now)) + " " + Hex(r.bytes);
  if (answer.unplugAt >= 0) said += "unplug +" + std::to_string(int(answer.unplugAt - now));
  return said;
}

constexpr const char* kModel = "12 00 18 C8 6A 48 56 58 2D 5A 38 4B 51 20 20 20 20 20 01";
}  // namespace

TEST(DeckCommands, AnswersEachFrameAsItsScenarioSays) {
  const struct {
    const char* scenario;
    std::vector<std::pair<std::string, std::string>> steps;  // frame, what the deck does
  } cases[] = {
      {"success",
       {{"04 00 60 C0 6A", "ignored"},  // before the power-on
        {"00 60 00", "+0 00 60 01"},
        {"00 60 02", "ignored"},
        {"", "ignored"},
        {"05 00 60 B0 CA", "ignored"},  // the count says 5, 4 follow
        {"04 00 60 C0 6B", "ignored"},
        {"04 00 60 C0 6A", std::string("+20 ") + kModel},
        {"05 00 60 B0 F1 00", "+20 0D 00 12 B8 F1 5A 38 4B 01 05 01 11 28 41"},
        {"04 00 60 B0 0F", "+20 11 00 12 B8 70 00 01 00 00 13 00 00 00 00 00 00 00 00"},
        {"05 00 60 B0 CA FF", "+20 05 00 12 B8 CA 01"},
        {"accepted", ""},  // before the rewrite request: nothing to rewrite
        {"05 00 60 B0 C0 A6", ""},
        {"accepted", "+1500 04 00 12 B8 EF"},
        {"accepted", ""}}},
      {"no-model-reply", {{"00 60 00", "+0 00 60 01"}, {"04 00 60 C0 6A", ""}}},
      {"garbage",
       {{"00 60 00", "+0 00 60 01"},
        {"04 00 60 C0 6A",
         std::string("+10 12 00 18 C8 6B 48 56 58 2D 5A 38 4B 51 00 00 00 00 00 00, +10 00 12 34, +20 ") +
             kModel + ", +20 07 00 12 B8 55 01 02 03"}}},
      {"unplug-during-wait", {{"00 60 00", "+0 00 60 01"}, {"05 00 60 B0 C0 A6", "unplug +16000"}}},
      {"never-completes", {{"00 60 00", "+0 00 60 01"}, {"05 00 60 B0 C0 A6", ""}, {"accepted", ""}}},
  };
  for (const auto& c : cases) {
    DeckCommands deck(*FindScenario(c.scenario));
    double now = 1000;
    for (const auto& [frame, said] : c.steps) {
      SCOPED_TRACE(std::string(c.scenario) + ": " + frame);
      const DeckCommands::Answer answer =
          frame == "accepted" ? deck.ImageAccepted(now) : deck.Take(Bytes(frame), now);
      EXPECT_EQ(Said(answer, now), said);
      now += 100;
    }
  }
}

// Done once the scenario's time has passed since the image was accepted, unless the deck was pulled
// meanwhile.
TEST(DeckCommands, TheRewriteCompletesAfterItsTimeUnlessTheDeckIsPulledMeanwhile) {
  for (bool pulled : {false, true}) {
    DeckCommands deck(*FindScenario("success"));
    for (const char* frame : {"00 60 00", "05 00 60 B0 C0 A6"}) deck.Take(Bytes(frame), 0);
    deck.ImageAccepted(100);
    deck.Unplugged(pulled ? 1599 : 1600);  // at 1600 the rewrite is done: nothing to cut short
    EXPECT_EQ(std::make_pair(deck.RewriteCompleted(1599), deck.RewriteCompleted(1600)),
              std::make_pair(false, !pulled));
  }
}
