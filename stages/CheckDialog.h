// CheckDialog: the connection check, first stage of the update. A counted schedule of 700 steps
// of about 10 ms runs the link session's once-only checks in fixed order and, last, opens the
// image sender; the first failure ends the stage with its message.
#pragma once

#include "link/Clock.h"
#include "stages/StageDialog.h"

class LinkSession;
class ImageSender;

class CheckDialog : public StageDialog {
 public:
  // The schedule's pauses are counted on `clock`.
  CheckDialog(LinkSession& link, ImageSender& sender, const UpdateApp& app, Clock& clock = SystemClock());

  CProgressCtrl progressBar;  // control 1000
  CString statusText;         // control 1003: the check under way
  CString messageText;        // control 1005: the fixed instruction

  static constexpr int kSteps = 700;

 protected:
  void DoDataExchange(CDataExchange* exchange) override;
  BOOL OnInitDialog() override;
  bool RunStage() override;

 private:
  // The action scheduled for step `step`: nullptr when it passed or there is none, else the text
  // of the failure's message box.
  const char* RunStep(int step, bool& linkOpen);
  void Fail(const char* message);

  LinkSession& link;
  ImageSender& sender;
  Clock& clock;
};
