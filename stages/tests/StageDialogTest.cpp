// The modeless stage contract on the program's check template: centring, the start command
// taken up once, other commands left to the base, timer ticks.
#include <gtest/gtest.h>

#include <vector>

#include "app/Centring.h"
#include "app/UpdateApp.h"
#include "resources/resource.h"
#include "stages/StageDialog.h"

namespace {

class TestStage : public StageDialog {
 public:
  explicit TestStage(const UpdateApp& app) : StageDialog(IDD_CHECK, app) {}

  bool succeed = true;
  int runs = 0;
  int startedDuringRun = -1;
  int cancels = 0;
  std::vector<std::int32_t> ticksSeenByHook;

 protected:
  bool RunStage() override {
    ++runs;
    startedDuringRun = started;
    return succeed;
  }
  void OnTick() override { ticksSeenByHook.push_back(timerTicks); }
  void OnCancel() override { ++cancels; }
};

class StageContract : public ::testing::Test {
 protected:
  StageContract() : app(nullptr), stage(app) {
    app.screenWidth = 1024;
    app.screenHeight = 738;
  }
  void SetUp() override {
    stage.started = 5;
    stage.StageResult = 5;
    ASSERT_TRUE(stage.Create(IDD_CHECK, nullptr));
  }
  LRESULT Command(WPARAM wParam) { return SendMessageA(stage.m_hWnd, WM_COMMAND, wParam, 0); }

  UpdateApp app;
  TestStage stage;
};

TEST_F(StageContract, InitialisationCentresAndClearsTheFlags) {
  EXPECT_EQ(stage.started, 0);
  EXPECT_EQ(stage.StageResult, 0);
  RECT rect;
  GetWindowRect(stage.m_hWnd, &rect);
  POINT expected = CentredOrigin(1024, 738, rect.right - rect.left, rect.bottom - rect.top);
  EXPECT_EQ(rect.left, expected.x);
  EXPECT_EQ(rect.top, expected.y);
}

TEST_F(StageContract, OnlyTheExactStartCommandRunsTheStageOnceAndOtherCommandsStillReachTheBase) {
  Command(MAKEWPARAM(1024, 1));
  Command(1025);
  Command(IDCANCEL);
  EXPECT_EQ(stage.runs, 0);
  EXPECT_EQ(stage.started, 0);
  EXPECT_EQ(stage.cancels, 1);

  Command(ID_START_STAGE);
  EXPECT_EQ(stage.runs, 1);
  EXPECT_EQ(stage.startedDuringRun, 1) << "started is set before the stage runs";
  EXPECT_EQ(stage.started, 1);
  EXPECT_EQ(stage.StageResult, 1);

  stage.succeed = false;
  Command(ID_START_STAGE);
  Command(IDCANCEL);
  EXPECT_EQ(stage.runs, 1) << "a second start command does nothing more";
  EXPECT_EQ(stage.StageResult, 1);
  EXPECT_EQ(stage.cancels, 2) << "after the start too";
}

TEST_F(StageContract, EveryTimerTicksWhateverItsIdAndTheHookSeesTheNewCount) {
  stage.timerTicks = 0;
  for (WPARAM id : {1, 2, 99, 0}) SendMessageA(stage.m_hWnd, WM_TIMER, id, 0);
  EXPECT_EQ(stage.timerTicks, 4);
  EXPECT_EQ(stage.ticksSeenByHook, (std::vector<std::int32_t>{1, 2, 3, 4}));
}

}  // namespace
