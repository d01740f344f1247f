// FinishWaitDialog: the rewrite wait, fourth stage. It plays the wait clip and waits up to 1,200
// timer ticks (about two minutes) for the deck's completion report on the driver path.
#pragma once

#include "stages/StageDialog.h"

class LinkSession;
class StayAwake;

class FinishWaitDialog : public StageDialog {
 public:
  FinishWaitDialog(LinkSession& link, StayAwake& awake, const UpdateApp& app);

  std::int32_t timedOut = 0;     // 1 once timerTicks has reached 1,200
  std::int32_t rewriteSeen = 0;  // 1 once IsRewriteDone has returned 1
  CAnimateCtrl animation;        // control 1009
  CString messageText;           // control 1002
  CString noticeText;            // control 1008

  static constexpr UINT_PTR kTimer = 1;
  static constexpr int kTimeoutTicks = 1200;

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  bool RunStage() override;
  void OnTick() override;
  bool HoldsOffShutdown() const override;

 private:
  LinkSession& link;
  StayAwake& awake;
};
