// TransferDialog: the image transfer, third stage. It asks the deck over the driver path to
// prepare for a rewrite, pushes the image through the image sender with a progress bar, and waits
// a bounded time for the deck's reply.
#pragma once

#include "stages/StageDialog.h"

class LinkSession;
class ImageSender;
class StayAwake;

class TransferDialog : public StageDialog {
 public:
  TransferDialog(LinkSession& link, ImageSender& sender, StayAwake& awake, const UpdateApp& app);

  std::int32_t timedOut = 0;  // 1 once timerTicks has passed 80
  CProgressCtrl progressBar;  // control 1000
  CString noticeText;         // control 1008
  CString messageText;        // control 1003

  static constexpr UINT_PTR kTimer = 2;
  static constexpr int kAcceptTicks = 80;  // the reply may come up to the 81st tick

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  bool RunStage() override;
  void OnTick() override;
  bool HoldsOffShutdown() const override;

 private:
  LinkSession& link;
  ImageSender& sender;
  StayAwake& awake;
};
