// The deck's driver path. (Being written.)
#pragma once
#include <string>
class EmulatedDeck;
class DriverSide {
 public:
  explicit DriverSide(EmulatedDeck& deck) : deck(deck) {}
  std::string Report() const { return ""; }

 private:
  EmulatedDeck& deck;
};
