// The image transfer against the emulated deck, the sender's pauses moving the deck's clock on:
// three ticks before anything is sent, the rewrite request before the first block, the image
// arriving whole, the bar, the reply up to the 81st tick, and the library closed on every way out.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "stages/TransferDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

// Notes the ticks that came while nothing had reached the deck, and has the deck offer its reply
// at tick `offerAt` of the wait for it.
class WatchedTransfer : public TransferDialog {
 public:
  explicit WatchedTransfer(DeckStage& s) : TransferDialog(s.link, s.sender, s.awake, s.app), s(s) {}
  std::vector<int> ticksBeforeSending;
  int offerAt = -1;

 protected:
  void OnTick() override {
    TransferDialog::OnTick();
    if (!s.deck.Driver().RewriteRequested() && s.deck.Library().SendCalls() == 0)
      ticksBeforeSending.push_back(timerTicks);
    if (timerTicks == offerAt && s.deck.Library().BlocksReceived() == kImageBlocks) s.deck.events.Skip(60000);
  }

 private:
  DeckStage& s;
};

struct Transfer : ::testing::Test {
  explicit Transfer(const std::function<void(Scenario&)>& change = {}) : s("success", change) {}
  void SetUp() override { ASSERT_TRUE(s.sender.Open() == 1 && window.Create(IDD_TRANSFER, nullptr)); }
  // Runs the stage as the sequence does. Three ticks of the test's own come as soon as it runs:
  // it need not wait for its timer.
  bool Run(std::vector<ModalScript::Step> steps = {}) {
    steps.insert(steps.begin(), [this]() -> bool {
      for (int i = 0; window.started && i < 3; ++i) PostMessageA(window.m_hWnd, WM_TIMER, 5, 0);
      return window.started;
    });
    steps.push_back(box.Answer());
    ModalScript script(std::move(steps));
    return RunModelessStage(window, true);
  }
  DeckStage s;
  WatchedTransfer window{s};
  ErrorBox box;
};

TEST_F(Transfer, RequestsTheRewriteAfterThreeTicksThenDeliversTheWholeImage) {
  std::vector<int> positions;
  std::pair<WPARAM, LPARAM> range;
  LRESULT endSession = -1;
  HWND reasonOn = nullptr;
  ControlSpy bar(GetDlgItem(window.m_hWnd, IDC_PROGRESS),
                 [&](UINT message, WPARAM wParam, LPARAM lParam, LRESULT) {
                   if (message == PBM_SETRANGE32) range = {wParam, lParam};
                   if (message == PBM_SETPOS) positions.push_back(static_cast<int>(wParam));
                   if (message == PBM_SETPOS && positions.size() == 512) {
                     endSession = SendMessageA(window.m_hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
                     reasonOn = s.awake.ReasonWindow();
                   }
                 });

  const HWND hwnd = window.m_hWnd;
  EXPECT_TRUE(Run());
  EXPECT_EQ(box.text, "");
  EXPECT_EQ(window.ticksBeforeSending, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(s.deck.Driver().RewriteRequested());
  EXPECT_TRUE(s.deck.Library().ImageIdentical());
  EXPECT_EQ(s.deck.Library().Faults(), std::vector<std::string>{})
      << "no block before the request, none too soon";
  EXPECT_EQ(s.deck.Library().ReplyReads(), 1);
  EXPECT_EQ(s.deck.Library().OpenHandles(), 0) << "the library is closed when the stage ends";
  EXPECT_EQ(range, (std::pair<WPARAM, LPARAM>(0, 1024)));
  ASSERT_EQ(positions.size(), 1024u);
  EXPECT_EQ(std::make_pair(positions.front(), positions.back()), std::make_pair(0, 1023))
      << "one short of the top";
  EXPECT_TRUE(s.awake.Held()) << "the computer stays awake until the wait stage ends";
  EXPECT_EQ(endSession, FALSE) << "shutdown is held off while the blocks go out";
  EXPECT_EQ(reasonOn, hwnd);
}

TEST_F(Transfer, TheImageGoesOutWhenTheRewriteRequestCouldNotBeWritten) {
  s.deck.Driver().FailWrites(true);
  Run();
  EXPECT_FALSE(s.deck.Driver().RewriteRequested());
  EXPECT_EQ(s.deck.Library().SendCalls(), kImageBlocks);
}

struct RefusedBlock : Transfer {
  RefusedBlock() : Transfer([](Scenario& s) { s.refuseBlock = 512; }) {}
};

TEST_F(RefusedBlock, EndsTheTransferThereWithTheTimeoutMessage) {
  EXPECT_FALSE(Run());
  EXPECT_EQ(box.text, "本体KD装置へのデータ転送がタイムアウトしました");
  EXPECT_EQ(s.deck.Library().SendCalls(), 513) << "nothing is sent after the refused block";
  EXPECT_EQ(s.deck.Library().StatusReads(), 0);
  EXPECT_EQ(s.deck.Library().OpenHandles(), 0);
}

// The 81 ticks that end the wait for the reply, posted at once. A reply read in the pass that
// handles the 81st still counts; one offered only as the 81st is handled comes too late.
struct LateReply : Transfer, ::testing::WithParamInterface<int> {
  LateReply() : Transfer([](Scenario& s) { s.acceptAfterMs = 60000; }) {}
};

TEST_P(LateReply, CountsUpToThePassThatHandlesThe81stTick) {
  window.offerAt = GetParam();
  const bool accepted = GetParam() == 80;
  EXPECT_EQ(Run({[&]() -> bool {
              for (int i = 0; s.deck.Library().StatusReads() && i < 81; ++i)
                PostMessageA(window.m_hWnd, WM_TIMER, 77, 0);
              return s.deck.Library().StatusReads() > 0;
            }}),
            accepted);
  EXPECT_EQ(window.timedOut, 1);
  EXPECT_EQ(box.text, accepted ? "" : "本体KD装置へのデータ転送がタイムアウトしました");
  EXPECT_EQ(s.deck.Library().ReplyReads(), accepted ? 1 : 0);
  EXPECT_EQ(s.deck.Library().OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(OfferedAtTick, LateReply, ::testing::Values(80, 81));

}  // namespace
