// The one-message pump: one message per pass, no dialog keyboard handling, never waiting.
#include <gtest/gtest.h>

#include "app/MessagePump.h"
#include "app/tests/TestIds.h"
#include "framework/Framework.h"

namespace {

class Counting : public CDialog {
 public:
  Counting() : CDialog(IDD_SEQ_STAGE) {}
  int timers = 0;
  int cancels = 0;

 protected:
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {Map::Timer<&Counting::OnTimer>()};
    static const MessageMap map(CDialog::GetMessageMap(), entries);
    return &map;
  }
  void OnTimer(UINT_PTR) { ++timers; }
  void OnCancel() override { ++cancels; }
};

void Drain() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

TEST(Pump, HandlesExactlyOneMessagePerPass) {
  Counting window;
  ASSERT_TRUE(window.Create(IDD_SEQ_STAGE, nullptr));
  Drain();
  EXPECT_FALSE(PumpOneMessage()) << "nothing waiting";
  window.PostMessage(WM_TIMER, 1);
  window.PostMessage(WM_TIMER, 2);
  EXPECT_TRUE(PumpOneMessage());
  EXPECT_EQ(window.timers, 1);
  EXPECT_TRUE(PumpOneMessage());
  EXPECT_EQ(window.timers, 2);
  EXPECT_FALSE(PumpOneMessage());
}

TEST(Pump, AppliesNoDialogKeyboardHandling) {
  Counting window;
  ASSERT_TRUE(window.Create(IDD_SEQ_STAGE, nullptr));
  Drain();
  PostMessageA(window.GetDlgItem(IDC_SEQ_TEXT), WM_KEYDOWN, VK_ESCAPE, 0);
  while (PumpOneMessage()) {
  }
  EXPECT_EQ(window.cancels, 0) << "Escape would have been IDCANCEL through the dialog manager";
}

TEST(Pump, TakesTheQuitMessageLikeAnyOther) {
  Drain();
  PostQuitMessage(3);
  EXPECT_TRUE(PumpOneMessage());
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST(Pump, PumpOrIdleHandlesAWaitingMessageAndReturnsWhenNoneIs) {
  Counting window;
  ASSERT_TRUE(window.Create(IDD_SEQ_STAGE, nullptr));
  Drain();
  window.PostMessage(WM_TIMER, 1);
  PumpOrIdle();
  EXPECT_EQ(window.timers, 1);
  PumpOrIdle();  // returns although nothing arrives
  EXPECT_EQ(window.timers, 1);
}

}  // namespace
