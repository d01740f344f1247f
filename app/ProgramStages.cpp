#include "app/ProgramStages.h"

#include "stages/AgreementDialog.h"
#include "stages/CompleteDialog.h"
#include "stages/StageDialog.h"

ProgramStages::ProgramStages(const UpdateApp& app, const CString& terms) : app(app), terms(terms) {}

std::unique_ptr<StageDialog> ProgramStages::MakeCheck() {
  return nullptr;
}

std::unique_ptr<CDialog> ProgramStages::MakeAgreement() {
  return std::make_unique<AgreementDialog>(app, terms);
}

std::unique_ptr<StageDialog> ProgramStages::MakeTransfer() {
  return nullptr;
}

std::unique_ptr<StageDialog> ProgramStages::MakeFinishWait() {
  return nullptr;
}

std::unique_ptr<CDialog> ProgramStages::MakeComplete() {
  return std::make_unique<CompleteDialog>();
}
