// The update sequence on stage windows of the tests' own: order, the first failure ending the
// run, windows that cannot be made, the refusal box, the main window and InitInstance's result.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MessagePump.h"
#include "app/UpdateApp.h"
#include "app/tests/TestIds.h"
#include "framework/tests/ModalScript.h"
#include "stages/StageDialog.h"

namespace {

enum class Outcome { kSucceed, kFail, kSecondStart, kNoWindow, kNoObject };

// What the test asks of each window, and what the windows saw.
struct Script {
  Outcome check = Outcome::kSucceed;
  INT_PTR answer = IDOK;
  Outcome transfer = Outcome::kSucceed;
  Outcome finishWait = Outcome::kSucceed;
  bool realMessageBox = false;

  std::vector<std::string> journal;  // what was made, shown, run and destroyed, in order
  std::vector<HWND> stageWindows;    // every stage window made, for "one window at a time"
  std::map<std::string, int> startCommands, cancels;
  SIZE screenAtFirstWindow{-1, -1};  // as the application had measured it
  bool completionWasMainWindow = false;
  bool mainWindowSetEarly = false;
  bool otherWindowAlive = false;
};

void NoteWindow(Script& script, HWND window) {
  for (HWND earlier : script.stageWindows)
    if (IsWindow(earlier)) script.otherWindowAlive = true;
  script.stageWindows.push_back(window);
}

class ScriptedStage : public StageDialog {
 public:
  ScriptedStage(std::string name, Outcome outcome, const UpdateApp& app, Script& script)
      : StageDialog(outcome == Outcome::kNoWindow ? IDD_SEQ_MISSING : IDD_SEQ_STAGE, app),
        name(std::move(name)),
        outcome(outcome),
        script(script) {}
  ~ScriptedStage() override { script.journal.push_back(name + " object destroyed"); }

 protected:
  BOOL OnInitDialog() override {
    StageDialog::OnInitDialog();
    NoteWindow(script, m_hWnd);
    if (script.screenAtFirstWindow.cx < 0) script.screenAtFirstWindow = {app.screenWidth, app.screenHeight};
    if (AfxGetApp() && AfxGetApp()->m_pMainWnd) script.mainWindowSetEarly = true;
    script.journal.push_back(name + " created");
    return TRUE;
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (wParam == ID_START_STAGE) ++script.startCommands[name];
    return StageDialog::OnCommand(wParam, lParam);
  }
  void OnCancel() override {
    ++script.cancels[name];
    StageDialog::OnCancel();
  }
  bool RunStage() override {
    // The test's template has no WS_VISIBLE: a window runs shown only if the sequence showed it.
    script.journal.push_back(name + (IsWindowVisible(m_hWnd) ? " runs shown" : " runs"));
    switch (outcome) {
      case Outcome::kFail:
        PostMessage(WM_CLOSE);
        return false;
      case Outcome::kSecondStart:
        PostMessage(WM_COMMAND, ID_START_STAGE, 0);
        while (PumpOneMessage()) {
        }
        return true;
      default:
        return true;
    }
  }

 private:
  std::string name;
  Outcome outcome;
  Script& script;
};

// A modal window that ends at once with the scripted answer (-1: its template is missing).
class ScriptedModal : public CDialog {
 public:
  ScriptedModal(std::string name, INT_PTR answer, Script& script)
      : CDialog(answer == -1 ? IDD_SEQ_MISSING : IDD_SEQ_MODAL),
        name(std::move(name)),
        answer(answer),
        script(script) {}
  ~ScriptedModal() override { script.journal.push_back(name + " object destroyed"); }

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    NoteWindow(script, m_hWnd);
    script.journal.push_back(name + " shown");
    if (name == "complete") script.completionWasMainWindow = AfxGetApp()->m_pMainWnd == this;
    EndDialog(static_cast<int>(answer));
    return TRUE;
  }

 private:
  std::string name;
  INT_PTR answer;
  Script& script;
};

class ScriptedStages : public StageFactory {
 public:
  ScriptedStages(const UpdateApp& app, Script& script) : app(app), script(script) {}

