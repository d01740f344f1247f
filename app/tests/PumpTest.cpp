// The one-message pump, beyond the one message a pass that the check's schedule shows: no dialog
// keyboard handling, the quit message taken like any other, and no waiting when nothing is there.
#include <gtest/gtest.h>

#include "app/MessagePump.h"
#include "app/tests/TestIds.h"
#include "framework/Framework.h"

class Escapable : public CDialog {
 public:
  Escapable() : CDialog(IDD_SEQ_STAGE) {}
  int cancels = 0;

 protected:
  void OnCancel() override { ++cancels; }
};

TEST(Pump, TakesTheQuitMessageAndTheEscapeKeyLikeAnyOtherAndReturnsWhenNothingIsWaiting) {
  Escapable window;
  ASSERT_TRUE(window.Create(IDD_SEQ_STAGE, nullptr));
  PostMessageA(window.GetDlgItem(IDC_SEQ_TEXT), WM_KEYDOWN, VK_ESCAPE, 0);
  PostQuitMessage(3);
  while (PumpOneMessage()) {
  }
  PumpOrIdle();  // returns although nothing arrives
  EXPECT_EQ(window.cancels, 0) << "Escape would have been IDCANCEL through the dialog manager";
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
      << "the quit message was taken";
}
