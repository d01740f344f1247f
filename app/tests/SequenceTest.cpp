// The update sequence on windows of the tests' own: the order, the five ways out, windows that
// cannot be made, the destruction order, the refusal box, the main window and InitInstance's result.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/UpdateApp.h"
#include "resources/resource.h"
#include "stages/StageDialog.h"
#include "tests/support/ModalScript.h"

namespace {

// How a stage goes: 'r' it runs and succeeds, 'f' it fails, 'w' its window cannot be created, 'n'
// its window object cannot be made.
struct Way {
  const char* name;
  std::string stages;   // check, transfer, wait
  INT_PTR answer;       // of the agreement window; -1: it cannot be shown
  std::string journal;  // what was made, shown, run and destroyed, in order
};

const Way* way = nullptr;
std::string journal;
HWND last = nullptr;  // the window made last
SIZE screen;          // as the application had measured it by the first window

void Note(const std::string& what) {
  journal += (journal.empty() ? "" : ", ") + what;
}

// Notes what happens to it. Run modally, it ends at once with its answer. Its templates, borrowed
// from the program, have no WS_VISIBLE: it runs shown only if the sequence showed it; 999 is none.
class ScriptedWindow : public StageDialog {
 public:
  ScriptedWindow(std::string name, char how, const UpdateApp& app)
      : StageDialog(how == 'w'    ? 999
                    : Modal(name) ? IDD_ABOUTBOX
                                  : IDD_AGREEMENT,
                    app),
        name(std::move(name)),
        how(how) {}
  ~ScriptedWindow() override { Note("~" + name); }
  static bool Modal(const std::string& name) { return name == "agreement" || name == "complete"; }

 protected:
  BOOL OnInitDialog() override {
    StageDialog::OnInitDialog();
    if (!last) screen = {app.screenWidth, app.screenHeight};
    Note(name + " window" + (IsWindow(last) ? " beside another" : "") +
         (AfxGetApp()->m_pMainWnd == this ? " as the main window" : ""));
    last = m_hWnd;
    if (Modal(name)) EndDialog(static_cast<int>(name == "agreement" ? way->answer : IDOK));
    return TRUE;
  }
  bool RunStage() override {
    Note(name + (IsWindowVisible(m_hWnd) ? " runs shown" : " runs"));
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
    Note(std::string("box ") + text + " / " + caption + " / type " + std::to_string(type));
    return StageFactory::ShowMessage(owner, text, caption, type);
  }

 private:
  std::unique_ptr<ScriptedWindow> Make(const std::string& name, char how) {
    Note(name);
    return how == 'n' ? nullptr : std::make_unique<ScriptedWindow>(name, how, app);
  }
  const UpdateApp& app;
};

class WaysOut : public ::testing::TestWithParam<Way> {};

TEST_P(WaysOut, EachEndsAtItsFirstFailureDestroyingTheWindowsNewestFirst) {
  way = &GetParam();
  journal.clear();
  last = nullptr;
  ErrorBox box;
  ModalScript answerer({box.Answer()});
  UpdateApp app(
      [](UpdateApp& app) -> std::unique_ptr<StageFactory> { return std::make_unique<ScriptedStages>(app); });
  EXPECT_EQ(app.InitInstance(), FALSE);
  EXPECT_EQ(journal, way->journal);
  EXPECT_EQ(app.m_pMainWnd, nullptr) << "the main window outlived the completion window";
  EXPECT_FALSE(IsWindow(last));
  if (way->stages[0] == 'r') {
    EXPECT_EQ(screen.cx, GetSystemMetrics(SM_CXFULLSCREEN));
    EXPECT_EQ(screen.cy, GetSystemMetrics(SM_CYFULLSCREEN));
  }
  const bool refused = way->answer == IDCANCEL || way->answer == -1;
  EXPECT_EQ(box.text, refused ? "アップデートを中止します。" : "")
      << "a failed stage has told the user already";
  EXPECT_EQ(box.owner, nullptr);
}

const std::string kChecked = "check, check window, check runs";
const std::string kAgreed = kChecked + ", agreement, agreement window";
const std::string kTransferred = kAgreed + ", transfer, transfer window, transfer runs shown";
const std::string kWaited = kTransferred + ", wait, wait window, wait runs";
const std::string kFirstThreeGone = ", ~transfer, ~agreement, ~check";
const std::string kRefused =
    ", box アップデートを中止します。 / エラーが発生しました / type 48, ~agreement, ~check";
const std::string kCompleted =
    kWaited + ", complete, complete window as the main window, ~complete, ~wait" + kFirstThreeGone;

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
