// The emulated deck as the program's driver: the scenario named in the environment (set by the
// test's ctest entry to "product-52") is the deck that the program's driver calls reach.
#include <gtest/gtest.h>

#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"

TEST(EmulatedDriverBackend, IsTheProcessDeckOfTheNamedScenario) {
  DriverCalls& calls = PlatformDriverCalls();
  EXPECT_EQ(&calls, static_cast<DriverCalls*>(&EmulatedDeck::Process().Driver()));
  EXPECT_EQ(EmulatedDeck::Process().scenario.name, "product-52");
  std::string path;
  ASSERT_TRUE(calls.InterfacePath(0, path));
  EXPECT_NE(path.find("pid_0034"), std::string::npos) << path;
}
