// The framework under Wine, on the tests' own template and strings, where the windows' own tests do
// not show it: CDialog, CString's loading, CWinApp and the entry point.
#include <gtest/gtest.h>

#include <string>

#include "framework/Framework.h"
#include "framework/tests/TestIds.h"
#include "tests/support/ModalScript.h"

namespace {

class FormDialog : public CDialog {
 public:
  FormDialog() : CDialog(IDD_TEST_FORM) {}
  CString text, note;
  CEdit textEdit;
  int okCalls = 0, cancelCalls = 0, pushes = 0;
  std::string colours;  // the kind of each colour request for the text box

 protected:
  void DoDataExchange(CDataExchange* exchange) override {
    DDX_Control(exchange, IDC_TEST_TEXT, textEdit);
    DDX_Text(exchange, IDC_TEST_TEXT, text);
    DDX_Text(exchange, IDC_TEST_NOTE, note);
  }
  void OnOK() override { ++okCalls, CDialog::OnOK(); }
  void OnCancel() override { ++cancelCalls, CDialog::OnCancel(); }
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {Map::CtlColor<&FormDialog::OnCtlColor>(),
                                                  Map::Clicked<IDC_TEST_PUSH, &FormDialog::OnPush>()};
    static const MessageMap map(CDialog::GetMessageMap(), entries);
    return &map;
  }
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control == textEdit.m_hWnd) colours += std::to_string(kind);
    return CDialog::OnCtlColor(dc, control, kind);
  }
  void OnPush() { ++pushes; }
};

TEST(Dialog, BindsEachWindowItMakesAndDestroysOneStillOpenWhenItGoes) {
  HWND window;
  {
    FormDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM));
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM));
    window = dialog.m_hWnd;
    EXPECT_EQ(dialog.textEdit.m_hWnd, GetDlgItem(window, IDC_TEST_TEXT)) << "controls bound afresh";
  }
  EXPECT_FALSE(IsWindow(window)) << "the object destroys a window still open";
}

TEST(Dialog, OnlyOkTakesTheControlsText) {
  for (int button : {IDOK, IDCANCEL}) {
    FormDialog dialog;
    ModalScript script({[&] { SetDlgItemTextA(dialog.m_hWnd, IDC_TEST_TEXT, "後の文字列"); },
                        [&] { SendMessageA(dialog.GetDlgItem(button), BM_CLICK, 0, 0); }});
    EXPECT_EQ(dialog.DoModal(), button);
    EXPECT_STREQ(dialog.text, button == IDOK ? "後の文字列" : "");
  }
}

// The other entries reach their members in the windows' own tests.
TEST(Dialog, RoutesOnlyAClickToAClickEntryAndEveryColourRequestWithItsKind) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM));
  for (WPARAM command : {MAKEWPARAM(IDC_TEST_PUSH, 1), MAKEWPARAM(IDC_TEST_TEXT, BN_CLICKED),
                         MAKEWPARAM(IDOK, 1), MAKEWPARAM(IDC_TEST_PUSH, BN_CLICKED)})
    SendMessageA(dialog.m_hWnd, WM_COMMAND, command, 0);
  EXPECT_EQ(dialog.pushes, 1);
  EXPECT_EQ(dialog.okCalls, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  for (UINT message = WM_CTLCOLORMSGBOX; message <= WM_CTLCOLORSTATIC; ++message)
    SendMessageA(dialog.m_hWnd, message, WPARAM(dc), LPARAM(dialog.textEdit.m_hWnd));
  DeleteDC(dc);
  EXPECT_EQ(dialog.colours, "0123456");  // CTLCOLOR_MSGBOX .. CTLCOLOR_STATIC
}

int setTexts = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK CountingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  setTexts += message == WM_SETTEXT;
  return CallWindowProcA(editProc, window, message, wParam, lParam);
}

TEST(Dialog, SetsOnlyAChangedTextAndMovesMultibyteTextWhole) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM));
  HWND edit = dialog.GetDlgItem(IDC_TEST_TEXT);
  editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(edit, GWLP_WNDPROC, LONG_PTR(&CountingEdit)));
  dialog.UpdateData(FALSE);
  dialog.text = "別の文字列";
  dialog.UpdateData(FALSE);
  EXPECT_EQ(setTexts, 1) << "an unchanged text is not set again, so the control is not redrawn";

  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "ｱ漢字\r\n";  // 1 + 4 + 2 bytes a line
  dialog.note = longText.c_str();
  dialog.UpdateData(FALSE);
  dialog.note = "";
  dialog.UpdateData(TRUE);
  EXPECT_EQ(std::string(dialog.note), longText);
}

TEST(Dialog, TheWaitCursorShowsRestoresAndEndsWithoutNesting) {
  FormDialog dialog;
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT), arrow = LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
  SetCursor(cross);
  dialog.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), cross) << "nothing to restore before Begin";
  dialog.BeginWaitCursor();
  SetCursor(arrow);  // as a dispatched message might
  dialog.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  dialog.BeginWaitCursor();
  dialog.EndWaitCursor();
  EXPECT_EQ(GetCursor(), cross) << "one End ends any number of Begins, back to the cursor before";
  SetCursor(arrow);
  dialog.RestoreWaitCursor();
  dialog.EndWaitCursor();
  EXPECT_EQ(GetCursor(), arrow) << "nothing to restore or end after the End";
}

TEST(String, LoadsAStringOfAnyLengthAndEmptiesItselfForAMissingOne) {
  ASSERT_EQ(GetACP(), 932u) << "the tests run with the Japanese locale";
  CString text;
  EXPECT_TRUE(text.LoadString(IDS_TEST_SHORT));
  EXPECT_STREQ(text, "バージョン情報(&A)...");
  EXPECT_TRUE(text.LoadString(IDS_TEST_LONG));
  std::string expected = "長い文字列：";
  for (int i = 0; i < 15; ++i) expected += "一二三四五六七八九十";
  EXPECT_EQ(std::string(text), expected + "おわり") << "longer than the first buffer";
  EXPECT_FALSE(text.LoadString(IDS_TEST_MISSING));
  EXPECT_TRUE(text.IsEmpty());
}

struct CountingApp : CWinApp {
  explicit CountingApp(BOOL result) : result(result) {}
  BOOL InitInstance() override {
    if (result) PostQuitMessage(7);
    return ++calls, result;
  }
  BOOL result;
  int calls = 0;
};

// The first object is the program's until it goes; TRUE goes on to the loop, whose quit code WinMain returns.
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

}  // namespace
