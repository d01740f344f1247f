// The connection check against the emulated deck: the order of the deck's commands, the schedule's
// failure messages, and that nothing of a rewrite reaches the deck.
#include <gtest/gtest.h>

#include "stages/CheckDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

const std::vector<unsigned char> kPowerOnFrame(std::begin(kPowerOn), std::end(kPowerOn));
const std::vector<unsigned char> kModelFrame = Framed(kModelQuery);
const std::vector<unsigned char> kVersionFrame = Framed(kVersionQuery);
const std::vector<unsigned char> kDiscFrame = Framed(kDiscQuery);
const std::vector<unsigned char> kModeFrame = Framed(kModeQuery);

TEST(CheckDialog, PassesOnADeckThatMayBeUpdatedAndOpensTheLibraryLast) {
  DeckStage s("success");
  CheckDialog window(s.link, s.sender, s.app);
  ErrorBox box;
  LRESULT endSession = -1;
  ModalScript script(
      {[&] { endSession = SendMessageA(window.m_hWnd, WM_QUERYENDSESSION, 0, 0); }, box.Answer()});

  EXPECT_TRUE(RunModelessStage(window, false));
  EXPECT_EQ(window.StageResult, 1);
  EXPECT_FALSE(box.seen);
  EXPECT_EQ(endSession, TRUE) << "nothing of the deck is at stake yet: the session may end";
  EXPECT_EQ(s.deck.Driver().FramesReceived(),
            (Frames{kPowerOnFrame, kModelFrame, kVersionFrame, kDiscFrame, kModeFrame}));
  EXPECT_STREQ(window.statusText, "Tavro 動作モードチェック");
  EXPECT_STREQ(window.messageText, "機器の接続チェックを行っています。\r\nしばらくお待ちください。");
  EXPECT_NE(s.sender.libraryHandle, 0u);
  EXPECT_EQ(s.deck.Library().OpenHandles(), 1);
  EXPECT_EQ(s.deck.Library().SendCalls(), 0);
  EXPECT_FALSE(s.deck.Driver().RewriteRequested());
}

struct Failure {
  const char* scenario;
  const char* message;
  Frames frames;  // what the deck received before the stage gave up
};

class CheckFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(CheckFailure, StopsAtItsStepWithItsMessageOwnedByTheWindow) {
  const Failure& f = GetParam();
  // The pointer away from the windows, so that no window coming up under it sets the cursor.
  SetCursorPos(0, 0);
  DeckStage s(f.scenario);
  CheckDialog window(s.link, s.sender, s.app);
  ErrorBox box;
  HWND windowHandle = nullptr;
  ModalScript script({[&] { windowHandle = window.m_hWnd; }, box.Answer()});

  EXPECT_FALSE(RunModelessStage(window, false));
  EXPECT_EQ(window.StageResult, 0);
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.text, f.message);
  EXPECT_EQ(box.owner, windowHandle);
  EXPECT_EQ(box.cursor, LoadCursorA(nullptr, IDC_WAIT)) << "the wait cursor stays on under the message";
  EXPECT_EQ(s.deck.Driver().FramesReceived(), f.frames);
  EXPECT_EQ(s.deck.Library().SendCalls(), 0);
  EXPECT_FALSE(s.deck.Driver().RewriteRequested());
}

INSTANTIATE_TEST_SUITE_P(Schedule, CheckFailure,
                         ::testing::Values(Failure{"absent", "デバイスドライバが見つかりません      ", {}},
                                           Failure{"other-model",
                                                   "接続されている機種が違うか、電源が入っていません",
                                                   {kPowerOnFrame, kModelFrame}},
                                           Failure{"variant-M",
                                                   "本体KD装置はバージョンアップ対象外です",
                                                   {kPowerOnFrame, kModelFrame, kVersionFrame}},
                                           Failure{"library-open-refused",
                                                   "ＵＳＢオープンエラー",
                                                   {kPowerOnFrame, kModelFrame, kVersionFrame, kDiscFrame,
                                                    kModeFrame}}),
                         [](const ::testing::TestParamInfo<Failure>& info) {
                           std::string name = info.param.scenario;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
