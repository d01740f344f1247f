// What only the system can tell of the resources, whose contents are the PE check's and whose
// windows are the windows' tests': the wait clip plays.
#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <utility>

#include "resources/resource.h"

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

// The control decodes the clip's RLE8 frames: the spindle hole stays black, the rim mark turns away.
TEST(Resources, TheAnimationControlOpensAndDrawsTheWaitClip) {
  // A desktop of the test's own: Wine makes it a virtual one, where nothing else gets in the way.
  ASSERT_TRUE(
      SetThreadDesktop(CreateDesktopA("trevolin-resources-test", nullptr, nullptr, 0, GENERIC_ALL, nullptr)));
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_ANIMATE_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  HWND window =
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FINISH_WAIT), nullptr, QuietProc, 0);
  HWND animation = GetDlgItem(window, IDC_ANIMATION);
  ASSERT_TRUE(SendMessageA(animation, ACM_OPENA, 0, LPARAM(MAKEINTRESOURCEA(IDR_AVI_WAIT))));
  auto show = [&](int frame) {
    EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, 1, MAKELPARAM(frame, frame)));
    UpdateWindow(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    HDC dc = GetDC(animation);
    std::pair<COLORREF, COLORREF> seen = {GetPixel(dc, 14, 14), GetPixel(dc, 25, 16)};
    ReleaseDC(animation, dc);
    return seen;
  };
  EXPECT_EQ(show(0), std::make_pair(RGB(0, 0, 0), RGB(0xE0, 0x20, 0x20)));
  EXPECT_EQ(show(3), std::make_pair(RGB(0, 0, 0), RGB(0x20, 0x40, 0xE0)));
}
