#include "stages/StageDialog.h"

#include "app/Centring.h"

StageDialog::StageDialog(UINT templateId, const UpdateApp& app) : CDialog(templateId), app(app) {}

BOOL StageDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  CentreOnScreen(*this, app);
  started = 0;
  StageResult = 0;
  return TRUE;
}

BOOL StageDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (wParam == ID_START_STAGE && started == 0) {
    started = 1;
    if (RunStage()) StageResult = 1;
  }
  return CDialog::OnCommand(wParam, lParam);
}

const MessageMap* StageDialog::GetMessageMap() const {
  static constexpr MessageMapEntry entries[] = {Map::Timer<&StageDialog::OnTimer>(),
                                                Map::QueryEndSession<&StageDialog::OnQueryEndSession>()};
  static const MessageMap map(CDialog::GetMessageMap(), entries);
  return &map;
}

void StageDialog::OnTimer(UINT_PTR timerId) {
  ++timerTicks;
  OnTick();
  CDialog::OnTimer(timerId);
}

BOOL StageDialog::OnQueryEndSession() {
  return HoldsOffShutdown() ? FALSE : CDialog::OnQueryEndSession();
}

void StageDialog::ShowError(const char* text) {
  MessageBox(text, kErrorCaption, MB_ICONEXCLAMATION | MB_OK);
}
