// The update sequence on stage windows of the tests' own: order, the first failure ending the
// run, windows that cannot be made, the refusal box, the main window and InitInstance's result.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Centring.h"
#include "app/MessagePump.h"
#include "app/UpdateApp.h"
#include "app/tests/TestIds.h"
#include "framework/tests/ModalScript.h"
#include "stages/StageDialog.h"

namespace {

enum class Outcome { kSucceed, kFail, kSecondStart, kNoWindow, kNoObject };

struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// What the test asks of each window, and what the windows saw.
struct Script {
  Outcome check = Outcome::kSucceed;
  INT_PTR answer = IDOK;
  Outcome transfer = Outcome::kSucceed;
  Outcome finishWait = Outcome::kSucceed;
  bool realMessageBox = false;

  std::vector<std::string> journal;
  std::vector<Box> boxes;
  std::vector<HWND> stageWindows;  // every stage window made, for "one window at a time"
  std::map<std::string, int> runs, startCommands, cancels;
  std::map<std::string, bool> visibleWhileRunning;
  std::map<std::string, POINT> origin;
  std::map<std::string, SIZE> size;
  std::int32_t screenWidthAtFirstWindow = -1;
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
    if (script.screenWidthAtFirstWindow < 0) script.screenWidthAtFirstWindow = app.screenWidth;
    if (AfxGetApp() && AfxGetApp()->m_pMainWnd) script.mainWindowSetEarly = true;
    RECT rect;
    GetWindowRect(&rect);
    script.origin[name] = {rect.left, rect.top};
    script.size[name] = {rect.right - rect.left, rect.bottom - rect.top};
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
    ++script.runs[name];
    script.visibleWhileRunning[name] = IsWindowVisible(m_hWnd) != FALSE;
    script.journal.push_back(name + " runs");
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
    script.boxes.push_back({owner, text, caption, type});
    script.journal.push_back("message box");
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

// Handles what the finished run left in the queue (a failed stage posts WM_CLOSE to itself).
void Drain() {
  while (PumpOneMessage()) {
  }
}

using Journal = std::vector<std::string>;

TEST(Sequence, AllStagesSucceedInOrderOneWindowAtATime) {
  Script script;
  EXPECT_EQ(RunSequence(script), FALSE);
  EXPECT_EQ(
      script.journal,
      (Journal{"make check", "check created", "check runs", "make agreement", "agreement shown",
               "make transfer", "transfer created", "transfer runs", "make wait", "wait created", "wait runs",
               "make complete", "complete shown", "complete object destroyed", "wait object destroyed",
               "transfer object destroyed", "agreement object destroyed", "check object destroyed"}));
  EXPECT_TRUE(script.boxes.empty());
  EXPECT_FALSE(script.otherWindowAlive) << "a window was made while an earlier one was still open";
  EXPECT_FALSE(script.mainWindowSetEarly);
  EXPECT_TRUE(script.completionWasMainWindow);
  for (HWND window : script.stageWindows) EXPECT_FALSE(IsWindow(window));
}

TEST(Sequence, OnlyTheTransferWindowIsShownByTheSequence) {
  Script script;
  RunSequence(script);
  EXPECT_FALSE(script.visibleWhileRunning["check"]) << "the check window's template shows it";
  EXPECT_TRUE(script.visibleWhileRunning["transfer"]);
  EXPECT_FALSE(script.visibleWhileRunning["wait"]);
}

TEST(Sequence, InitInstanceMeasuresTheScreenBeforeTheFirstWindowAndStagesCentreInIt) {
  Script script;
  RunSequence(script);
  EXPECT_EQ(script.screenWidthAtFirstWindow, GetSystemMetrics(SM_CXFULLSCREEN));
  SIZE size = script.size["check"];
  POINT expected =
      CentredOrigin(GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN), size.cx, size.cy);
  EXPECT_EQ(script.origin["check"].x, expected.x);
  EXPECT_EQ(script.origin["check"].y, expected.y);
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
  EXPECT_EQ(script.journal, failure.journal);
  EXPECT_TRUE(script.boxes.empty()) << "a failed stage has told the user already";
  Drain();
  for (auto& cancels : script.cancels)
    EXPECT_EQ(cancels.second, 0) << cancels.first << " handled its WM_CLOSE";
  for (HWND window : script.stageWindows) EXPECT_FALSE(IsWindow(window));
}

const Journal kCheckRan = {"make check", "check created", "check runs"};

Journal Then(Journal journal, const Journal& more) {
  journal.insert(journal.end(), more.begin(), more.end());
  return journal;
}

INSTANTIATE_TEST_SUITE_P(
    Stages, FirstFailure,
    ::testing::Values(
        FailureCase{"CheckFails", &Script::check, Outcome::kFail,
                    Then(kCheckRan, {"check object destroyed"})},
        FailureCase{"CheckWindowCannotBeCreated",
                    &Script::check,
                    Outcome::kNoWindow,
                    {"make check", "check object destroyed"}},
        FailureCase{"CheckWindowCannotBeMade", &Script::check, Outcome::kNoObject, {"make check"}},
        FailureCase{"TransferFails", &Script::transfer, Outcome::kFail,
                    Then(kCheckRan, {"make agreement", "agreement shown", "make transfer", "transfer created",
                                     "transfer runs", "transfer object destroyed",
                                     "agreement object destroyed", "check object destroyed"})},
        FailureCase{"TransferWindowCannotBeCreated", &Script::transfer, Outcome::kNoWindow,
                    Then(kCheckRan,
                         {"make agreement", "agreement shown", "make transfer", "transfer object destroyed",
                          "agreement object destroyed", "check object destroyed"})},
        FailureCase{"WaitFails", &Script::finishWait, Outcome::kFail,
                    Then(kCheckRan, {"make agreement", "agreement shown", "make transfer", "transfer created",
                                     "transfer runs", "make wait", "wait created", "wait runs",
                                     "wait object destroyed", "transfer object destroyed",
                                     "agreement object destroyed", "check object destroyed"})},
        FailureCase{"WaitWindowCannotBeMade", &Script::finishWait, Outcome::kNoObject,
                    Then(kCheckRan, {"make agreement", "agreement shown", "make transfer", "transfer created",
                                     "transfer runs", "make wait", "transfer object destroyed",
                                     "agreement object destroyed", "check object destroyed"})}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(Sequence, ASecondStartCommandRunsNothingMore) {
  Script script;
  script.check = Outcome::kSecondStart;
  RunSequence(script);
  EXPECT_EQ(script.startCommands["check"], 2);
  EXPECT_EQ(script.runs["check"], 1);
  EXPECT_EQ(script.runs["transfer"], 1) << "the stage succeeded and the run went on";
}

TEST(Sequence, RefusingTheTermsShowsTheRefusalAndEnds) {
  Script script;
  script.answer = IDCANCEL;
  EXPECT_EQ(RunSequence(script), FALSE);
  ASSERT_EQ(script.boxes.size(), 1u);
  EXPECT_EQ(script.boxes[0].owner, nullptr);
  EXPECT_EQ(script.boxes[0].text, "アップデートを中止します。");
  EXPECT_EQ(script.boxes[0].caption, "エラーが発生しました");
  EXPECT_EQ(script.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
  EXPECT_EQ(script.boxes[0].type, 0x30u);
  EXPECT_EQ(script.journal, Then(kCheckRan, {"make agreement", "agreement shown", "message box",
                                             "agreement object destroyed", "check object destroyed"}));
}

TEST(Sequence, AnAgreementWindowThatCannotBeShownStopsTheRunLikeARefusal) {
  Script script;
  script.answer = -1;
  EXPECT_EQ(RunSequence(script), FALSE);
  ASSERT_EQ(script.boxes.size(), 1u);
  EXPECT_EQ(script.boxes[0].text, "アップデートを中止します。");
  EXPECT_EQ(script.runs.count("transfer"), 0u);
}

TEST(Sequence, EveryOtherAnswerOfTheAgreementGoesOn) {
  for (INT_PTR answer : {static_cast<INT_PTR>(IDOK), static_cast<INT_PTR>(0), static_cast<INT_PTR>(IDABORT),
                         static_cast<INT_PTR>(IDNO), static_cast<INT_PTR>(1234)}) {
    Script script;
    script.answer = answer;
    EXPECT_EQ(RunSequence(script), FALSE);
    EXPECT_TRUE(script.boxes.empty()) << answer;
    EXPECT_EQ(script.runs["transfer"], 1) << answer;
    EXPECT_EQ(script.journal.back(), "check object destroyed");
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

TEST(Sequence, InitInstanceReturnsFalseOnEachWayOut) {
  Script failedCheck;
  failedCheck.check = Outcome::kFail;
  Script refused;
  refused.answer = IDCANCEL;
  Script failedTransfer;
  failedTransfer.transfer = Outcome::kFail;
  Script failedWait;
  failedWait.finishWait = Outcome::kFail;
  Script completed;
  for (Script* script : {&failedCheck, &refused, &failedTransfer, &failedWait, &completed}) {
    EXPECT_EQ(RunSequence(*script), FALSE);
  }
  EXPECT_EQ(completed.journal[completed.journal.size() - 6], "complete shown");
}

TEST(Sequence, ModelessStageWithoutATemplateFailsAtOnce) {
  UpdateApp app(nullptr);
  Script script;
  ScriptedStage stage("lonely", Outcome::kNoWindow, app, script);
  EXPECT_FALSE(RunModelessStage(stage, true));
  EXPECT_EQ(stage.started, 0);
  EXPECT_EQ(script.runs.count("lonely"), 0u);
}

}  // namespace
