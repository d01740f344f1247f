// The completion and version windows on their real templates: texts, icons, the system-menu
// entry and its command, the minimised icon's place.
#include <gtest/gtest.h>

#include <tuple>

#include "resources/resource.h"
#include "stages/CompleteDialog.h"
#include "tests/support/ModalScript.h"

namespace {

// Gets a system menu before initialisation, to show what the window appends when there is one (the
// program's template has none).
class CompleteWithMenu : public CompleteDialog {
 public:
  bool withMenu = false;

 protected:
  BOOL OnInitDialog() override {
    if (withMenu) SetWindowLongA(m_hWnd, GWL_STYLE, GetWindowLongA(m_hWnd, GWL_STYLE) | WS_SYSMENU);
    return CompleteDialog::OnInitDialog();
  }
};

void ClickOk(HWND window) {
  SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
}

TEST(Complete, ShowsItsTextsAndIconsAndAppendsTheVersionEntryOnlyToASystemMenu) {
  for (bool withMenu : {false, true}) {
    CompleteWithMenu dialog;
    dialog.withMenu = withMenu;
    char caption[64] = {}, text[128] = {}, entry[64] = {};
    LRESULT icons[3] = {};
    UINT entryId = 0, separator = 0;
    ModalScript script({[&] {
                          HWND window = dialog.m_hWnd;
                          GetWindowTextA(window, caption, sizeof caption);
                          GetDlgItemTextA(window, IDC_COMPLETE_MESSAGE, text, sizeof text);
                          icons[0] = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
                          icons[1] = SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
                          icons[2] = SendMessageA(window, WM_QUERYDRAGICON, 0, 0);
                          if (HMENU menu = GetSystemMenu(window, FALSE)) {
                            const int items = GetMenuItemCount(menu);
                            separator = GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR;
                            entryId = GetMenuItemID(menu, items - 1);
                            GetMenuStringA(menu, items - 1, entry, sizeof entry, MF_BYPOSITION);
                          }
                        },
                        [&] { ClickOk(dialog.m_hWnd); }});
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_STREQ(caption, "バージョンアップ完了");
    EXPECT_STREQ(text, "バージョンアップが完了しました。\r\nおつかれさまでした。");
    EXPECT_NE(dialog.icon, nullptr);
    for (LRESULT icon : icons) EXPECT_EQ(icon, LRESULT(dialog.icon));
    EXPECT_EQ(std::make_tuple(separator != 0, entryId, std::string(entry)),
              withMenu ? std::make_tuple(true, 16u, std::string("Trevolin のﾊﾞｰｼﾞｮﾝ情報(&A)..."))
                       : std::make_tuple(false, 0u, std::string()));
  }
}

// The others get the framework's default processing: SC_CLOSE closes the window as Cancel does.
TEST(Complete, SystemCommands16To31OpenTheVersionWindowAndOthersGetDefaultProcessing) {
  CompleteDialog dialog;
  std::string opened;
  std::vector<ModalScript::Step> steps;
  for (UINT id : {0u, 15u, 16u, 17u, 30u, 31u, 32u, 0x30u, 0x110u, UINT(SC_CLOSE)}) {
    steps.push_back([&dialog, id] { PostMessageA(dialog.m_hWnd, WM_SYSCOMMAND, id, 0); });
    steps.push_back([&, id] {
      HWND about = FindOwnWindow("#32770", "Trevolinのﾊﾞｰｼﾞｮﾝ情報");
      if (about) opened += std::to_string(id) + " ", ClickOk(about);
    });
  }
  ModalScript script(std::move(steps));
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(opened, "16 17 30 31 ");
}

// (client - icon + 1) / 2 on each axis, truncating toward zero.
TEST(Complete, TheMinimisedIconIsCentredInTheClientArea) {
  const int cases[][4] = {{36, 36, 2, 2}, {37, 40, 3, 4}, {0, 0, -15, -15}};  // client, origin
  for (const auto& c : cases) {
    POINT at = CompleteDialog::MinimisedIconOrigin(c[0], c[1], 32, 32);
    EXPECT_EQ(std::make_pair(at.x, at.y), std::make_pair(LONG(c[2]), LONG(c[3]))) << c[0];
  }
}

}  // namespace
