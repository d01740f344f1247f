// The image transfer against the emulated deck, the sender's pauses moving the deck's clock on: its
// ways to end, each with the ticks before the request, the blocks, the bar and the library closed,
// and its end without a timer.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "stages/TransferDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

struct Way {
  const char* name;
  bool failWrites;  // the rewrite request cannot be written
  int refuseBlock;  // -1: none
  int pullAtBlock;  // the cable is pulled as this block comes; -1: never
  int offerAt;      // the tick of the wait for the reply at which the deck offers it
  bool accepted;
  int sendCalls;
};

// Notes the ticks that came before anything reached the deck; the deck offers its reply at tick
// `offerAt` of the wait for it.
class WatchedTransfer : public TransferDialog {
 public:
  explicit WatchedTransfer(DeckStage& s) : TransferDialog(s.link, s.sender, s.awake, s.app), s(s) {}
  std::vector<int> ticksBeforeSending;
  int offerAt = -1;

 protected:
  void OnTick() override {
    TransferDialog::OnTick();
    if (!s.deck.Driver().RewriteRequested() && s.deck.Library().Counters().sendCalls == 0)
      ticksBeforeSending.push_back(timerTicks);
    if (timerTicks == offerAt && s.deck.Library().Counters().blocksReceived == kImageBlocks)
      s.deck.events.Skip(60000);
  }

 private:
  DeckStage& s;
};

struct Transfer : ::testing::TestWithParam<Way> {
  DeckStage s{"success", [](Scenario& scenario) {
                scenario.acceptAfterMs = 60000;
                scenario.refuseBlock = GetParam().refuseBlock;
                scenario.unplugAtBlock = GetParam().pullAtBlock;
              }};
  WatchedTransfer window{s};
};

