// The terms window on its real template, driven in-process: the choice, OK, Cancel, Escape,
// repaints, and the white text box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  // The choice as the user sees it, e.g. "OK on, Cancel on, agree (x), disagree ( )".
  std::string Choice() {
    auto on = [&](int id) { return IsWindowEnabled(Item(id)) ? " on" : " off"; };
    auto mark = [&](int id) {
      return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED ? " (x)" : " ( )";
    };
    return std::string("OK") + on(IDOK) + ", Cancel" + on(IDCANCEL) + ", agree" + mark(IDC_AGREE) +
           ", disagree" + mark(IDC_DISAGREE);
  }
  bool FocusOnAgree() { return GetFocus() == Item(IDC_AGREE); }
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

// The presses in order (kEscape: the Escape key), and how the window ends.
constexpr int kEscape = 0;
struct PressCase {
  const char* name;
  std::vector<int> presses;
  INT_PTR result;
  std::int32_t agreed;
};

class AgreementChoice : public Agreement, public ::testing::WithParamInterface<PressCase> {};

TEST_P(AgreementChoice, OnlyAgreeThenOkAccepts) {
  std::vector<ModalScript::Step> steps;
  for (int id : GetParam().presses) steps.push_back([this, id] { id == kEscape ? Escape() : Click(id); });
  EXPECT_EQ(Drive(std::move(steps)), GetParam().result);
  EXPECT_EQ(dialog.agreed, GetParam().agreed);
}

INSTANTIATE_TEST_SUITE_P(
    Presses, AgreementChoice,
    ::testing::Values(PressCase{"AgreeOk", {IDC_AGREE, IDOK}, IDOK, 1},
                      PressCase{"DisagreeOk", {IDC_DISAGREE, IDOK}, IDCANCEL, 0},
                      PressCase{"AgreeCancelForgetsTheAgreement", {IDC_AGREE, IDCANCEL}, IDCANCEL, 0},
                      PressCase{"AgreeEscape", {IDC_AGREE, kEscape}, IDCANCEL, 0},
                      PressCase{"DisagreeEscape", {IDC_DISAGREE, kEscape}, IDCANCEL, 0},
                      PressCase{"AgreeDisagreeOk", {IDC_AGREE, IDC_DISAGREE, IDOK}, IDCANCEL, 0},
                      PressCase{"DisagreeAgreeOk", {IDC_DISAGREE, IDC_AGREE, IDOK}, IDOK, 1}),
    [](const ::testing::TestParamInfo<PressCase>& info) { return std::string(info.param.name); });

// Opens with the whole text and nothing chosen; a choice enables OK and Cancel, and every repaint
// disables them again and puts the focus back on "同意します。" until the user chooses again.
TEST_F(Agreement, OpensAndRepaintsWithOkCancelDisabledUntilAChoice) {
  std::string shown, opened, afterAgree, afterDisagree, afterPaint;
  bool focusOnOpen = false, focusAfterPaint = false;
  char caption[64] = {};
  RECT rect{};
  LONG editStyle = 0;
  int agreedAfterPaint = -1;
  INT_PTR result = Drive(
      {[&] { return dialog.paints > 0; },
       [&] {
         int length = GetWindowTextLengthA(Item(IDC_TERMS));
         shown.resize(static_cast<std::size_t>(length) + 1);
         shown.resize(static_cast<std::size_t>(GetWindowTextA(Item(IDC_TERMS), shown.data(), length + 1)));
         opened = Choice();
         focusOnOpen = FocusOnAgree();
         GetWindowTextA(dialog.m_hWnd, caption, sizeof caption);
         GetWindowRect(dialog.m_hWnd, &rect);
         editStyle = GetWindowLongA(Item(IDC_TERMS), GWL_STYLE);
       },
       [&] {
         Click(IDC_AGREE);
         afterAgree = Choice();
         Repaint();
         Click(IDC_DISAGREE);
         afterDisagree = Choice();
       },
       [&] {
         SetFocus(Item(IDC_DISAGREE));
         Repaint();
         afterPaint = Choice();
         focusAfterPaint = FocusOnAgree();
         agreedAfterPaint = dialog.agreed;
       },
       [&] { Click(IDC_AGREE); }, [&] { Repaint(); }, [&] { Click(IDC_AGREE); }, [&] { Click(IDOK); }});
  EXPECT_EQ(shown, std::string(terms));
  EXPECT_EQ(shown.size(), 3675u);
  EXPECT_EQ(opened, "OK off, Cancel off, agree ( ), disagree ( )");
  EXPECT_TRUE(focusOnOpen);
  EXPECT_STREQ(caption, "バージョンアップ for Z8KQ");
  POINT centred = CentredOrigin(1024, 738, rect.right - rect.left, rect.bottom - rect.top);
  EXPECT_EQ(rect.left, centred.x);
  EXPECT_EQ(rect.top, centred.y);
  EXPECT_TRUE(editStyle & ES_READONLY);
  EXPECT_TRUE(editStyle & WS_VSCROLL);
  EXPECT_EQ(afterAgree, "OK on, Cancel on, agree (x), disagree ( )");
  EXPECT_EQ(afterDisagree, "OK on, Cancel on, agree ( ), disagree (x)");
  EXPECT_EQ(afterPaint, "OK off, Cancel off, agree ( ), disagree (x)") << "a paint changes no choice";
  EXPECT_TRUE(focusAfterPaint);
  EXPECT_EQ(agreedAfterPaint, 0);
  EXPECT_EQ(result, IDOK) << "after a repaint, the next click decides again";
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
