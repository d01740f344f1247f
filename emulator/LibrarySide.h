// The deck's library path. (Being written.)
#pragma once
#include <string>
class EmulatedDeck;
class LibrarySide {
 public:
  explicit LibrarySide(EmulatedDeck& deck) : deck(deck) {}
  std::string Report() const { return ""; }

 private:
  EmulatedDeck& deck;
};
