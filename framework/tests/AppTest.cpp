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

TEST(WinApp, TheFirstObjectIsTheProgramsUntilItGoes) {
  ASSERT_EQ(AfxGetApp(), nullptr);
  {
    CountingApp first(FALSE);
    CountingApp second(FALSE);
    EXPECT_EQ(AfxGetApp(), &first);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(WinApp, WinMainRunsInitInstanceOnceAndEndsWhenItSaysFalse) {
  CountingApp app(FALSE);
  EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 0);
  EXPECT_EQ(app.calls, 1);
}

TEST(WinApp, WinMainRunsTheMessageLoopWhenInitInstanceSaysTrue) {
  CountingApp app(TRUE);
  EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 7);
  EXPECT_EQ(app.calls, 1);
}

TEST(WinApp, WinMainWithoutAnApplicationObjectDoesNothing) {
  EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 0);
}

}  // namespace
