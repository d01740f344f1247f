// ProgramStages: the program's own windows for the update sequence, wired to the application
// object and the global objects they work with.
#pragma once

#include "app/UpdateApp.h"
#include "stages/StayAwake.h"

class LinkSession;
class ImageSender;

class ProgramStages : public StageFactory {
 public:
  ProgramStages(const UpdateApp& app, const CString& terms, LinkSession& link, ImageSender& sender);

  std::unique_ptr<StageDialog> MakeCheck() override;
  std::unique_ptr<CDialog> MakeAgreement() override;
  std::unique_ptr<StageDialog> MakeTransfer() override;
  std::unique_ptr<StageDialog> MakeFinishWait() override;
  std::unique_ptr<CDialog> MakeComplete() override;

 private:
  const UpdateApp& app;
  const CString& terms;
  LinkSession& link;
  ImageSender& sender;
  // Held from the rewrite request to the end of the wait; the sequence's end releases it on
  // every way out, since the factory lives exactly as long as the sequence.
  StayAwake awake;
};
