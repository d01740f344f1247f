// The rewrite wait against the emulated deck: its clip, its two ways to end, and the computer kept
// on while it waits.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "stages/FinishWaitDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

bool ReportCompletion(DeckStage& s) {
  s.deck.Driver().Inject({std::begin(kCompletionReply.head), std::end(kCompletionReply.head)});
  return WaitFor([&] { return s.link.IsRewriteDone() == 1; });
}

// Brings the completion report in as the 1,200th tick is handled, and notes whether the wait still
// ran after the 1,199th with the clip playing.
class WatchedWait : public FinishWaitDialog {
 public:
  explicit WatchedWait(DeckStage& s) : FinishWaitDialog(s.link, s.awake, s.app), s(s) {}
  bool waitingAfter1199 = false, reportIn = false;
  std::vector<std::string> clip;  // what the animation control was asked to do
  std::size_t clipAt1199 = 0;

 protected:
  void OnTick() override {
    FinishWaitDialog::OnTick();
    if (timerTicks == kTimeoutTicks - 1) waitingAfter1199 = timedOut == 0, clipAt1199 = clip.size();
    if (timerTicks == kTimeoutTicks) reportIn = ReportCompletion(s);
    if (timerTicks > kTimeoutTicks + 5) timedOut = 1;  // never hang on a wait that does not end
  }

 private:
  DeckStage& s;
};

// Either the report is in when the wait begins, or 1,200 ticks (two minutes) come, posted at once.
struct FinishWait : ::testing::TestWithParam<bool> {};

TEST_P(FinishWait, TheReportEndsTheWaitAndThe1200thTickEndsItInFailureEvenWithTheReportIn) {
  const bool reportFirst = GetParam();
  DeckStage s("never-completes");
  WatchedWait window(s);
  s.awake.Begin(nullptr);
  ASSERT_TRUE(window.Create(IDD_FINISH_WAIT));
  const HWND hwnd = window.m_hWnd;
  ExpectCentred(hwnd, s.app);
  ControlSpy spy(GetDlgItem(hwnd, IDC_ANIMATION), [&](UINT m, WPARAM w, LPARAM l, LRESULT r) {
    using std::to_string;
    if (m == ACM_OPENA) window.clip.push_back(l ? "open " + to_string(l) + ": " + to_string(r) : "close");
    if (m == ACM_PLAY)
      window.clip.push_back("play " + to_string(int(w)) + " " + to_string(LOWORD(l)) + "-" +
                            to_string(HIWORD(l)));
    if (m == ACM_STOP) window.clip.push_back("stop");
  });
  ASSERT_TRUE(!reportFirst || ReportCompletion(s));
  LRESULT endSession = -1;
  HWND reasonOn = nullptr;
  ErrorBox box;
  ModalScript script({[&] {
                        endSession = SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0);
                        reasonOn = s.awake.ReasonWindow();
                        for (int i = 0; i < 1200; ++i) PostMessageA(hwnd, WM_TIMER, 9, 0);
                      },
                      box.Answer()});
  EXPECT_EQ(RunModelessStage(window, false), reportFirst);
  EXPECT_EQ(window.clip, (std::vector<std::string>{"open 146: 1", "play -1 0-65535", "stop", "close"}));
  EXPECT_STREQ(window.messageText, "バージョンアップ中です。");
  EXPECT_STREQ(window.noticeText, "本体の電源を切らないでください。");
  EXPECT_FALSE(s.awake.Held());
  EXPECT_EQ(s.awake.ReasonWindow(), nullptr);
  EXPECT_EQ(box.text, reportFirst ? "" : "本体KD装置のデータ書換えがタイムアウトしました");
  if (reportFirst) return;  // the report ended the wait in its first pass
  EXPECT_TRUE(window.waitingAfter1199);
  EXPECT_TRUE(window.reportIn);
  EXPECT_EQ(window.clipAt1199, 2u) << "the clip plays while the stage waits";
  EXPECT_EQ(endSession, FALSE) << "shutdown is held off while the deck rewrites itself";
  EXPECT_EQ(reasonOn, hwnd);
  EXPECT_EQ(StayAwake::Reason(), L"バージョンアップ中です。本体の電源を切らないでください。");
}

INSTANTIATE_TEST_SUITE_P(ReportFirst, FinishWait, ::testing::Bool());

// Without its timer the wait would never end: it ends as on its time-out, and lets shutdown go.
TEST(FinishWaitWithoutATimer, EndsAsOnItsTimeOutWithItsMessage) {
  DeckStage s("never-completes");
  TimersFail<FinishWaitDialog> window(1, s.link, s.awake, s.app);
  s.awake.Begin(nullptr);
  ASSERT_TRUE(window.Create(IDD_FINISH_WAIT));
  ErrorBox box;
  ModalScript script({box.Answer()});
  EXPECT_FALSE(RunModelessStage(window, false));
  EXPECT_EQ(box.text, "本体KD装置のデータ書換えがタイムアウトしました");
  EXPECT_FALSE(s.awake.Held());
  EXPECT_EQ(s.awake.ReasonWindow(), nullptr);
}

}  // namespace
