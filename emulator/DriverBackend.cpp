// The emulated deck as the driver of this program: linked into the programs and tests that run
// against the emulated deck instead of the maker's driver.
#include "emulator/EmulatedDeck.h"
#include "emulator/EmulatedDriver.h"

DriverCalls& PlatformDriverCalls() {
  return EmulatedDeck::Process().Driver();
}
