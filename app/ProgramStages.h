// ProgramStages: the program's own windows for the update sequence, given the application object
// and the global objects they work with.
#pragma once

#include "app/UpdateApp.h"

class ProgramStages : public StageFactory {
 public:
  ProgramStages(const UpdateApp& app, const CString& terms);

  // The connection check, transfer and rewrite wait windows are not part of the program yet:
  // until they are, there is no check window and the sequence ends before its first stage.
  std::unique_ptr<StageDialog> MakeCheck() override;
  std::unique_ptr<CDialog> MakeAgreement() override;
  std::unique_ptr<StageDialog> MakeTransfer() override;
  std::unique_ptr<StageDialog> MakeFinishWait() override;
  std::unique_ptr<CDialog> MakeComplete() override;

 private:
  const UpdateApp& app;
  const CString& terms;
};
