// CWinApp and the framework's entry point: the first object is the program's until it goes;
// InitInstance runs once, and TRUE goes on to the message loop, whose quit code WinMain returns.
#include <gtest/gtest.h>

#include "framework/Framework.h"

struct CountingApp : CWinApp {
  explicit CountingApp(BOOL result) : result(result) {}
  BOOL InitInstance() override {
    if (result) PostQuitMessage(7);
    return ++calls, result;
  }
  BOOL result;
  int calls = 0;
};

TEST(WinApp, WinMainRunsTheFirstObjectsInitInstanceOnceAndTheMessageLoopOnlyAfterTrue) {
  auto winMain = [] { return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW); };
  EXPECT_EQ(winMain(), 0) << "without an application object WinMain does nothing";
  for (BOOL result : {FALSE, TRUE}) {
    CountingApp app(result), second(!result);
    EXPECT_EQ(winMain(), result ? 7 : 0);
    EXPECT_EQ(std::make_pair(app.calls, second.calls), std::make_pair(1, 0));
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}
