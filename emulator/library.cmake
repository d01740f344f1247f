# Library side of the emulated deck.
