// The program's four objects with static storage. They live in this one file so that they are
// built in this order, and torn down in the reverse order, before and after InitInstance runs.
#include <memory>

#include "app/AgreementText.h"
#include "app/ProgramStages.h"
#include "app/UpdateApp.h"

CString AgreementText = JoinAgreementText();

// The link session (LinkSession) is built here, second, once the device link is part of the
// program: its worker starts now, while start-up is still under way.

// The image sender (ImageSender) is built here, third, once the firmware delivery is part of the
// program.

namespace {

// Wires the windows to the objects above. A function, not an object: it adds nothing to the
// start-up order.
std::unique_ptr<StageFactory> MakeProgramStages(UpdateApp& app) {
  return std::make_unique<ProgramStages>(app, AgreementText);
}

}  // namespace

UpdateApp theApp(&MakeProgramStages);
