#include "app/ProgramStages.h"

#include "stages/AgreementDialog.h"
#include "stages/CheckDialog.h"
#include "stages/CompleteDialog.h"
#include "stages/FinishWaitDialog.h"
#include "stages/TransferDialog.h"

ProgramStages::ProgramStages(const UpdateApp& app, const CString& terms, LinkSession& link,
                             ImageSender& sender)
    : app(app), terms(terms), link(link), sender(sender) {}

std::unique_ptr<StageDialog> ProgramStages::MakeCheck() {
  return std::make_unique<CheckDialog>(link, sender, app);
}

std::unique_ptr<CDialog> ProgramStages::MakeAgreement() {
  return std::make_unique<AgreementDialog>(app, terms);
}

std::unique_ptr<StageDialog> ProgramStages::MakeTransfer() {
  return std::make_unique<TransferDialog>(link, sender, awake, app);
}

std::unique_ptr<StageDialog> ProgramStages::MakeFinishWait() {
  return std::make_unique<FinishWaitDialog>(link, awake, app);
}

std::unique_ptr<CDialog> ProgramStages::MakeComplete() {
  return std::make_unique<CompleteDialog>();
}
