// StageDialog: the contract of the modeless stage windows (connection check, image transfer,
// rewrite wait), written once. The sequence posts the start command; the stage runs whole inside
// that one dispatch, pumping messages itself, and leaves StageResult 1 only on success.
#pragma once

#include <cstdint>

#include "framework/Framework.h"

class UpdateApp;

// The start command: WM_COMMAND with exactly this wParam (command 1024, notification 0).
inline constexpr WPARAM ID_START_STAGE = 1024;

// The caption of every error message box of the program.
inline constexpr char kErrorCaption[] = "エラーが発生しました";

class StageDialog : public CDialog {
 public:
  // Read by the sequence; all three stay readable after the window is destroyed.
  std::int32_t timerTicks = 0;   // WM_TIMER messages since the stage last set it to 0
  std::int32_t started = 0;      // the start command has been taken up
  std::int32_t StageResult = 0;  // 1: the stage succeeded

 protected:
  // `app` gives the screen size to centre in; it must outlive the window object.
  StageDialog(UINT templateId, const UpdateApp& app);

  // The base class's initialisation, then centring, then started and StageResult to 0; TRUE. A
  // stage's own OnInitDialog calls this first and then fills its texts.
  BOOL OnInitDialog() override;

  // The start command while not started: started = 1, RunStage, StageResult = 1 if it succeeded.
  // Then, as with every other command, the base class's routing, whose result is returned.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

  // The whole stage, inside the dispatch of the start command. It pumps messages itself while it
  // works and shows its own message box when it fails. True only when the stage succeeded.
  virtual bool RunStage() = 0;

  // Called for every WM_TIMER, whatever the timer, after timerTicks has been counted and before
  // default processing: where a stage raises its own time-out flag.
  virtual void OnTick() {}

  // True while the deck rewrites itself: the window then refuses the end of the session.
  virtual bool HoldsOffShutdown() const { return false; }

  // Starts window timer `id`; 0 when the system can make no more, which a stage must survive.
  virtual UINT_PTR StartTimer(UINT_PTR id, UINT periodMs) { return SetTimer(id, periodMs); }

  const MessageMap* GetMessageMap() const override;
  void OnTimer(UINT_PTR timerId);
  BOOL OnQueryEndSession();

  // Tells the owner why the stage failed: the program's error box (exclamation icon, OK only),
  // owned by this window. Returns when the owner has closed it.
  void ShowError(const char* text);

  const UpdateApp& app;
};
