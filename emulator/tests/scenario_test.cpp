// The scenarios' table as the emulator reads it: a row is the successful deck changed where it
// says, and a row it cannot read stops it, with the line and why.
#include "emulator/Scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

TEST(ScenarioTable, ReadsARowOnTheSuccessfulDeckAndRefusesWhatItCannotRead) {
  const std::string table = kScenarioTable;
  const std::string next = "line " + std::to_string(std::count(table.begin(), table.end(), '\n') + 1) + ": ";
  std::vector<Scenario> read;
  std::string error;
  ASSERT_TRUE(ReadScenarios(table + "two-strangers vendorId=0x1234\n  before=maker:0x99:0*2\n", read, error))
      << error;
  const Scenario& row = read.back();
  EXPECT_EQ(std::make_tuple(row.vendorId, row.productId, row.before.size(), row.before[1].vendorId,
                            row.before[1].ready),
            std::make_tuple(0x1234, 142, std::size_t(2), 0x31D4, false));
  const std::pair<std::string, std::string> refused[] = {
      {"x colour=red", "x: no field named colour"},
      {"x ready=yes", "x: a bad value in ready=yes"},
      {"x before=maker:0x99", "x: a bad value in before=maker:0x99"},
      {"product-52", "a second scenario named product-52"},
  };
  for (const auto& [row, why] : refused) {
    EXPECT_FALSE(ReadScenarios(table + row + "\n", read, error));
    EXPECT_EQ(error, next + why);
  }
  EXPECT_FALSE(ReadScenarios("success ready=1\n", read, error));
  EXPECT_EQ(error, "line 1: success: every field must be given");
}
