// The modeless stage contract on the program's check template: the start command taken up once,
// other commands left to the base, timer ticks. (Each window's centring is its own test's.)
#include <gtest/gtest.h>

#include "app/UpdateApp.h"
#include "resources/resource.h"
#include "stages/StageDialog.h"

namespace {

class TestStage : public StageDialog {
 public:
  explicit TestStage(const UpdateApp& app) : StageDialog(IDD_CHECK, app) {}
  bool succeed = true;
  int runs = 0, startedDuringRun = -1, cancels = 0;

 protected:
  bool RunStage() override { return ++runs, startedDuringRun = started, succeed; }
  void OnCancel() override { ++cancels; }
};

TEST(StageContract, OnlyTheExactStartCommandRunsTheStageOnceAndEveryTimerTicks) {
  UpdateApp app(nullptr);
  TestStage stage(app);
  stage.started = stage.StageResult = 5;
  ASSERT_TRUE(stage.Create(IDD_CHECK));
  EXPECT_EQ(stage.started + stage.StageResult, 0);
  auto command = [&](WPARAM wParam) { SendMessageA(stage.m_hWnd, WM_COMMAND, wParam, 0); };
  for (WPARAM other : {WPARAM(MAKEWPARAM(1024, 1)), WPARAM(1025), WPARAM(IDCANCEL)}) command(other);
  EXPECT_EQ(stage.runs + stage.started, 0);
  command(ID_START_STAGE);
  EXPECT_EQ(stage.startedDuringRun, 1) << "started is set before the stage runs";
  stage.succeed = false;
  command(ID_START_STAGE);
  command(IDCANCEL);
  EXPECT_EQ(stage.runs, 1) << "a second start command does nothing more";
  EXPECT_EQ(stage.StageResult, 1);
  EXPECT_EQ(stage.cancels, 2) << "other commands reach the base, before the start and after";
  stage.timerTicks = 0;
  for (WPARAM id : {1, 2, 99, 0}) SendMessageA(stage.m_hWnd, WM_TIMER, id, 0);
  EXPECT_EQ(stage.timerTicks, 4);
}

}  // namespace
