// The six library functions of the emulated program, its tests and the stand-in TavroUSB.dll,
// answered by the emulated library of one emulated deck.
#pragma once

class EmulatedDeck;

// The deck that answers the six functions from now on; nullptr gives them back to the process's
// deck (EmulatedDeck::Process()), which answers when nothing is bound. Tests bind a deck of
// their own for the time the library is in use, and unbind it before the deck goes.
void BindLibraryDeck(EmulatedDeck* deck);

// Binds a deck for the life of the object.
class LibraryDeckBinding {
 public:
  explicit LibraryDeckBinding(EmulatedDeck& deck) { BindLibraryDeck(&deck); }
  ~LibraryDeckBinding() { BindLibraryDeck(nullptr); }
  LibraryDeckBinding(const LibraryDeckBinding&) = delete;
  LibraryDeckBinding& operator=(const LibraryDeckBinding&) = delete;
};
