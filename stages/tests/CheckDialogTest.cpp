// The connection check against the emulated deck, on a clock of the test's own. Every step ends by
// setting the bar, so all it shows and does is placed on its step: the schedule is one list.
#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/Hex.h"
#include "resources/resource.h"
#include "stages/CheckDialog.h"
#include "stages/tests/DeckStage.h"

namespace {

using Seen = std::vector<std::pair<int, std::string>>;  // step, what

// A command as the deck records it arriving: its count byte, then its bytes.
template <std::size_t N>
std::string Frame(const unsigned char (&command)[N]) {
  std::vector<unsigned char> frame(1, static_cast<unsigned char>(N));
  frame.insert(frame.end(), command, command + N);
  return "frame received: " + Hex(frame);
}

// What a run that passes shows: the bar's range, timer 1 running by the first pause, the time the
// first step ends, the status line's changes, the deck's commands, the library opened.
// clang-format off
const Seen kPassed = {{-1, "range 0-70"}, {-1, "timer 1 on"}, {0, "at 500 ms"}, {0, "ドライバーチェック"},
                      {100, "ＵＳＢチェック"}, {200, "機種チェック"}, {250, Frame(kModelQuery)},
                      {300, "バージョンチェック"}, {350, Frame(kVersionQuery)}, {500, "ＫＤメディアチェック"},
                      {550, Frame(kDiscQuery)}, {600, "Tavro 動作モードチェック"}, {650, Frame(kModeQuery)},
                      {650, "library open"}};
// clang-format on

struct Row {
  const char* scenario;
  int endStep;          // the failing step; 700 when every step passed
  std::size_t shown;    // how much of what a passing run shows comes before the end
  const char* message;  // nullptr when every step passed
};

class CheckRun : public ::testing::TestWithParam<Row> {};

TEST_P(CheckRun, EachCheckAtItsStepUnderItsStatusAndTheFirstFailureEndsTheRunWithItsMessage) {
  const Row& row = GetParam();
  SetCursorPos(0, 0);  // away from the windows, so that none coming up under it sets the cursor
  DeckStage s(row.scenario);
  SimClock clock;
  CheckDialog window(s.link, s.sender, s.app, clock);
  ASSERT_TRUE(window.Create(IDD_CHECK));
  const HWND hwnd = window.m_hWnd;
  ExpectCentred(hwnd, s.app);

  Seen seen;
  int step = 0, barOff = 0;
  std::string status;
  std::size_t events = s.deck.events.All().size();
  std::vector<int> noLinks;  // the steps whose link check found no deck
  auto text = [](HWND window) {
    char text[128] = {};
    return std::string(text, GetWindowTextA(window, text, sizeof text));
  };
  auto note = [&] {
    if (status != text(GetDlgItem(hwnd, IDC_CHECK_STATUS)))
      seen.emplace_back(step, status = text(GetDlgItem(hwnd, IDC_CHECK_STATUS)));
    const auto all = s.deck.events.All();
    for (; events < all.size(); ++events) {
      if (all[events].kind == "frame") seen.emplace_back(step, all[events].text);
      if (all[events].path == "library" && all[events].kind == "open")
        seen.emplace_back(step, "library open");
    }
    const auto log = s.link.Log().Snapshot();
    noLinks.resize(std::count(log.begin(), log.end(), "ドライバオープンエラーが発生しました。"), step);
  };
  ControlSpy bar(GetDlgItem(hwnd, IDC_PROGRESS), [&](UINT message, WPARAM wParam, LPARAM lParam, LRESULT) {
    using std::to_string;
    if (message == PBM_SETRANGE32)
      seen.emplace_back(-1, "range " + to_string(wParam) + "-" + to_string(lParam));
    if (message != PBM_SETPOS) return;
    if (step == 0) seen.emplace_back(0, "at " + to_string(int(clock.NowMs())) + " ms");
    barOff += static_cast<int>(wParam) != window.timerTicks % 84 || window.timerTicks > step;
    note();
    ++step;
  });
  clock.onPause = [&](double) {
    if (clock.NowMs() != 0) return;
    // Timer 1's real ticks give way to 90 of the test's own.
    seen.emplace_back(
        -1, KillTimer(hwnd, 1) && SetTimer(hwnd, 1, 3600000, nullptr) ? "timer 1 on" : "no timer 1");
    for (int i = 0; i < 90; ++i) PostMessageA(hwnd, WM_TIMER, 7, 0);
  };
  ErrorBox box;
  box.atBox = [&] {
    note();
    seen.emplace_back(step, "box " + box.text);
  };
  ModalScript script({box.Answer()});
  SendMessageA(hwnd, WM_COMMAND, ID_START_STAGE, 0);

  Seen expected(kPassed.begin(), kPassed.begin() + row.shown);
  if (row.message) expected.emplace_back(row.endStep, std::string("box ") + row.message);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(noLinks, (row.endStep == 140 ? std::vector<int>{50, 60, 70, 80} : std::vector<int>{}))
      << "the link is looked for at 50, and again at 60, 70 and 80 only while it is not found";
  EXPECT_EQ(window.StageResult, row.message ? 0 : 1);
  EXPECT_EQ(clock.NowMs(), 500 + 10 * row.endStep) << "each step lasts 10 ms";
  EXPECT_EQ(barOff, 0) << "the bar stands at timerTicks % 84, and each step takes at most one tick";
  EXPECT_FALSE(KillTimer(hwnd, 1)) << "timer 1 is killed on every way out";
  EXPECT_EQ(text(hwnd), "機器の接続チェック");
  EXPECT_EQ(text(GetDlgItem(hwnd, IDC_CHECK_MESSAGE)),
            "機器の接続チェックを行っています。\r\nしばらくお待ちください。");
  if (row.message) {
    EXPECT_EQ(box.owner, hwnd);
    EXPECT_EQ(box.cursor, LoadCursorA(nullptr, IDC_WAIT)) << "the wait cursor stays on under the message";
    EXPECT_EQ(s.sender.libraryHandle, 0u);
  } else {
    EXPECT_EQ(window.timerTicks, 90);
    EXPECT_EQ(s.deck.Library().Counters().openHandles, 1);
    EXPECT_EQ(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0), TRUE) << "nothing of the deck is at stake yet";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, CheckRun,
    ::testing::Values(Row{"success", 700, 14, nullptr},
                      Row{"absent", 140, 5, "デバイスドライバが見つかりません      "},
                      Row{"not-ready", 150, 5, "ＵＳＢオープンエラー"},
                      Row{"other-model", 250, 7, "接続されている機種が違うか、電源が入っていません"},
                      Row{"version-1.07", 350, 9, "本体KD装置内のバージョンが同一または新しいバージョンです"},
                      Row{"variant-M", 450, 9, "本体KD装置はバージョンアップ対象外です"},
                      Row{"disc-inside", 550, 11, "ＫＤメディアを取り出してください"},
                      Row{"wrong-mode", 650, 13, "Tavro モードにして下さい"},
                      Row{"library-open-refused", 650, 14, "ＵＳＢオープンエラー"}),
    [](const ::testing::TestParamInfo<Row>& info) {
      std::string name = info.param.scenario;
      std::replace(name.begin(), name.end(), '-', '_');
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

}  // namespace
