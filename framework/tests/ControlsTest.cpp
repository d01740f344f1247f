// The control classes under Wine: each operation reaches its control.
#include <gtest/gtest.h>

#include "framework/Framework.h"
#include "framework/tests/TestIds.h"

namespace {

class ControlsDialog : public CDialog {
 public:
  ControlsDialog() : CDialog(IDD_TEST_FORM) {}
  CProgressCtrl progress;
  CAnimateCtrl animation;

 protected:
  void DoDataExchange(CDataExchange* exchange) override {
    DDX_Control(exchange, IDC_TEST_PROGRESS, progress);
    DDX_Control(exchange, IDC_TEST_ANIMATION, animation);
  }
};

TEST(Controls, ProgressBarTakesRangeAndPosition) {
  ControlsDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  dialog.progress.SetRange32(0, 1024);
  int lower = -1, upper = -1;
  dialog.progress.GetRange(lower, upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 1024);
  EXPECT_EQ(dialog.progress.SetPos(1023), 0);
  EXPECT_EQ(dialog.progress.GetPos(), 1023);
  EXPECT_EQ(dialog.progress.SetPos(5), 1023);
  EXPECT_EQ(dialog.progress.GetPos(), 5);
}

TEST(Controls, AnimationOpensPlaysStopsAndClosesAClipFromTheResources) {
  ControlsDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  EXPECT_TRUE(dialog.animation.Open(IDR_TEST_CLIP));
  EXPECT_TRUE(dialog.animation.Play(0, 0xFFFF, static_cast<UINT>(-1)));
  EXPECT_TRUE(dialog.animation.Stop());
  EXPECT_TRUE(dialog.animation.Close());
  EXPECT_FALSE(dialog.animation.Play(0, 0xFFFF, 1)) << "nothing to play once closed";
}

TEST(Controls, AnimationRefusesAClipThatIsNotThere) {
  ControlsDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  EXPECT_FALSE(dialog.animation.Open(4242));
  EXPECT_FALSE(dialog.animation.Play(0, 0xFFFF, static_cast<UINT>(-1)));
  dialog.animation.Close();
}

}  // namespace
