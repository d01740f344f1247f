// The rewrite wait against the emulated deck: the completion report ends it, the 1,200th tick
// ends it in failure even when the report is there, and the computer may sleep and shut down
// again after it, not before.
#include <gtest/gtest.h>

#include "stages/FinishWaitDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

// A deck whose completion report has come in: the rewrite was requested and the image taken.
void CompleteRewrite(DeckStage& s) {
  ASSERT_TRUE(s.WaitForLink());
  s.link.RequestRewrite();
  s.deck.Driver().ImageAccepted();
  for (int i = 0; i < 500 && s.link.IsRewriteDone() != 1; ++i) Sleep(10);
  ASSERT_EQ(s.link.IsRewriteDone(), 1);
}

TEST(FinishWait, AReportAlreadyInEndsTheWaitInItsFirstPass) {
  DeckStage s("success");
  CompleteRewrite(s);
  s.awake.Begin(nullptr);
  FinishWaitDialog window(s.link, s.awake, s.app);
  ErrorBox box;
  ModalScript script({box.Answer()});

  EXPECT_TRUE(RunModelessStage(window, false));
  EXPECT_EQ(window.rewriteSeen, 1);
  EXPECT_EQ(window.timedOut, 0);
  EXPECT_FALSE(box.seen);
  EXPECT_STREQ(window.messageText, "バージョンアップ中です。");
  EXPECT_STREQ(window.noticeText, "本体の電源を切らないでください。");
  EXPECT_FALSE(s.awake.Held());
}

// The deck's report comes in while the 1,200th tick is being handled.
class ReportOnLastTick : public FinishWaitDialog {
 public:
  ReportOnLastTick(DeckStage& s) : FinishWaitDialog(s.link, s.awake, s.app), s(s) {}
  bool reportIn = false;

 protected:
  void OnTick() override {
    FinishWaitDialog::OnTick();
    if (timerTicks != kTimeoutTicks) return;
    s.deck.Driver().Inject({std::begin(kCompletionReply.head), std::end(kCompletionReply.head)});
    for (int i = 0; i < 2500 && s.link.IsRewriteDone() != 1; ++i) Sleep(2);
    reportIn = s.link.IsRewriteDone() == 1;
  }

 private:
  DeckStage& s;
};

TEST(FinishWait, The1200thTickEndsTheWaitEvenWithTheReportIn) {
  DeckStage s("never-completes");
  ASSERT_TRUE(s.WaitForLink());
  s.awake.Begin(nullptr);
  ReportOnLastTick window(s);
  ErrorBox box;
  LRESULT endSession = -1;
  bool reasonOnWindow = false;
  // Ticks from any timer count: 1,200 of them stand for two minutes.
  ModalScript script({[&] {
                        endSession = SendMessageA(window.m_hWnd, WM_QUERYENDSESSION, 0, 0);
                        reasonOnWindow = s.awake.ReasonWindow() == window.m_hWnd;
                        for (int i = 0; i < FinishWaitDialog::kTimeoutTicks; ++i)
                          PostMessageA(window.m_hWnd, WM_TIMER, 9, 0);
                      },
                      box.Answer()});

  EXPECT_FALSE(RunModelessStage(window, false));
  EXPECT_TRUE(window.reportIn);
  EXPECT_EQ(window.timedOut, 1);
  EXPECT_EQ(window.rewriteSeen, 0);
  EXPECT_EQ(box.text, "本体KD装置のデータ書換えがタイムアウトしました");
  EXPECT_EQ(endSession, FALSE) << "shutdown is held off while the deck rewrites itself";
  EXPECT_TRUE(reasonOnWindow);
  EXPECT_FALSE(s.awake.Held());
  EXPECT_EQ(s.awake.ReasonWindow(), nullptr);
  EXPECT_EQ(StayAwake::Reason(), L"バージョンアップ中です。本体の電源を切らないでください。");
}

}  // namespace
