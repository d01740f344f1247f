// window_host: the update sequence with the real agreement and completion windows, and stand-ins
// that succeed at once for the three stages that need a deck, so the end-to-end tests can drive
// the windows a user sees without a deck. Each step goes to standard output, one line each.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "app/AgreementText.h"
#include "app/UpdateApp.h"
#include "stages/AgreementDialog.h"
#include "stages/CompleteDialog.h"
#include "stages/StageDialog.h"
#include "tests/e2e/window_host.h"

namespace {

void Report(const char* step) {
  std::printf("%s\n", step);
  std::fflush(stdout);
}

// A stage that succeeds as soon as it is started, on an invisible template of the host's own.
class PassingStage : public StageDialog {
 public:
  explicit PassingStage(const UpdateApp& app) : StageDialog(IDD_HOST_PASSING_STAGE, app) {}

 protected:
  bool RunStage() override { return true; }
};

class HostStages : public StageFactory {
 public:
  explicit HostStages(const UpdateApp& app) : app(app), terms(JoinAgreementText()) {}

  std::unique_ptr<StageDialog> MakeCheck() override {
    Report("check");
    return std::make_unique<PassingStage>(app);
  }
  std::unique_ptr<CDialog> MakeAgreement() override {
    Report("agreement");
    return std::make_unique<AgreementDialog>(app, terms);
  }
  std::unique_ptr<StageDialog> MakeTransfer() override {
    Report("transfer");
    return std::make_unique<PassingStage>(app);
  }
  std::unique_ptr<StageDialog> MakeFinishWait() override {
    Report("finish-wait");
    return std::make_unique<PassingStage>(app);
  }
  std::unique_ptr<CDialog> MakeComplete() override {
    Report("complete");
    return std::make_unique<CompleteDialog>();
  }
  // The message itself is the real one; the test reads it on the screen and here.
  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override {
    std::printf("message %s\n", text);
    std::fflush(stdout);
    int answer = StageFactory::ShowMessage(owner, text, caption, type);
    Report("message closed");
    return answer;
  }

 private:
  const UpdateApp& app;
  CString terms;
};

std::unique_ptr<StageFactory> MakeHostStages(UpdateApp& app) {
  return std::make_unique<HostStages>(app);
}

class HostApp : public UpdateApp {
 public:
  HostApp() : UpdateApp(&MakeHostStages) {}
  BOOL InitInstance() override {
    BOOL result = UpdateApp::InitInstance();
    Report(result ? "end TRUE" : "end FALSE");
    return result;
  }
};

}  // namespace

HostApp theApp;
