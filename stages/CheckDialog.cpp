#include "stages/CheckDialog.h"

#include "app/MessagePump.h"
#include "delivery/ImageSender.h"
#include "link/LinkSession.h"
#include "resources/resource.h"

namespace {
constexpr UINT_PTR kTimer = 1;
constexpr int kFirstPauseMs = 500;
constexpr int kStepMs = 10;

// The status line shows the check of the hundred steps it falls in.
constexpr const char* kStatusTexts[7] = {
    "ドライバーチェック",       "ＵＳＢチェック",     "機種チェック",
    "バージョンチェック",       "バージョンチェック", "ＫＤメディアチェック",
    "Tavro 動作モードチェック",
};

constexpr char kNoDriver[] = "デバイスドライバが見つかりません      ";
constexpr char kUsbOpenError[] = "ＵＳＢオープンエラー";
constexpr char kWrongModel[] = "接続されている機種が違うか、電源が入っていません";
constexpr char kNotOlder[] = "本体KD装置内のバージョンが同一または新しいバージョンです";
constexpr char kNotEligible[] = "本体KD装置はバージョンアップ対象外です";
constexpr char kDiscInside[] = "ＫＤメディアを取り出してください";
constexpr char kNotTavroMode[] = "Tavro モードにして下さい";
}  // namespace

CheckDialog::CheckDialog(LinkSession& link, ImageSender& sender, const UpdateApp& app, Clock& clock)
    : StageDialog(IDD_CHECK, app), link(link), sender(sender), clock(clock) {}

void CheckDialog::DoDataExchange(CDataExchange* exchange) {
  DDX_Control(exchange, IDC_PROGRESS, progressBar);
  DDX_Text(exchange, IDC_CHECK_STATUS, statusText);
  DDX_Text(exchange, IDC_CHECK_MESSAGE, messageText);
}

BOOL CheckDialog::OnInitDialog() {
  StageDialog::OnInitDialog();
  SetWindowText("機器の接続チェック");
  messageText = "機器の接続チェックを行っています。\r\nしばらくお待ちください。";
  statusText = kStatusTexts[0];
  UpdateData(FALSE);
  return TRUE;
}

bool CheckDialog::RunStage() {
  BeginWaitCursor();
  StartTimer(kTimer, 100);
  timerTicks = 0;
  progressBar.SetFocus();
  progressBar.SetRange32(0, 70);
  clock.SleepMs(kFirstPauseMs);

  bool linkOpen = false;
  // Each step lasts at least 10 ms from its start; a step whose check waited long is not followed
  // by shorter ones.
  Pacer pace(clock, kStepMs);
  for (int step = 0; step < kSteps; ++step) {
    pace.Mark();
    RestoreWaitCursor();
    statusText = kStatusTexts[step / 100];
    UpdateData(FALSE);
    if (const char* failure = RunStep(step, linkOpen)) {
      Fail(failure);
      return false;
    }
    // The bar follows the timer, not the steps: it fills in about 7 s, stays full, and restarts.
    progressBar.SetPos(timerTicks % 84);
    PumpOneMessage();
    pace.Wait();
  }
  KillTimer(kTimer);
  EndWaitCursor();
  return true;
}

const char* CheckDialog::RunStep(int step, bool& linkOpen) {
  switch (step) {
    case 50:
      if (link.CheckLinkOpen() == 1) linkOpen = true;
      return nullptr;
    case 60:
    case 70:
    case 80:
      // A deck plugged in after the first look gets three more chances, each on a fresh worker.
      if (!linkOpen) {
        link.Reset();
        clock.SleepMs(kStepMs);
        if (link.CheckLinkOpen() == 1) linkOpen = true;
      }
      return nullptr;
    case 140:
      return linkOpen ? nullptr : kNoDriver;
    case 150:
      return link.CheckPipeReady() == 1 ? nullptr : kUsbOpenError;
    case 250:
      return link.CheckModel() == 1 ? nullptr : kWrongModel;
    case 350:
      return link.CheckVersion() == 1 ? nullptr : kNotOlder;
    case 450:
      return link.CheckVariant() == 1 ? nullptr : kNotEligible;
    case 550:
      return link.CheckDiscOut() == 1 ? nullptr : kDiscInside;
    case 650:
      if (link.CheckMode() != 1) return kNotTavroMode;
      return sender.Open() == 1 ? nullptr : kUsbOpenError;
    default:
      return nullptr;
  }
}

void CheckDialog::Fail(const char* message) {
  KillTimer(kTimer);
  ShowError(message);
  PostMessage(WM_CLOSE);
}
