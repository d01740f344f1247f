// The terms window on its real template, driven in-process: the choice, OK, Cancel, Escape,
// repaints, and the white text box.
#include <gtest/gtest.h>

#include "app/AgreementText.h"
#include "app/UpdateApp.h"
#include "resources/resource.h"
#include "stages/AgreementDialog.h"
#include "stages/tests/DeckStage.h"
#include "tests/support/ModalScript.h"

namespace {

constexpr int kEscape = 0;  // a press of the Escape key

struct Agreement : ::testing::Test {
  HWND Item(int id) { return GetDlgItem(dialog.m_hWnd, id); }
  // A click, or the key as the keyboard sends it; Wine may leave an inactive window's focus
  // nowhere, and then the key goes to the control the window itself focuses.
  void Press(int id) {
    HWND focus = IsChild(dialog.m_hWnd, GetFocus()) ? GetFocus() : Item(IDC_AGREE);
    id == kEscape ? PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0) : SendMessageA(Item(id), BM_CLICK, 0, 0);
  }
  void Repaint() { RedrawWindow(dialog.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
  // As the user sees it: OK and Cancel enabled (+) or not (-), "同意します。" and "同意しません。"
  // checked (x) or not (o), and f when the focus is on "同意します。".
  std::string Choice() {
    std::string seen;
    for (int id : {IDOK, IDCANCEL}) seen += IsWindowEnabled(Item(id)) ? '+' : '-';
    for (int id : {IDC_AGREE, IDC_DISAGREE})
      seen += SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED ? 'x' : 'o';
    return seen + (GetFocus() == Item(IDC_AGREE) ? "f" : "");
  }
  // Runs the window modally; the steps begin once it has painted (and so disabled OK) first.
  INT_PTR Drive(std::vector<ModalScript::Step> steps) {
    steps.insert(steps.begin(),
                 [&, ticks = 0]() mutable { return !IsWindowEnabled(Item(IDOK)) || ++ticks > 50; });
    ModalScript script(std::move(steps));
    return dialog.DoModal();
  }

  Agreement() { app.screenWidth = 801, app.screenHeight = 590; }
  UpdateApp app{nullptr};
  CString terms = JoinAgreementText();
  AgreementDialog dialog{app, terms};
};

TEST_F(Agreement, OnlyAgreeThenOkAcceptsAndTheLastClickDecides) {
  const std::pair<std::vector<int>, INT_PTR> cases[] = {{{IDC_AGREE, IDOK}, IDOK},
                                                        {{IDC_DISAGREE, IDOK}, IDCANCEL},
                                                        {{IDC_AGREE, IDCANCEL}, IDCANCEL},
                                                        {{IDC_AGREE, kEscape}, IDCANCEL},
                                                        {{IDC_AGREE, IDC_DISAGREE, IDOK}, IDCANCEL}};
  for (const auto& [presses, result] : cases) {
    std::vector<ModalScript::Step> steps;
    for (int id : presses) steps.push_back([this, id] { Press(id); });
    EXPECT_EQ(Drive(std::move(steps)), result) << presses.size() << " presses, the last " << presses.back();
    EXPECT_EQ(dialog.agreed, result == IDOK) << "Cancel and Escape forget the agreement";
  }
}

// Opens with the whole text in a white box and nothing chosen; a choice enables OK and Cancel, and
// every repaint disables them again and puts the focus back on "同意します。" until the user
// chooses again. The box keeps one brush for the window's life; other controls keep the default.
TEST_F(Agreement, OpensAndRepaintsWithOkCancelDisabledUntilAChoiceInAWhiteTextBox) {
  std::vector<std::string> seen;
  std::string shown(4000, '\0');
  char caption[64] = {};
  int agreedAfterPaint = -1;
  LRESULT brushes[3] = {};
  COLORREF background = 0;
  INT_PTR result =
      Drive({[&] {
               shown.resize(GetWindowTextA(Item(IDC_TERMS), shown.data(), 4000));
               GetWindowTextA(dialog.m_hWnd, caption, sizeof caption);
               ExpectCentred(dialog.m_hWnd, app);
               seen.push_back(Choice());
               Press(IDC_AGREE);
               seen.push_back(Choice());
               Repaint();
               Press(IDC_DISAGREE);
               seen.push_back(Choice());
               SetFocus(Item(IDC_DISAGREE));
               Repaint();
               seen.push_back(Choice());
               agreedAfterPaint = dialog.agreed;
             },
             [&] {
               HDC dc = CreateCompatibleDC(nullptr);
               SetBkColor(dc, RGB(1, 2, 3));
               auto ask = [&](int id) {
                 return SendMessageA(dialog.m_hWnd, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(Item(id)));
               };
               brushes[0] = ask(IDC_TERMS);
               background = GetBkColor(dc);
               for (int i = 0; i < 50; ++i) Repaint();
               brushes[1] = ask(IDC_TERMS);
               brushes[2] = ask(IDC_AGREE);
               DeleteDC(dc);
             },
             [&] { Press(IDC_AGREE); }, [&] { Repaint(); }, [&] { Press(IDC_AGREE); }, [&] { Press(IDOK); }});
  EXPECT_EQ(shown, std::string(terms));
  EXPECT_STREQ(caption, "バージョンアップ for Z8KQ");
  EXPECT_EQ(seen, (std::vector<std::string>{"--oof", "++xof", "++ox", "--oxf"}));
  EXPECT_EQ(agreedAfterPaint, 0) << "a paint changes no choice";
  EXPECT_EQ(result, IDOK) << "after a repaint, the next click decides again";
  EXPECT_EQ(background, RGB(255, 255, 255));
  LOGBRUSH brush{};
  GetObjectA(HBRUSH(brushes[0]), sizeof brush, &brush);
  EXPECT_EQ(std::make_pair(brush.lbStyle, brush.lbColor), std::make_pair(UINT(BS_SOLID), RGB(255, 255, 255)));
  EXPECT_EQ(brushes[1], brushes[0]) << "the brush was made afresh";
  EXPECT_NE(brushes[2], brushes[0]);
  EXPECT_NE(brushes[2], 0);
}

}  // namespace