  std::unique_ptr<StageDialog> MakeCheck() override { return Stage("check", script.check); }
  std::unique_ptr<CDialog> MakeAgreement() override {
    script.journal.push_back("make agreement");
    return std::make_unique<ScriptedModal>("agreement", script.answer, script);
  }
  std::unique_ptr<StageDialog> MakeTransfer() override { return Stage("transfer", script.transfer); }
  std::unique_ptr<StageDialog> MakeFinishWait() override { return Stage("wait", script.finishWait); }
  std::unique_ptr<CDialog> MakeComplete() override {
    script.journal.push_back("make complete");
    return std::make_unique<ScriptedModal>("complete", IDOK, script);
  }
  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override {
    script.journal.push_back(std::string("box ") + text + " / " + caption + " / type " +
                             std::to_string(type) + (owner ? " / owned" : ""));
    return script.realMessageBox ? StageFactory::ShowMessage(owner, text, caption, type) : IDOK;
  }

 private:
  std::unique_ptr<StageDialog> Stage(const std::string& name, Outcome outcome) {
    script.journal.push_back("make " + name);
    if (outcome == Outcome::kNoObject) return nullptr;
    return std::make_unique<ScriptedStage>(name, outcome, app, script);
  }
  const UpdateApp& app;
  Script& script;
};

Script* pendingScript = nullptr;

std::unique_ptr<StageFactory> FromPendingScript(UpdateApp& app) {
  return std::make_unique<ScriptedStages>(app, *pendingScript);
}

// Runs the sequence the way the program does, through InitInstance.
BOOL RunSequence(Script& script) {
  UpdateApp app(&FromPendingScript);
  pendingScript = &script;
  BOOL result = app.InitInstance();
  pendingScript = nullptr;
  EXPECT_EQ(app.m_pMainWnd, nullptr) << "the main window outlived the completion window";
  return result;
}

using Journal = std::vector<std::string>;

