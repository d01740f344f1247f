// UpdateApp: the application object. InitInstance measures the screen and runs the whole update,
// five windows in fixed order, ending at the first stage that does not succeed; it returns FALSE
// on every way out, so the program ends with the sequence. StageFactory makes those windows.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/Framework.h"

class StageDialog;

// The windows of the update sequence, each made when the sequence reaches it. A window that
// cannot be made (nullptr) counts as a stage that did not succeed.
class StageFactory {
 public:
  virtual ~StageFactory() = default;

  virtual std::unique_ptr<StageDialog> MakeCheck() = 0;       // connection check, modeless
  virtual std::unique_ptr<CDialog> MakeAgreement() = 0;       // terms, modal: IDOK when accepted
  virtual std::unique_ptr<StageDialog> MakeTransfer() = 0;    // image transfer, modeless
  virtual std::unique_ptr<StageDialog> MakeFinishWait() = 0;  // rewrite wait, modeless
  virtual std::unique_ptr<CDialog> MakeComplete() = 0;        // completion, modal

  // The sequence's own message box (the refusal of the terms). MessageBoxA; blocks until closed.
  virtual int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);
};

class UpdateApp : public CWinApp {
 public:
  // Makes the windows for InitInstance; the program passes its own, wired to its global objects.
  using StageSource = std::unique_ptr<StageFactory> (*)(UpdateApp& app);

  explicit UpdateApp(StageSource stages);

  // Keeps the current folder out of the DLL search and registers the common controls from the
  // system folder (FALSE at once when it cannot), raises the timer resolution for the run, takes
  // screenWidth and screenHeight from the system, then RunUpdateSequence on the windows of the
  // stage source. FALSE.
  BOOL InitInstance() override;

  // Check, agreement, transfer, rewrite wait, completion. The stage window objects live until it
  // returns and are destroyed newest first; the completion window is m_pMainWnd only during its
  // modal run. FALSE on every way out.
  BOOL RunUpdateSequence(StageFactory& stages);

  // The client area of a full-screen window, measured once as InitInstance begins; the windows
  // centre themselves in it.
  std::int32_t screenWidth = 0;
  std::int32_t screenHeight = 0;

 private:
  StageSource stageSource;
};

// Runs one modeless stage: creates its window (no parent) unless it has one, shows it if asked,
// posts it the start command and pumps until the stage has taken it up, then destroys the window.
// True when the stage reported success. A window that cannot be created, or that is gone before
// the stage began, is a failed stage: nothing waits for a window that does not exist.
bool RunModelessStage(StageDialog& window, bool explicitShow);
