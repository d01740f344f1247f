// The completion and version windows on their real templates: texts, icons, the system-menu
// entry and its command, the minimised icon's place.
#include <gtest/gtest.h>

#include <string>

#include "framework/tests/ModalScript.h"
#include "resources/resource.h"
#include "stages/CompleteDialog.h"

namespace {

// The program's template has no system menu; this one gets one before initialisation, to show
// what the window appends when there is a menu to append to.
class CompleteWithMenu : public CompleteDialog {
 protected:
  BOOL OnInitDialog() override {
    SetWindowLongA(m_hWnd, GWL_STYLE, GetWindowLongA(m_hWnd, GWL_STYLE) | WS_SYSMENU);
    return CompleteDialog::OnInitDialog();
  }
};

HWND FindAbout() {
  return FindWindowA("#32770", "Trevolinのﾊﾞｰｼﾞｮﾝ情報");
}

void ClickOk(HWND window) {
  SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
}

TEST(Complete, ShowsItsTextsAndTheProgramsIcon) {
  CompleteDialog dialog;
  ASSERT_NE(dialog.icon, nullptr);
  char caption[64] = {}, text[128] = {};
  LRESULT big = 0, small = 0, dragIcon = 0;
  HMENU systemMenu = reinterpret_cast<HMENU>(1);
  ModalScript script({[&] {
                        HWND window = dialog.m_hWnd;
                        GetWindowTextA(window, caption, sizeof caption);
                        GetDlgItemTextA(window, IDC_COMPLETE_MESSAGE, text, sizeof text);
                        big = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
                        small = SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
                        dragIcon = SendMessageA(window, WM_QUERYDRAGICON, 0, 0);
                        systemMenu = GetSystemMenu(window, FALSE);
                      },
                      [&] { ClickOk(dialog.m_hWnd); }});
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_STREQ(caption, "バージョンアップ完了");
  EXPECT_STREQ(text, "バージョンアップが完了しました。\r\nおつかれさまでした。");
  EXPECT_EQ(big, reinterpret_cast<LRESULT>(dialog.icon));
  EXPECT_EQ(small, reinterpret_cast<LRESULT>(dialog.icon));
  EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(dialog.icon));
  EXPECT_EQ(systemMenu, nullptr) << "the template has no system menu, so nothing was added";
  EXPECT_EQ(script.Abandoned(), 0);
}

TEST(Complete, AppendsTheVersionEntryAfterASeparatorWhenThereIsASystemMenu) {
  CompleteWithMenu dialog;
  int count = 0;
  UINT separatorType = 0, entryId = 0;
  char entryText[64] = {};
  ModalScript script({[&] {
                        HMENU menu = GetSystemMenu(dialog.m_hWnd, FALSE);
                        if (!menu) return;
                        count = GetMenuItemCount(menu);
                        MENUITEMINFOA item{};
                        item.cbSize = sizeof item;
                        item.fMask = MIIM_FTYPE;
                        GetMenuItemInfoA(menu, count - 2, TRUE, &item);
                        separatorType = item.fType;
                        entryId = GetMenuItemID(menu, count - 1);
                        GetMenuStringA(menu, count - 1, entryText, sizeof entryText, MF_BYPOSITION);
                      },
                      [&] { ClickOk(dialog.m_hWnd); }});
  dialog.DoModal();
  ASSERT_GE(count, 2);
  EXPECT_TRUE(separatorType & MFT_SEPARATOR);
  EXPECT_EQ(entryId, 16u);
  EXPECT_STREQ(entryText, "Trevolin のﾊﾞｰｼﾞｮﾝ情報(&A)...");
}

// The version window opens on its own template and closes with OK.
TEST(Complete, SystemCommands16To31OpenTheVersionWindowAndNoOthers) {
  CompleteDialog dialog;
  int opened = 0;
  int openedForOthers = 0;
  std::string line;
  std::vector<ModalScript::Step> steps;
  for (UINT id = 16; id <= 31; ++id) {
    steps.push_back([&dialog, id] { SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, id, 0); });
    steps.push_back([&]() -> bool {
      HWND about = FindAbout();
      if (!about) return false;
      if (++opened == 1) {
        char text[64] = {};
        GetWindowTextA(FindWindowExA(about, nullptr, "Static", "Trevolin Version 1.0"), text, sizeof text);
        line = text;
      }
      ClickOk(about);
      return true;
    });
  }
  for (UINT id : {0u, 15u, 32u, 0x30u, 0x110u}) {
    steps.push_back([&dialog, &openedForOthers, id] {
      SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, id, 0);
      if (FindAbout()) ++openedForOthers;
    });
  }
  steps.push_back([&] { ClickOk(dialog.m_hWnd); });
  ModalScript script(std::move(steps));
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(opened, 16);
  EXPECT_EQ(line, "Trevolin Version 1.0");
  EXPECT_EQ(openedForOthers, 0);
  EXPECT_EQ(script.Abandoned(), 0);
}

// (client - icon + 1) / 2 on each axis, truncating toward zero.
TEST(Complete, TheMinimisedIconIsCentredInTheClientArea) {
  const int cases[][4] = {{36, 36, 2, 2}, {37, 40, 3, 4}, {0, 0, -15, -15}};  // client, origin
  for (const auto& c : cases) {
    POINT at = CompleteDialog::MinimisedIconOrigin(c[0], c[1], 32, 32);
    EXPECT_EQ(at.x, c[2]) << c[0];
    EXPECT_EQ(at.y, c[3]) << c[1];
  }
}

}  // namespace