Journal Join(std::initializer_list<Journal> parts) {
  Journal joined;
  for (const Journal& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// Only the transfer window is shown by the sequence; the real check window's template shows it.
const Journal kCheckRan = {"make check", "check created", "check runs"};
const Journal kAgreed = {"make agreement", "agreement shown"};
const Journal kTransferRan = {"make transfer", "transfer created", "transfer runs shown"};
const Journal kWaitRan = {"make wait", "wait created", "wait runs"};
const Journal kFirstThreeGone = {"transfer object destroyed", "agreement object destroyed",
                                 "check object destroyed"};
const Journal kCompleted =
    Join({kCheckRan,
          kAgreed,
          kTransferRan,
          kWaitRan,
          {"make complete", "complete shown", "complete object destroyed", "wait object destroyed"},
          kFirstThreeGone});

// Stages centre themselves in the application's screen (see the stage window tests): what counts
// here is that InitInstance measured it before the first window.
TEST(Sequence, AllStagesSucceedInOrderOneWindowAtATimeOnTheMeasuredScreen) {
  Script script;
  EXPECT_EQ(RunSequence(script), FALSE);
  EXPECT_EQ(script.journal, kCompleted);
  EXPECT_FALSE(script.otherWindowAlive) << "a window was made while an earlier one was still open";
  EXPECT_FALSE(script.mainWindowSetEarly);
  EXPECT_TRUE(script.completionWasMainWindow);
  for (HWND window : script.stageWindows) EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(script.screenAtFirstWindow.cx, GetSystemMetrics(SM_CXFULLSCREEN));
  EXPECT_EQ(script.screenAtFirstWindow.cy, GetSystemMetrics(SM_CYFULLSCREEN));
}

struct FailureCase {
  const char* name;
  Outcome Script::*stage;
  Outcome outcome;
  Journal journal;
};

class FirstFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FirstFailure, EndsTheRunBeforeAnyLaterWindow) {
  const FailureCase& failure = GetParam();
  Script script;
  script.*failure.stage = failure.outcome;
  EXPECT_EQ(RunSequence(script), FALSE);
  EXPECT_EQ(script.journal, failure.journal) << "no box: a failed stage has told the user already";
  while (PumpOneMessage()) {  // a failed stage posted WM_CLOSE to its window
  }
  for (auto& cancels : script.cancels)
    EXPECT_EQ(cancels.second, 0) << cancels.first << " handled its WM_CLOSE";
  for (HWND window : script.stageWindows) EXPECT_FALSE(IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(
    Stages, FirstFailure,
    ::testing::Values(
        FailureCase{"CheckFails", &Script::check, Outcome::kFail,
                    Join({kCheckRan, {"check object destroyed"}})},
        FailureCase{"CheckWindowCannotBeCreated",
                    &Script::check,
                    Outcome::kNoWindow,
                    {"make check", "check object destroyed"}},
        FailureCase{"CheckWindowCannotBeMade", &Script::check, Outcome::kNoObject, {"make check"}},
        FailureCase{"TransferFails", &Script::transfer, Outcome::kFail,
                    Join({kCheckRan, kAgreed, kTransferRan, kFirstThreeGone})},
        FailureCase{"TransferWindowCannotBeCreated", &Script::transfer, Outcome::kNoWindow,
                    Join({kCheckRan, kAgreed, {"make transfer"}, kFirstThreeGone})},
        FailureCase{
            "WaitFails", &Script::finishWait, Outcome::kFail,
            Join({kCheckRan, kAgreed, kTransferRan, kWaitRan, {"wait object destroyed"}, kFirstThreeGone})},
        FailureCase{"WaitWindowCannotBeMade", &Script::finishWait, Outcome::kNoObject,
                    Join({kCheckRan, kAgreed, kTransferRan, {"make wait"}, kFirstThreeGone})}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(Sequence, ASecondStartCommandRunsNothingMore) {
  Script script;
  script.check = Outcome::kSecondStart;
  RunSequence(script);
  EXPECT_EQ(script.startCommands["check"], 2);
  EXPECT_EQ(script.journal, kCompleted) << "the check ran once, succeeded, and the run went on";
}

// A window that cannot be shown (-1) has not been accepted either.
TEST(Sequence, RefusingTheTermsOrAnAgreementWindowThatCannotBeShownShowsTheRefusalAndEnds) {
  for (INT_PTR answer : {static_cast<INT_PTR>(IDCANCEL), static_cast<INT_PTR>(-1)}) {
    SCOPED_TRACE(answer);
    Script script;
    script.answer = answer;
    EXPECT_EQ(RunSequence(script), FALSE);
    Journal agreement = answer == -1 ? Journal{"make agreement"} : kAgreed;
    EXPECT_EQ(
        script.journal,
        Join({kCheckRan,
              agreement,
              {"box アップデートを中止します。 / エラーが発生しました / type 48",  // MB_OK | MB_ICONWARNING
               "agreement object destroyed", "check object destroyed"}}));
  }
}

TEST(Sequence, EveryOtherAnswerOfTheAgreementGoesOn) {
  for (INT_PTR answer : {static_cast<INT_PTR>(IDOK), static_cast<INT_PTR>(0), static_cast<INT_PTR>(IDABORT),
                         static_cast<INT_PTR>(IDNO), static_cast<INT_PTR>(1234)}) {
    Script script;
    script.answer = answer;
    EXPECT_EQ(RunSequence(script), FALSE);
    EXPECT_EQ(script.journal, kCompleted) << answer;
  }
}

TEST(Sequence, TheRefusalBoxIsARealOwnerlessWarning) {
  Script script;
  script.answer = IDCANCEL;
  script.realMessageBox = true;
  HWND box = nullptr;
  HWND owner = reinterpret_cast<HWND>(1);
  char text[128] = {};
  ModalScript answerer({[&] {
    box = FindWindowA("#32770", "エラーが発生しました");
    if (!box) return;
    owner = GetWindow(box, GW_OWNER);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }});
  EXPECT_EQ(RunSequence(script), FALSE);
  ASSERT_NE(box, nullptr) << "no message box came up";
  EXPECT_EQ(owner, nullptr);
  EXPECT_STREQ(text, "アップデートを中止します。");
  EXPECT_EQ(answerer.Abandoned(), 0);
}

}  // namespace
