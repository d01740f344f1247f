// The program's four objects with static storage. They live in this one file so that they are
// built in this order, and torn down in the reverse order, before and after InitInstance runs.
// Which driver and which library they reach is decided by what the program is linked with. Ahead
// of them stands the guard that lets one copy of the program run at a time.
#include <memory>

#include "app/AgreementText.h"
#include "app/OneCopy.h"
#include "app/ProgramStages.h"
#include "app/UpdateApp.h"
#include "delivery/ImageSender.h"
#include "link/LinkSession.h"

// A second copy ends here, before the link's worker below would open the deck a second time.
OneCopy oneCopy(L"Local\\Trevolin.HVX-Z8KQ.update");

CString AgreementText = JoinAgreementText();

// Its worker starts now, while start-up is still under way, and opens the deck 20 ms later.
LinkSession linkSession(PlatformDriverCalls());

ImageSender imageSender;

namespace {

// Wires the windows to the objects above. A function, not an object: it adds nothing to the
// start-up order.
std::unique_ptr<StageFactory> MakeProgramStages(UpdateApp& app) {
  return std::make_unique<ProgramStages>(app, AgreementText, linkSession, imageSender);
}

}  // namespace

UpdateApp theApp(&MakeProgramStages);
