// The resources as the system reads them under Wine: windows built from every template, both icon
// sizes, and the wait clip in the animation control. (The system menu string is read back where
// the completion window appends it.)
#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

struct Control {
  int id;
  const char* className;
  const char* text;
};

struct Template {
  int id;
  const char* caption;
  int children;  // the version window's three statics share the id -1 and are only counted
  std::vector<Control> controls;
};

std::string WindowText(HWND hwnd) {
  char buffer[512] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

std::string ClassOf(HWND hwnd) {
  char buffer[128] = {};
  GetClassNameA(hwnd, buffer, sizeof buffer);
  return buffer;
}

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A desktop of the test's own: Wine makes it a virtual one, where windows come and go without
    // waiting on an X window manager, and nothing else on the display gets in the way.
    HDESK desktop = CreateDesktopA("trevolin-resources-test", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(desktop, nullptr);
    ASSERT_TRUE(SetThreadDesktop(desktop));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
  }
  HWND Open(int id) {
    HWND hwnd = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, QuietProc, 0);
    if (hwnd) opened.push_back(hwnd);
    return hwnd;
  }
  void TearDown() override {
    for (HWND hwnd : opened) DestroyWindow(hwnd);
  }
  std::vector<HWND> opened;
};

// Texts read back through the ANSI calls come in code page 932, like the literals here.
TEST_F(Resources, EveryTemplateBuildsItsWindowWithItsControlsAndOnlyTheVersionWindowASystemMenu) {
  const std::vector<Template> templates = {
      {IDD_ABOUTBOX, "Trevolinのﾊﾞｰｼﾞｮﾝ情報", 4, {{IDOK, "Button", "OK"}}},
      {IDD_COMPLETE, "バージョンアップ完了", 2, {{IDOK, "Button", "OK"}, {IDC_COMPLETE_MESSAGE, "Edit", ""}}},
      {IDD_CHECK,
       "機器の接続チェック",
       3,
       {{IDC_PROGRESS, "msctls_progress32", nullptr},
        {IDC_CHECK_STATUS, "Edit", ""},
        {IDC_CHECK_MESSAGE, "Edit", ""}}},
      {IDD_AGREEMENT,
       "バージョンアップ for Z8KQ",
       5,
       {{IDOK, "Button", "OK"},
        {IDCANCEL, "Button", "ｷｬﾝｾﾙ"},
        {IDC_TERMS, "Edit", ""},
        {IDC_AGREE, "Button", "同意します。"},
        {IDC_DISAGREE, "Button", "同意しません。"}}},
      {IDD_TRANSFER,
       "バージョンアップデータ転送中",
       3,
       {{IDC_PROGRESS, "msctls_progress32", nullptr},
        {IDC_CABLE_NOTICE, "Edit", ""},
        {IDC_TRANSFER_MESSAGE, "Edit", ""}}},
      {IDD_FINISH_WAIT,
       "バージョンアップ中",
       3,
       {{IDC_WAIT_MESSAGE, "Edit", ""},
        {IDC_POWER_NOTICE, "Edit", ""},
        {IDC_ANIMATION, "SysAnimate32", nullptr}}},
  };
  for (const Template& t : templates) {
    SCOPED_TRACE(t.id);
    HWND hwnd = Open(t.id);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(WindowText(hwnd), t.caption);
    EXPECT_EQ((GetWindowLongA(hwnd, GWL_STYLE) & WS_SYSMENU) != 0, t.id == IDD_ABOUTBOX) << "system menu";
    int children = 0;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, t.children);
    for (const Control& c : t.controls) {
      SCOPED_TRACE(c.id);
      HWND control = GetDlgItem(hwnd, c.id);
      ASSERT_NE(control, nullptr);
      EXPECT_STRCASEEQ(ClassOf(control).c_str(), c.className);
      if (c.text) {
        EXPECT_EQ(WindowText(control), c.text);
      }
    }
  }
}

// The group must offer both sizes itself: the system would otherwise stretch the other one.
TEST_F(Resources, IconGroupOffersBothSizes) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC group = FindResourceA(self, MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(3 + 11));
  ASSERT_NE(group, nullptr);
  auto* directory = static_cast<PBYTE>(LockResource(LoadResource(self, group)));
  int large = LookupIconIdFromDirectoryEx(directory, TRUE, 32, 32, LR_DEFAULTCOLOR);
  int small = LookupIconIdFromDirectoryEx(directory, TRUE, 16, 16, LR_DEFAULTCOLOR);
  ASSERT_NE(large, 0);
  ASSERT_NE(small, 0);
  EXPECT_NE(large, small);
  HICON icon = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0));
  EXPECT_NE(icon, nullptr) << "the small image decodes";
  DestroyIcon(icon);
}

// The wait window opens its clip by number from the program's "AVI" resources, and the control
// decodes its RLE8 frames: the spindle hole stays black while the rim mark turns away.
TEST_F(Resources, AnimationControlOpensAndDrawsTheWaitClip) {
  HWND hwnd = Open(IDD_FINISH_WAIT);
  ASSERT_NE(hwnd, nullptr);
  HWND animation = GetDlgItem(hwnd, IDC_ANIMATION);
  ASSERT_NE(animation, nullptr);
  ASSERT_TRUE(
      SendMessageA(animation, ACM_OPENA, 0, reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_AVI_WAIT))));
  // Without ACS_CENTER the control takes the clip's frame size.
  RECT outer = {};
  GetWindowRect(animation, &outer);
  const int border = 2 * GetSystemMetrics(SM_CXBORDER);
  EXPECT_GE(outer.right - outer.left, 32);
  EXPECT_LE(outer.right - outer.left, 32 + border);
  EXPECT_GE(outer.bottom - outer.top, 32);
  EXPECT_LE(outer.bottom - outer.top, 32 + border);

  auto show = [&](int frame) {
    EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, 1, MAKELPARAM(frame, frame)));
    UpdateWindow(hwnd);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    HDC dc = GetDC(animation);
    std::pair<COLORREF, COLORREF> seen = {GetPixel(dc, 14, 14), GetPixel(dc, 25, 16)};
    ReleaseDC(animation, dc);
    return seen;
  };
  EXPECT_EQ(show(0), std::make_pair(RGB(0, 0, 0), RGB(0xE0, 0x20, 0x20)));
  EXPECT_EQ(show(3), std::make_pair(RGB(0, 0, 0), RGB(0x20, 0x40, 0xE0)));

  EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)));
  EXPECT_TRUE(SendMessageA(animation, ACM_STOP, 0, 0));
}

}  // namespace
