// CWinApp and the framework's entry point.
#include <gtest/gtest.h>

#include "framework/Framework.h"

namespace {

class CountingApp : public CWinApp {
 public:
  explicit CountingApp(BOOL result) : result(result) {}
  BOOL InitInstance() override {
    ++calls;
    if (result) PostQuitMessage(7);
    return result;
  }
  BOOL result;
  int calls = 0;
};

int RunWinMain() {
  return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
}

TEST(WinApp, TheFirstObjectIsTheProgramsUntilItGoes) {
  ASSERT_EQ(AfxGetApp(), nullptr);
  {
    CountingApp first(FALSE);
    CountingApp second(FALSE);
    EXPECT_EQ(AfxGetApp(), &first);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(RunWinMain(), 0) << "without an application object WinMain does nothing";
}

// InitInstance runs once; TRUE goes on to the message loop, whose quit code WinMain returns.
TEST(WinApp, WinMainRunsInitInstanceOnceAndTheMessageLoopOnlyAfterTrue) {
  for (BOOL result : {FALSE, TRUE}) {
    CountingApp app(result);
    EXPECT_EQ(RunWinMain(), result ? 7 : 0);
    EXPECT_EQ(app.calls, 1);
  }
}

}  // namespace
