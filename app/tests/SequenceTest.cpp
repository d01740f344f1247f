// The update sequence on windows of the tests' own: the order, the five ways out, windows that
// cannot be made, the destruction order, the refusal box, the main window and InitInstance's result.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/UpdateApp.h"
#include "app/tests/TestIds.h"
#include "framework/tests/ModalScript.h"
#include "stages/StageDialog.h"

namespace {

// How a stage goes: 'r' it runs and succeeds, 'f' it fails, 'w' its window cannot be created, 'n'
// its window object cannot be made.
struct Way {
  const char* name;
  std::string stages;   // check, transfer, wait
  INT_PTR answer;       // of the agreement window; -1: it cannot be shown
  std::string journal;  // what was made, shown, run and destroyed, in order
};

// What the windows saw.
struct Seen {
  std::string journal;
  std::vector<HWND> windows;
  bool otherWindowAlive = false, completionWasMainWindow = false;
  SIZE screen{-1, -1};  // as the application had measured it by the first window

  void Note(const std::string& what) { journal += (journal.empty() ? "" : ", ") + what; }
};

const Way* way = nullptr;
Seen* seen = nullptr;

// Notes what happens to it. Run modally, it ends at once with its answer; the templates have no
// WS_VISIBLE, so it runs shown only if the sequence showed it.
class ScriptedWindow : public StageDialog {
 public:
  ScriptedWindow(std::string name, char how, const UpdateApp& app)
      : StageDialog(how == 'w'    ? IDD_SEQ_MISSING
                    : Modal(name) ? IDD_SEQ_MODAL
                                  : IDD_SEQ_STAGE,
                    app),
        name(std::move(name)),
        how(how) {}
  ~ScriptedWindow() override { seen->Note("~" + name); }
  static bool Modal(const std::string& name) { return name == "agreement" || name == "complete"; }

 protected:
  BOOL OnInitDialog() override {
    StageDialog::OnInitDialog();
    for (HWND earlier : seen->windows) seen->otherWindowAlive |= IsWindow(earlier) != FALSE;
    seen->windows.push_back(m_hWnd);
    if (seen->screen.cx < 0) seen->screen = {app.screenWidth, app.screenHeight};
    if (name == "complete") seen->completionWasMainWindow = AfxGetApp()->m_pMainWnd == this;
    seen->Note(name + " window");
    if (Modal(name)) EndDialog(static_cast<int>(name == "agreement" ? way->answer : IDOK));
    return TRUE;
  }
  bool RunStage() override {
    seen->Note(name + (IsWindowVisible(m_hWnd) ? " runs shown" : " runs"));
    if (how == 'f') PostMessage(WM_CLOSE);
    return how != 'f';
  }

 private:
  std::string name;
  char how;
};

class ScriptedStages : public StageFactory {
 public:
  explicit ScriptedStages(const UpdateApp& app) : app(app) {}
  std::unique_ptr<StageDialog> MakeCheck() override { return Make("check", way->stages[0]); }
  std::unique_ptr<CDialog> MakeAgreement() override {
    return Make("agreement", way->answer == -1 ? 'w' : 'r');
  }
  std::unique_ptr<StageDialog> MakeTransfer() override { return Make("transfer", way->stages[1]); }
  std::unique_ptr<StageDialog> MakeFinishWait() override { return Make("wait", way->stages[2]); }
  std::unique_ptr<CDialog> MakeComplete() override { return Make("complete", 'r'); }
  // The real box, with the journal's record of how it was asked for.
  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override {
    seen->Note(std::string("box ") + text + " / " + caption + " / type " + std::to_string(type));
    return StageFactory::ShowMessage(owner, text, caption, type);
  }

