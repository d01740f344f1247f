#include "stages/FinishWaitDialog.h"

#include "app/MessagePump.h"
#include "link/LinkSession.h"
#include "resources/resource.h"
#include "stages/StayAwake.h"

namespace {
constexpr char kRewriteTimedOut[] = "本体KD装置のデータ書換えがタイムアウトしました";
}

FinishWaitDialog::FinishWaitDialog(LinkSession& link, StayAwake& awake, const UpdateApp& app)
    : StageDialog(IDD_FINISH_WAIT, app), link(link), awake(awake) {}

void FinishWaitDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Control(exchange, IDC_ANIMATION, animation);
  DDX_Text(exchange, IDC_WAIT_MESSAGE, messageText);
  DDX_Text(exchange, IDC_POWER_NOTICE, noticeText);
}

BOOL FinishWaitDialog::OnInitDialog() {
  StageDialog::OnInitDialog();
  SetWindowText("バージョンアップ中");
  messageText = "バージョンアップ中です。";
  noticeText = "本体の電源を切らないでください。";
  UpdateData(FALSE);
  timedOut = 0;
  rewriteSeen = 0;
  return TRUE;
}

void FinishWaitDialog::OnTick() {
  if (timerTicks >= kTimeoutTicks) timedOut = 1;
}

bool FinishWaitDialog::HoldsOffShutdown() const {
  return awake.Held();
}

bool FinishWaitDialog::RunStage() {
  awake.Cover(m_hWnd);
  BeginWaitCursor();
  timedOut = 0;
  timerTicks = 0;
  animation.SetFocus();
  animation.Open(IDR_AVI_WAIT);
  animation.Play(0, 0xFFFF, static_cast<UINT>(-1));
  // Without a timer the wait would have no bound, and shutdown would stay held off: it is timed out
  // before it begins.
  if (StartTimer(kTimer, 100) == 0) timedOut = 1;

  // The time-out is tested before the report: a pass that finds both ends in failure.
  for (;;) {
    RestoreWaitCursor();
    if (timedOut == 1) break;
    if (link.IsRewriteDone() == 1) {
      rewriteSeen = 1;
      break;
    }
    PumpOrIdle();
  }

  KillTimer(kTimer);
  animation.Stop();
  animation.Close();
  if (rewriteSeen == 0) ShowError(kRewriteTimedOut);
  PostMessage(WM_CLOSE);
  EndWaitCursor();
  awake.End();
  return rewriteSeen == 1;
}
