// The image transfer against the emulated deck: the rewrite request before the first block, the
// image arriving whole, the progress bar, the library closed on every way out, and the time-outs.
#include <gtest/gtest.h>

#include "image/FirmwareImage.h"
#include "stages/TransferDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

const std::vector<unsigned char> kRewriteFrame = Framed(kRewriteRequest);

class Transfer : public ::testing::Test {
 protected:
  void Prepare(const char* scenario) {
    s = std::make_unique<DeckStage>(scenario);
    ASSERT_TRUE(s->WaitForLink());
    ASSERT_EQ(s->sender.Open(), 1);
    window = std::make_unique<TransferDialog>(s->link, s->sender, s->awake, s->app);
  }
  // Watches the window while the stage runs: the bar's range and the highest position it was
  // given, and how the window answers a shutdown while the blocks go out.
  ModalScript::Step WatchBar() {
    return [this]() -> bool {
      HWND bar = window->m_hWnd ? GetDlgItem(window->m_hWnd, 1000) : nullptr;
      if (!bar) return false;
      PBRANGE range{};
      SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      rangeHigh = range.iHigh;
      highest = std::max(highest, static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)));
      if (s->deck.Library().SendCalls() > 0 && endSession < 0) {
        endSession = SendMessageA(window->m_hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        reasonOnWindow = s->awake.ReasonWindow() == window->m_hWnd;
      }
      return s->deck.Library().SendCalls() == 1024 || !IsWindow(window->m_hWnd) || window->StageResult;
    };
  }

  std::unique_ptr<DeckStage> s;
  std::unique_ptr<TransferDialog> window;
  int rangeHigh = -1;
  int highest = -1;
  LRESULT endSession = -1;
  bool reasonOnWindow = false;
};

TEST_F(Transfer, RequestsTheRewriteThenDeliversTheWholeImage) {
  Prepare("success");
  ErrorBox box;
  ModalScript script({WatchBar(), box.Answer()}, 5);

  EXPECT_TRUE(RunModelessStage(*window, true));
  EXPECT_EQ(window->StageResult, 1);
  EXPECT_FALSE(box.seen);
  EXPECT_EQ(s->deck.Driver().FramesReceived().back(), kRewriteFrame);
  EXPECT_TRUE(s->deck.Library().ImageIdentical());
  EXPECT_TRUE(s->deck.Library().Faults().empty());
  EXPECT_EQ(s->deck.Library().ReplyReads(), 1);
  EXPECT_EQ(s->deck.Library().OpenHandles(), 0) << "the library handle is closed when the stage ends";
  EXPECT_EQ(s->sender.libraryHandle, 0u);
  EXPECT_EQ(rangeHigh, 1024);
  EXPECT_EQ(highest, 1023) << "the bar stops one short of its range";
  EXPECT_TRUE(s->awake.Held()) << "the computer stays awake until the wait stage ends";
  EXPECT_EQ(endSession, FALSE) << "shutdown is held off while the blocks go out";
  EXPECT_TRUE(reasonOnWindow);
}

TEST_F(Transfer, ARefusedBlockEndsTheTransferThereWithTheTimeoutMessage) {
  Prepare("refuse-block-512");
  ErrorBox box;
  ModalScript script({box.Answer()});

  EXPECT_FALSE(RunModelessStage(*window, true));
  EXPECT_EQ(window->StageResult, 0);
  EXPECT_EQ(box.text, "本体KD装置へのデータ転送がタイムアウトしました");
  EXPECT_EQ(s->deck.Library().BlocksReceived(), 512);
  EXPECT_EQ(s->deck.Library().SendCalls(), 513) << "nothing is sent after the refused block";
  EXPECT_EQ(s->deck.Library().StatusReads(), 0);
  EXPECT_EQ(s->deck.Library().OpenHandles(), 0);
  EXPECT_FALSE(s->deck.Library().ImageComplete());
}

TEST_F(Transfer, NoReplyByThe81stTickFailsAfterTheWholeImage) {
  Prepare("no-acceptance");
  ErrorBox box;
  // Ticks from any timer count: 81 of them end the polling without eight seconds of waiting.
  ModalScript script({[&]() -> bool {
                        if (s->deck.Library().BlocksReceived() < 1024 || s->deck.Library().StatusReads() == 0)
                          return false;
                        for (int i = 0; i < 81; ++i) PostMessageA(window->m_hWnd, WM_TIMER, 77, 0);
                        return true;
                      },
                      box.Answer()});

  EXPECT_FALSE(RunModelessStage(*window, true));
  EXPECT_EQ(window->timedOut, 1);
  EXPECT_EQ(box.text, "本体KD装置へのデータ転送がタイムアウトしました");
  EXPECT_TRUE(s->deck.Library().ImageIdentical());
  EXPECT_EQ(s->deck.Library().ReplyReads(), 0);
  EXPECT_EQ(s->deck.Library().OpenHandles(), 0);
}

}  // namespace
