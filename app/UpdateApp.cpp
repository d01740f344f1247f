#include "app/UpdateApp.h"

#include <mmsystem.h>

#include "app/MessagePump.h"
#include "framework/SystemDll.h"
#include "stages/StageDialog.h"

int StageFactory::ShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
  return MessageBoxA(owner, text, caption, type);
}

UpdateApp::UpdateApp(StageSource stages) : stageSource(stages) {}

namespace {
// A plain Sleep(10) lasts a whole scheduler tick (about 15.6 ms) unless the timer resolution is
// raised; the check and the transfer count on 10 ms meaning 10 ms. Without the multimedia timers
// the run goes on at the coarser tick.
class TimerResolution {
 public:
  using PeriodCall = UINT(WINAPI*)(UINT);

  TimerResolution() : winmm(LoadSystemDll(L"winmm.dll")) {
    if (!winmm) return;
    auto begin = SystemDllFunction<PeriodCall>(winmm, "timeBeginPeriod");
    end = SystemDllFunction<PeriodCall>(winmm, "timeEndPeriod");
    raised = begin && end && begin(1) == TIMERR_NOERROR;
  }
  ~TimerResolution() {
    if (raised) end(1);
    if (winmm) FreeLibrary(winmm);
  }
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;

 private:
  HMODULE winmm;
  PeriodCall end = nullptr;
  bool raised = false;
};
}  // namespace

BOOL UpdateApp::InitInstance() {
  // Before the program loads anything itself or makes a window. Without the common controls no
  // stage window can be made, and the program ends as it does when one cannot.
  RestrictDllSearch();
  if (!RegisterControlClasses()) return FALSE;
  TimerResolution resolution;
  screenWidth = GetSystemMetrics(SM_CXFULLSCREEN);
  screenHeight = GetSystemMetrics(SM_CYFULLSCREEN);
  std::unique_ptr<StageFactory> stages = stageSource ? stageSource(*this) : nullptr;
  if (!stages) return FALSE;
  return RunUpdateSequence(*stages);
}

BOOL UpdateApp::RunUpdateSequence(StageFactory& stages) {
  // Declared in stage order, so that returning destroys them newest first.
  std::unique_ptr<StageDialog> check = stages.MakeCheck();
  if (!check || !RunModelessStage(*check, false)) return FALSE;

  // Only a refusal stops here. A window that could not even be shown (-1) has not been accepted
  // either: going on would rewrite the deck without the user's consent.
  std::unique_ptr<CDialog> agreement = stages.MakeAgreement();
  INT_PTR answer = agreement ? agreement->DoModal() : -1;
  if (answer == IDCANCEL || answer == -1) {
    stages.ShowMessage(nullptr, "アップデートを中止します。", kErrorCaption, MB_OK | MB_ICONWARNING);
    return FALSE;
  }

  std::unique_ptr<StageDialog> transfer = stages.MakeTransfer();
  if (!transfer || !RunModelessStage(*transfer, true)) return FALSE;

  std::unique_ptr<StageDialog> finishWait = stages.MakeFinishWait();
  if (!finishWait || !RunModelessStage(*finishWait, false)) return FALSE;

  std::unique_ptr<CDialog> complete = stages.MakeComplete();
  if (complete) {
    m_pMainWnd = complete.get();
    complete->DoModal();
    m_pMainWnd = nullptr;
  }
  return FALSE;
}

bool RunModelessStage(StageDialog& window, bool explicitShow) {
  if (!window.m_hWnd) window.Create(window.GetTemplateId());
  if (!window.m_hWnd) return false;
  if (explicitShow) window.ShowWindow(SW_SHOW);
  window.started = 0;
  if (window.PostMessage(WM_COMMAND, ID_START_STAGE, 0)) {
    // The stage runs inside the dispatch of the start command, so `started` turns 1 only when it
    // is over. The window may be destroyed before then (it takes the posted command with it).
    while (window.started == 0 && window.m_hWnd) PumpOrIdle();
  }
  window.DestroyWindow();
  return window.StageResult == 1;
}