 private:
  std::unique_ptr<ScriptedWindow> Make(const std::string& name, char how) {
    seen->Note(name);
    return how == 'n' ? nullptr : std::make_unique<ScriptedWindow>(name, how, app);
  }
  const UpdateApp& app;
};

class WaysOut : public ::testing::TestWithParam<Way> {};

// Runs the sequence the way the program does, through InitInstance, answering the box.
TEST_P(WaysOut, EachEndsAtItsFirstFailureDestroyingTheWindowsNewestFirst) {
  Seen windows;
  way = &GetParam();
  seen = &windows;
  HWND box = nullptr, owner = nullptr;
  std::string text(128, '\0');
  ModalScript answerer({[&]() -> bool {
    if (!(box = FindWindowA("#32770", "エラーが発生しました"))) return false;
    owner = GetWindow(box, GW_OWNER);
    text.resize(GetDlgItemTextA(box, 0xFFFF, text.data(), 128));
    return PostMessageA(box, WM_COMMAND, IDOK, 0);
  }});
  UpdateApp app(
      [](UpdateApp& app) -> std::unique_ptr<StageFactory> { return std::make_unique<ScriptedStages>(app); });
  EXPECT_EQ(app.InitInstance(), FALSE);
  EXPECT_EQ(windows.journal, way->journal);
  EXPECT_EQ(app.m_pMainWnd, nullptr) << "the main window outlived the completion window";
  EXPECT_EQ(windows.completionWasMainWindow, way->journal.find("complete window") != std::string::npos);
  EXPECT_FALSE(windows.otherWindowAlive) << "a window was made while an earlier one was still open";
  for (HWND window : windows.windows) EXPECT_FALSE(IsWindow(window));
  if (way->stages[0] == 'r') {
    EXPECT_EQ(windows.screen.cx, GetSystemMetrics(SM_CXFULLSCREEN));
    EXPECT_EQ(windows.screen.cy, GetSystemMetrics(SM_CYFULLSCREEN));
  }
  const bool refused = way->answer == IDCANCEL || way->answer == -1;
  EXPECT_STREQ(text.c_str(), refused ? "アップデートを中止します。" : "")
      << "a failed stage has told the user already";
  EXPECT_EQ(owner, nullptr);
}

const std::string kChecked = "check, check window, check runs";
const std::string kAgreed = kChecked + ", agreement, agreement window";
const std::string kTransferred = kAgreed + ", transfer, transfer window, transfer runs shown";
const std::string kWaited = kTransferred + ", wait, wait window, wait runs";
const std::string kFirstThreeGone = ", ~transfer, ~agreement, ~check";
const std::string kRefused =
    ", box アップデートを中止します。 / エラーが発生しました / type 48, ~agreement, ~check";
const std::string kCompleted = kWaited + ", complete, complete window, ~complete, ~wait" + kFirstThreeGone;

INSTANTIATE_TEST_SUITE_P(
    Sequence, WaysOut,
    ::testing::Values(Way{"AllSucceed", "rrr", IDOK, kCompleted},
                      Way{"CheckFails", "frr", IDOK, kChecked + ", ~check"},
                      Way{"CheckWindowCannotBeCreated", "wrr", IDOK, "check, ~check"},
                      Way{"CheckWindowCannotBeMade", "nrr", IDOK, "check"},
                      Way{"TermsRefused", "rrr", IDCANCEL, kAgreed + kRefused},
                      Way{"AgreementCannotBeShown", "rrr", -1, kChecked + ", agreement" + kRefused},
                      Way{"TransferFails", "rfr", IDOK, kTransferred + kFirstThreeGone},
                      Way{"TransferWindowCannotBeCreated", "rwr", IDOK,
                          kAgreed + ", transfer" + kFirstThreeGone},
                      Way{"WaitFails", "rrf", IDOK, kWaited + ", ~wait" + kFirstThreeGone},
                      Way{"WaitWindowCannotBeMade", "rrn", IDOK, kTransferred + ", wait" + kFirstThreeGone},
                      // Only a refusal stops the sequence: every other answer goes on.
                      Way{"AnswerZero", "rrr", 0, kCompleted}, Way{"Answer1234", "rrr", 1234, kCompleted}),
    [](const ::testing::TestParamInfo<Way>& info) { return std::string(info.param.name); });

}  // namespace