// Three ticks of the test's own come as soon as the stage runs, and the 81 that end the wait for the
// reply as soon as it polls: it need not wait for its timer. A reply read in the pass that handles
// the 81st still counts; one offered only as the 81st is handled comes too late.
TEST_P(Transfer, RequestsTheRewriteAfterThreeTicksSendsTheImageAndTakesTheReplyUpToThe81stTick) {
  const Way& way = GetParam();
  s.deck.Driver().FailWrites(way.failWrites);
  window.offerAt = way.offerAt;
  ASSERT_TRUE(s.sender.Open() == 1 && window.Create(IDD_TRANSFER));
  const HWND hwnd = window.m_hWnd;
  ExpectCentred(hwnd, s.app);
  std::vector<int> positions;
  std::pair<WPARAM, LPARAM> range;
  LRESULT endSession = -1;
  HWND reasonOn = nullptr;
  char caption[64] = {};
  ControlSpy bar(GetDlgItem(hwnd, IDC_PROGRESS), [&](UINT message, WPARAM wParam, LPARAM lParam, LRESULT) {
    if (message == PBM_SETRANGE32) range = {wParam, lParam};
    if (message == PBM_SETPOS) positions.push_back(static_cast<int>(wParam));
    if (message == PBM_SETPOS && positions.size() == 1) {
      endSession = SendMessageA(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
      reasonOn = s.awake.ReasonWindow();
      GetWindowTextA(hwnd, caption, sizeof caption);
    }
  });
  auto post = [&](int ticks, bool when) {
    for (int i = 0; when && i < ticks; ++i) PostMessageA(hwnd, WM_TIMER, 5, 0);
    return when;
  };
  ErrorBox box;
  ModalScript::Step answer = box.Answer();
  ModalScript script({[&] { return post(3, window.started); },
                      [&] { return post(81, s.deck.Library().Counters().statusReads > 0) || answer.run(); },
                      answer});

  EXPECT_EQ(RunModelessStage(window, true), way.accepted);
  EXPECT_EQ(box.text, way.accepted ? "" : "本体KD装置へのデータ転送がタイムアウトしました");
  EXPECT_EQ(window.ticksBeforeSending, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(s.deck.Driver().RewriteRequested(), !way.failWrites);
  EXPECT_EQ(s.deck.Library().Counters().sendCalls, way.sendCalls) << "nothing is sent after a refused block";
  EXPECT_EQ(s.deck.Library().Counters().imageIdentical, way.sendCalls == kImageBlocks);
  EXPECT_EQ(s.deck.Library().Counters().faultKinds.empty(), !way.failWrites)
      << "no block before the request, none too soon";
  EXPECT_EQ(s.deck.Library().Counters().replyReads, way.accepted ? 1 : 0);
  EXPECT_EQ(window.timedOut, way.offerAt > 0) << "the 81st tick was handled";
  EXPECT_EQ(s.deck.Library().Counters().openHandles, 0) << "the library is closed on every way out";
  // A pulled cable ends the link's worker too, which closes its handles.
  if (way.pullAtBlock >= 0) WaitForWorkerEnd(s.link);
  EXPECT_EQ(s.deck.Driver().OpenHandles(), way.pullAtBlock < 0 ? 3 : 0);
  EXPECT_EQ(range, (std::pair<WPARAM, LPARAM>(0, 1024)));
  ASSERT_EQ(positions.size(), std::size_t(std::min(way.sendCalls, kImageBlocks)));
  EXPECT_EQ(std::make_pair(positions.front(), positions.back()),
            std::make_pair(0, int(positions.size()) - 1));
  EXPECT_TRUE(s.awake.Held()) << "the computer stays awake until the wait stage ends";
  EXPECT_EQ(endSession, FALSE) << "shutdown is held off while the blocks go out";
  EXPECT_EQ(reasonOn, hwnd);
  EXPECT_STREQ(caption, "バージョンアップデータ転送中");
  EXPECT_STREQ(window.noticeText, "ＵＳＢケーブルを抜かないでください。");
  EXPECT_STREQ(window.messageText, "バージョンアップデータを転送中です。本体の電源を落とさないでください。");
}

INSTANTIATE_TEST_SUITE_P(Ways, Transfer,
                         ::testing::Values(Way{"ReplyInThePassOfThe81stTick", false, -1, -1, 80, true, 1024},
                                           Way{"ReplyAsThe81stTickComes", false, -1, -1, 81, false, 1024},
                                           Way{"RefusedBlock", false, 512, -1, -1, false, 513},
                                           // A deck never asked to rewrite itself refuses the first block.
                                           Way{"RequestNotWritten", true, -1, -1, -1, false, 1},
                                           Way{"CablePulledAtBlock500", false, -1, 500, -1, false, 501}),
                         [](const ::testing::TestParamInfo<Way>& info) {
                           return std::string(info.param.name);
                         });

// A timer that cannot be made would leave the stage waiting for ticks that never come: it ends as on
// its time-out instead, before anything is sent when the first one fails, after the image when the
// second does.
TEST(TransferWithoutATimer, EndsAsOnItsTimeOutWithItsMessage) {
  for (int failFrom : {1, 2}) {
    SCOPED_TRACE(failFrom);
    DeckStage s("success");
    TimersFail<TransferDialog> window(failFrom, s.link, s.sender, s.awake, s.app);
    ASSERT_TRUE(s.sender.Open() == 1 && window.Create(IDD_TRANSFER));
    ErrorBox box;
    ModalScript script({box.Answer()});
    EXPECT_FALSE(RunModelessStage(window, true));
    EXPECT_EQ(box.text, "本体KD装置へのデータ転送がタイムアウトしました");
    EXPECT_EQ(s.deck.Driver().RewriteRequested(), failFrom == 2);
    EXPECT_EQ(s.deck.Library().Counters().sendCalls, failFrom == 2 ? 1024 : 0);
    EXPECT_EQ(s.deck.Library().Counters().statusReads, 0);
    EXPECT_EQ(s.deck.Library().Counters().openHandles, 0);
  }
}

}  // namespace
