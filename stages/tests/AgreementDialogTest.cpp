// The terms window on its real template, driven in-process: the choice, OK, Cancel, Escape,
// repaints, and the white text box.
#include <gtest/gtest.h>

#include <string>

#include "app/AgreementText.h"
#include "app/Centring.h"
#include "app/UpdateApp.h"
#include "framework/tests/ModalScript.h"
#include "resources/resource.h"
#include "stages/AgreementDialog.h"

namespace {

// Counts the window's own paints, so a test can wait for the first one as the user would see it.
class ObservedAgreement : public AgreementDialog {
 public:
  using AgreementDialog::AgreementDialog;
  int paints = 0;

 protected:
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {Map::Paint<&ObservedAgreement::CountPaint>()};
    static const MessageMap map(AgreementDialog::GetMessageMap(), entries);
    return &map;
  }
  void CountPaint() {
    ++paints;
    AgreementDialog::OnPaint();
  }
};

class Agreement : public ::testing::Test {
 protected:
  Agreement() : app(nullptr), terms(JoinAgreementText()), dialog(app, terms) {
    app.screenWidth = 1024;
    app.screenHeight = 738;
  }

  HWND Item(int id) { return GetDlgItem(dialog.m_hWnd, id); }
  void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
  void Repaint() { RedrawWindow(dialog.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
  bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
  bool Checked(int id) { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // To the control with the focus, as the keyboard would; Wine may leave an inactive window's
  // focus nowhere, and then the key goes to the control the window itself focuses.
  void Escape() {
    HWND target = GetFocus();
    if (!target || !IsChild(dialog.m_hWnd, target)) target = Item(IDC_AGREE);
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0);
  }

  INT_PTR Drive(std::vector<ModalScript::Step> steps) {
    ModalScript script(std::move(steps));
    INT_PTR result = dialog.DoModal();
    EXPECT_EQ(script.Abandoned(), 0) << "the steps left the window open";
    return result;
  }

  UpdateApp app;
  CString terms;
  ObservedAgreement dialog;
};

TEST_F(Agreement, OpensWithTheWholeTextNothingChosenAndOkCancelDisabled) {
  std::string shown;
  bool okEnabled = true, cancelEnabled = true, agreeChecked = true, disagreeChecked = true,
       focusOnAgree = false;
  char caption[64] = {};
  RECT rect{};
  LONG editStyle = 0;
  Drive({[&] { return dialog.paints > 0; },
         [&] {
           int length = GetWindowTextLengthA(Item(IDC_TERMS));
           shown.resize(static_cast<std::size_t>(length) + 1);
           shown.resize(static_cast<std::size_t>(GetWindowTextA(Item(IDC_TERMS), shown.data(), length + 1)));
           okEnabled = Enabled(IDOK);
           cancelEnabled = Enabled(IDCANCEL);
           agreeChecked = Checked(IDC_AGREE);
           disagreeChecked = Checked(IDC_DISAGREE);
           focusOnAgree = GetFocus() == Item(IDC_AGREE);
           GetWindowTextA(dialog.m_hWnd, caption, sizeof caption);
           GetWindowRect(dialog.m_hWnd, &rect);
           editStyle = GetWindowLongA(Item(IDC_TERMS), GWL_STYLE);
         },
         [&] { Escape(); }});
  EXPECT_EQ(shown, std::string(terms));
  EXPECT_EQ(shown.size(), 3675u);
  EXPECT_FALSE(okEnabled);
  EXPECT_FALSE(cancelEnabled);
  EXPECT_FALSE(agreeChecked);
  EXPECT_FALSE(disagreeChecked);
  EXPECT_TRUE(focusOnAgree) << "focus on 同意します。";
  EXPECT_STREQ(caption, "バージョンアップ for Z8KQ");
  POINT centred = CentredOrigin(1024, 738, rect.right - rect.left, rect.bottom - rect.top);
  EXPECT_EQ(rect.left, centred.x);
  EXPECT_EQ(rect.top, centred.y);
  EXPECT_TRUE(editStyle & ES_READONLY);
  EXPECT_TRUE(editStyle & WS_VSCROLL);
}

TEST_F(Agreement, AgreeThenOkAccepts) {
  EXPECT_EQ(Drive({[&] { Click(IDC_AGREE); }, [&] { Click(IDOK); }}), IDOK);
  EXPECT_EQ(dialog.agreed, 1);
}

TEST_F(Agreement, DisagreeThenOkRefuses) {
  EXPECT_EQ(Drive({[&] { Click(IDC_DISAGREE); }, [&] { Click(IDOK); }}), IDCANCEL);
  EXPECT_EQ(dialog.agreed, 0);
}

TEST_F(Agreement, AgreeThenCancelRefusesAndForgetsTheAgreement) {
  EXPECT_EQ(Drive({[&] { Click(IDC_AGREE); }, [&] { Click(IDCANCEL); }}), IDCANCEL);
  EXPECT_EQ(dialog.agreed, 0);
}

TEST_F(Agreement, EscapeRefusesWhateverWasChosen) {
  EXPECT_EQ(Drive({[&] { Click(IDC_AGREE); }, [&] { Escape(); }}), IDCANCEL);
  EXPECT_EQ(dialog.agreed, 0);
  AgreementDialog second(app, terms);
  ModalScript script({[&] { SendMessageA(GetDlgItem(second.m_hWnd, IDC_DISAGREE), BM_CLICK, 0, 0); },
                      [&] { PostMessageA(GetDlgItem(second.m_hWnd, IDC_AGREE), WM_KEYDOWN, VK_ESCAPE, 0); }});
  EXPECT_EQ(second.DoModal(), IDCANCEL);
}

TEST_F(Agreement, ARadioClickEnablesBothButtons) {
  bool afterAgree[2] = {}, afterDisagree[2] = {};
  Drive({[&] {
           Click(IDC_AGREE);
           afterAgree[0] = Enabled(IDOK);
           afterAgree[1] = Enabled(IDCANCEL);
           Repaint();
           Click(IDC_DISAGREE);
           afterDisagree[0] = Enabled(IDOK);
           afterDisagree[1] = Enabled(IDCANCEL);
         },
         [&] { Escape(); }});
  EXPECT_TRUE(afterAgree[0] && afterAgree[1]);
  EXPECT_TRUE(afterDisagree[0] && afterDisagree[1]);
}

TEST_F(Agreement, ARepaintDisablesOkAndCancelAgainAndRefocusesAgree) {
  bool okAfterPaint = true, cancelAfterPaint = true, disagreeStillChecked = false, focusOnAgree = false;
  int agreedAfterPaint = -1;
  INT_PTR result =
      Drive({[&] { Click(IDC_DISAGREE); },
             [&] {
               SetFocus(Item(IDC_DISAGREE));
               Repaint();
               okAfterPaint = Enabled(IDOK);
               cancelAfterPaint = Enabled(IDCANCEL);
               focusOnAgree = GetFocus() == Item(IDC_AGREE);
               disagreeStillChecked = Checked(IDC_DISAGREE);
               agreedAfterPaint = dialog.agreed;
             },
             [&] { Click(IDC_AGREE); }, [&] { Repaint(); }, [&] { Click(IDC_AGREE); }, [&] { Click(IDOK); }});
  EXPECT_FALSE(okAfterPaint);
  EXPECT_FALSE(cancelAfterPaint);
  EXPECT_TRUE(focusOnAgree);
  EXPECT_TRUE(disagreeStillChecked) << "a paint changes no choice";
  EXPECT_EQ(agreedAfterPaint, 0);
  EXPECT_EQ(result, IDOK) << "after a repaint, the next click decides again";
}

TEST_F(Agreement, TheLastClickDecides) {
  EXPECT_EQ(Drive({[&] { Click(IDC_AGREE); }, [&] { Click(IDC_DISAGREE); }, [&] { Click(IDOK); }}), IDCANCEL);
  AgreementDialog again(app, terms);
  HWND window = nullptr;
  ModalScript script({[&] {
                        window = again.m_hWnd;
                        SendMessageA(GetDlgItem(window, IDC_DISAGREE), BM_CLICK, 0, 0);
                      },
                      [&] { SendMessageA(GetDlgItem(window, IDC_AGREE), BM_CLICK, 0, 0); },
                      [&] { SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0); }});
  EXPECT_EQ(again.DoModal(), IDOK);
}

TEST_F(Agreement, TheTextBoxIsWhiteWithOneBrushForTheWindowsLife) {
  LRESULT first = 0, afterPaints = 0, otherControl = 0;
  COLORREF background = 0;
  Drive({[&] {
           HDC dc = CreateCompatibleDC(nullptr);
           SetBkColor(dc, RGB(1, 2, 3));
           auto askFor = [&](int id, UINT message) {
             return SendMessageA(dialog.m_hWnd, message, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(Item(id)));
           };
           first = askFor(IDC_TERMS, WM_CTLCOLORSTATIC);
           background = GetBkColor(dc);
           for (int i = 0; i < 50; ++i) Repaint();
           askFor(IDC_TERMS, WM_CTLCOLOREDIT);
           afterPaints = askFor(IDC_TERMS, WM_CTLCOLORSTATIC);
           otherControl = askFor(IDC_AGREE, WM_CTLCOLORSTATIC);
           DeleteDC(dc);
         },
         [&] { Escape(); }});
  ASSERT_NE(first, 0);
  EXPECT_EQ(afterPaints, first) << "the brush was made afresh";
  EXPECT_EQ(background, RGB(255, 255, 255));
  LOGBRUSH brush{};
  ASSERT_EQ(GetObjectA(reinterpret_cast<HBRUSH>(first), sizeof brush, &brush),
            static_cast<int>(sizeof brush));
  EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
  EXPECT_EQ(brush.lbColor, RGB(255, 255, 255));
  EXPECT_NE(otherControl, first) << "other controls keep the default colours";
  EXPECT_NE(otherControl, 0);
}

}  // namespace
