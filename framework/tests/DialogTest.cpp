// CDialog under Wine, on the tests' own template: creation and binding, OK's data exchange, what
// the message map routes that the windows' own tests do not show, data exchange, the wait cursor.
#include <gtest/gtest.h>

#include <string>

#include "framework/Framework.h"
#include "framework/tests/ModalScript.h"
#include "framework/tests/TestIds.h"

namespace {

class FormDialog : public CDialog {
 public:
  FormDialog() : CDialog(IDD_TEST_FORM) {}
  CString text, note;
  CEdit textEdit;
  int okCalls = 0, cancelCalls = 0, pushes = 0;
  bool destroyInInit = false, passSysCommands = false;
  std::string colours;  // the kind of each colour request for the text box

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (destroyInInit) ::DestroyWindow(m_hWnd);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* exchange) override {
    DDX_Control(exchange, IDC_TEST_TEXT, textEdit);
    DDX_Text(exchange, IDC_TEST_TEXT, text);
    DDX_Text(exchange, IDC_TEST_NOTE, note);
  }
  void OnOK() override { ++okCalls, CDialog::OnOK(); }
  void OnCancel() override { ++cancelCalls, CDialog::OnCancel(); }
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {Map::CtlColor<&FormDialog::OnCtlColor>(),
                                                  Map::SysCommand<&FormDialog::OnSysCommand>(),
                                                  Map::Clicked<IDC_TEST_PUSH, &FormDialog::OnPush>()};
    static const MessageMap map(CDialog::GetMessageMap(), entries);
    return &map;
  }
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control == textEdit.m_hWnd) colours += std::to_string(kind);
    return CDialog::OnCtlColor(dc, control, kind);
  }
  void OnSysCommand(UINT id, LPARAM lParam) {
    if (passSysCommands) CDialog::OnSysCommand(id, lParam);
  }
  void OnPush() { ++pushes; }
};

TEST(Dialog, BindsEachWindowItMakesAndDestroysOneStillOpenWhenItGoes) {
  HWND window;
  {
    FormDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
    window = dialog.m_hWnd;
    EXPECT_EQ(dialog.textEdit.m_hWnd, GetDlgItem(window, IDC_TEST_TEXT)) << "controls bound afresh";
  }
  EXPECT_FALSE(IsWindow(window)) << "the object destroys a window still open";
  FormDialog dying;
  dying.destroyInInit = true;
  EXPECT_FALSE(dying.Create(IDD_TEST_FORM, nullptr));
  EXPECT_EQ(dying.m_hWnd, nullptr);
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
TEST(Dialog, RoutesOnlyAClickToAClickEntryEveryColourRequestWithItsKindAndDefaultsOnRequest) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM));
  auto send = [&](UINT message, WPARAM wParam, LPARAM lParam = 0) {
    return SendMessageA(dialog.m_hWnd, message, wParam, lParam);
  };
  for (WPARAM command : {MAKEWPARAM(IDC_TEST_PUSH, 1), MAKEWPARAM(IDC_TEST_TEXT, BN_CLICKED),
                         MAKEWPARAM(IDOK, 1), MAKEWPARAM(IDC_TEST_PUSH, BN_CLICKED)})
    send(WM_COMMAND, command);
  EXPECT_EQ(dialog.pushes, 1);
  EXPECT_EQ(dialog.okCalls, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  for (UINT message = WM_CTLCOLORMSGBOX; message <= WM_CTLCOLORSTATIC; ++message)
    send(message, WPARAM(dc), LPARAM(dialog.textEdit.m_hWnd));
  DeleteDC(dc);
  EXPECT_EQ(dialog.colours, "0123456");  // CTLCOLOR_MSGBOX .. CTLCOLOR_STATIC
  // SC_CLOSE's default processing sends WM_CLOSE, which the dialog manager turns into IDCANCEL.
  for (bool pass : {false, true}) {
    dialog.passSysCommands = pass;
    send(WM_SYSCOMMAND, SC_CLOSE);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    EXPECT_EQ(dialog.cancelCalls, pass ? 1 : 0)
        << "only a member that calls the base gets default processing";
  }
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
  char shown[64] = {};
  GetWindowTextA(edit, shown, sizeof shown);
  EXPECT_STREQ(shown, "別の文字列");

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

}  // namespace
