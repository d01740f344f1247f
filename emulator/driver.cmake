# Driver side of the emulated deck.
