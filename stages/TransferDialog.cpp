#include "stages/TransferDialog.h"

#include "app/MessagePump.h"
#include "delivery/ImageSender.h"
#include "delivery/TransferView.h"
#include "link/LinkSession.h"
#include "resources/resource.h"
#include "stages/StayAwake.h"

namespace {
constexpr char kTransferTimedOut[] = "本体KD装置へのデータ転送がタイムアウトしました";

// The transfer window as the image sender sees it while the blocks go out.
class WindowTransferView : public TransferView {
 public:
  explicit WindowTransferView(TransferDialog& window) : window(window) {}
  void SetProgress(int position) override { window.progressBar.SetPos(position); }
  void ShowWaitCursor() override { window.BeginWaitCursor(); }
  void EndWaitCursor() override { window.EndWaitCursor(); }
  void PumpOneMessage() override { ::PumpOneMessage(); }

 private:
  TransferDialog& window;
};
}  // namespace

TransferDialog::TransferDialog(LinkSession& link, ImageSender& sender, StayAwake& awake, const UpdateApp& app)
    : StageDialog(IDD_TRANSFER, app), link(link), sender(sender), awake(awake) {}

void TransferDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Control(exchange, IDC_PROGRESS, progressBar);
  DDX_Text(exchange, IDC_CABLE_NOTICE, noticeText);
  DDX_Text(exchange, IDC_TRANSFER_MESSAGE, messageText);
}

BOOL TransferDialog::OnInitDialog() {
  StageDialog::OnInitDialog();
  SetWindowText("バージョンアップデータ転送中");
  noticeText = "ＵＳＢケーブルを抜かないでください。";
  messageText = "バージョンアップデータを転送中です。本体の電源を落とさないでください。";
  UpdateData(FALSE);
  return TRUE;
}

void TransferDialog::OnTick() {
  if (timerTicks > kAcceptTicks) timedOut = 1;
}

bool TransferDialog::HoldsOffShutdown() const {
  return awake.Held();
}

bool TransferDialog::RunStage() {
  progressBar.SetFocus();
  progressBar.SetRange32(0, sender.blockCount);

  // Three timer periods before anything is sent. Without a timer they would never come: the stage
  // ends as on its time-out, with nothing sent.
  timerTicks = 0;
  if (StartTimer(kTimer, 100) == 0) {
    sender.Close();
    ShowError(kTransferTimedOut);
    return false;
  }
  while (timerTicks < 3) PumpOrIdle();
  KillTimer(kTimer);

  // From the request on the deck is being rewritten: the computer must stay on until the wait ends.
  awake.Begin(m_hWnd);
  link.RequestRewrite();

  WindowTransferView view(*this);
  if (sender.SendImage(view) != 1) {
    sender.Close();
    ShowError(kTransferTimedOut);
    PostMessage(WM_CLOSE);
    return false;
  }

  BeginWaitCursor();
  sender.accepted = 0;
  timedOut = 0;
  timerTicks = 0;
  // Without a timer the polling would have no bound: it is timed out before it begins.
  if (StartTimer(kTimer, 100) == 0) timedOut = 1;
  // A reply read in the pass that handles the 81st tick still counts: accepted is tested after
  // the poll, before timedOut is looked at again.
  while (sender.accepted == 0 && timedOut == 0) {
    RestoreWaitCursor();
    sender.PollAccepted();
    PumpOrIdle();
  }
  KillTimer(kTimer);
  sender.Close();

  const bool accepted = sender.accepted == 1;
  if (!accepted) ShowError(kTransferTimedOut);
  EndWaitCursor();
  return accepted;
}
