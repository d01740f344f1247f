// CDialog under Wine: creation and binding, modal runs, message maps, command routing, data
// exchange and the wait cursor, on the tests' own templates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Framework.h"
#include "framework/tests/ModalScript.h"
#include "framework/tests/TestIds.h"

namespace {

// Records what reached it; a click on IDC_TEST_PUSH and every mappable message are mapped.
class FormDialog : public CDialog {
 public:
  explicit FormDialog(UINT templateId = IDD_TEST_FORM) : CDialog(templateId) {}

  CString text;
  CString note;
  CEdit textEdit;
  CProgressCtrl progress;
  int initCalls = 0;
  HWND windowAtInit = nullptr;
  bool destroyInInit = false;
  std::vector<std::string> seen;
  UINT lastColourKind = 0xFFFF;
  HWND lastColourControl = nullptr;
  HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
  bool passSysCommands = false;
  int okCalls = 0;
  int cancelCalls = 0;

  ~FormDialog() override { DeleteObject(brush); }

  using CDialog::BeginWaitCursor;
  using CDialog::EndWaitCursor;
  using CDialog::RestoreWaitCursor;

 protected:
  BOOL OnInitDialog() override {
    ++initCalls;
    windowAtInit = m_hWnd;
    CDialog::OnInitDialog();
    if (destroyInInit) ::DestroyWindow(m_hWnd);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* exchange) override {
    DDX_Control(exchange, IDC_TEST_TEXT, textEdit);
    DDX_Control(exchange, IDC_TEST_PROGRESS, progress);
    DDX_Text(exchange, IDC_TEST_TEXT, text);
    DDX_Text(exchange, IDC_TEST_NOTE, note);
  }
  void OnOK() override {
    ++okCalls;
    CDialog::OnOK();
  }
  void OnCancel() override {
    ++cancelCalls;
    CDialog::OnCancel();
  }
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {
        Map::Timer<&FormDialog::OnTimer>(),
        Map::Paint<&FormDialog::OnPaint>(),
        Map::CtlColor<&FormDialog::OnCtlColor>(),
        Map::SysCommand<&FormDialog::OnSysCommand>(),
        Map::QueryDragIcon<&FormDialog::OnQueryDragIcon>(),
        Map::Clicked<IDC_TEST_PUSH, &FormDialog::OnPush>(),
    };
    static const MessageMap map(CDialog::GetMessageMap(), entries);
    return &map;
  }

  void OnTimer(UINT_PTR id) {
    seen.push_back("timer " + std::to_string(id));
    CDialog::OnTimer(id);
  }
  void OnPaint() {
    seen.push_back("paint");
    CDialog::OnPaint();
  }
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) {
    lastColourKind = kind;
    lastColourControl = control;
    CDialog::OnCtlColor(dc, control, kind);
    return brush;
  }
  void OnSysCommand(UINT id, LPARAM lParam) {
    seen.push_back("syscommand " + std::to_string(id));
    if (passSysCommands) CDialog::OnSysCommand(id, lParam);
  }
  HCURSOR OnQueryDragIcon() {
    seen.push_back("dragicon");
    return reinterpret_cast<HCURSOR>(brush);  // any recognisable handle
  }
  void OnPush() { seen.push_back("push"); }
};

// A derived class whose own map takes WM_TIMER and leaves the rest to the base's map.
class OverridingDialog : public FormDialog {
 public:
  int ownTimers = 0;

 protected:
  const MessageMap* GetMessageMap() const override {
    static constexpr MessageMapEntry entries[] = {Map::Timer<&OverridingDialog::OnOwnTimer>()};
    static const MessageMap map(FormDialog::GetMessageMap(), entries);
    return &map;
  }
  void OnOwnTimer(UINT_PTR) { ++ownTimers; }
};

// No map of its own: everything goes to default processing.
class PlainDialog : public CDialog {
 public:
  PlainDialog() : CDialog(IDD_TEST_FORM) {}
};

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

TEST(DialogCreate, BindsTheObjectToItsWindowAndLetsGoWhenDestroyed) {
  FormDialog dialog;
  dialog.text = "初期値";
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HWND window = dialog.m_hWnd;
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(dialog.initCalls, 1);
  EXPECT_EQ(dialog.windowAtInit, window);
  EXPECT_EQ(GetWindowLongPtrA(window, DWLP_USER), reinterpret_cast<LONG_PTR>(&dialog));
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  EXPECT_FALSE(IsWindowVisible(window)) << "the template has no WS_VISIBLE";
  char shown[64] = {};
  GetDlgItemTextA(window, IDC_TEST_TEXT, shown, sizeof shown);
  EXPECT_STREQ(shown, "初期値") << "OnInitDialog's first exchange goes towards the controls";
  EXPECT_EQ(dialog.textEdit.m_hWnd, GetDlgItem(window, IDC_TEST_TEXT));

  EXPECT_TRUE(dialog.DestroyWindow());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  EXPECT_EQ(dialog.initCalls, 1);
}

namespace {
int setTextCalls = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK CountingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) ++setTextCalls;
  return CallWindowProcA(editProc, window, message, wParam, lParam);
}
}  // namespace

TEST(DialogCreate, ATextExchangedAgainUnchangedLeavesTheControlAlone) {
  FormDialog dialog;
  dialog.text = "同じ文字列";
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HWND edit = GetDlgItem(dialog.m_hWnd, IDC_TEST_TEXT);
  editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingEdit)));
  setTextCalls = 0;
  dialog.UpdateData(FALSE);
  EXPECT_EQ(setTextCalls, 0) << "an unchanged text is not set again, so the control is not redrawn";
  dialog.text = "別の文字列";
  dialog.UpdateData(FALSE);
  EXPECT_EQ(setTextCalls, 1);
  char shown[64] = {};
  GetWindowTextA(edit, shown, sizeof shown);
  EXPECT_STREQ(shown, "別の文字列");
  SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editProc));
}

TEST(DialogCreate, FailsWithoutAWindowWhenTheTemplateIsMissingOrTheWindowDiesAtBirth) {
  FormDialog missing;
  EXPECT_FALSE(missing.Create(IDD_TEST_MISSING, nullptr));
  EXPECT_EQ(missing.m_hWnd, nullptr);
  EXPECT_EQ(missing.initCalls, 0);

  FormDialog dying;
  dying.destroyInInit = true;
  EXPECT_FALSE(dying.Create(IDD_TEST_FORM, nullptr));
  EXPECT_EQ(dying.m_hWnd, nullptr);
  EXPECT_EQ(dying.initCalls, 1);
}

TEST(DialogCreate, TheObjectDestroysAWindowStillOpen) {
  HWND window;
  {
    FormDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
    window = dialog.m_hWnd;
  }
  EXPECT_FALSE(IsWindow(window));
}

TEST(DialogCreate, ASecondWindowOfTheSameObjectRebindsItsControls) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  dialog.DestroyWindow();
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  EXPECT_EQ(dialog.progress.m_hWnd, GetDlgItem(dialog.m_hWnd, IDC_TEST_PROGRESS));
  EXPECT_TRUE(IsWindow(dialog.progress.m_hWnd));
}

TEST(DialogModal, ReturnsWhatEndDialogWasGiven) {
  FormDialog dialog;
  ModalScript script({[&] { dialog.EndDialog(4711); }});
  EXPECT_EQ(dialog.DoModal(), 4711);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  EXPECT_EQ(script.Abandoned(), 0);
}

TEST(DialogModal, ReturnsMinusOneWhenTheTemplateIsMissing) {
  FormDialog dialog(IDD_TEST_MISSING);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(dialog.initCalls, 0);
}

TEST(DialogModal, OkTakesTheControlsTextAndCancelLeavesTheMember) {
  FormDialog accepted;
  accepted.text = "前";
  ModalScript acceptScript({
      [&] { SetDlgItemTextA(accepted.m_hWnd, IDC_TEST_TEXT, "後の文字列"); },
      [&] { SendMessageA(GetDlgItem(accepted.m_hWnd, IDOK), BM_CLICK, 0, 0); },
  });
  EXPECT_EQ(accepted.DoModal(), IDOK);
  EXPECT_STREQ(accepted.text, "後の文字列");
  EXPECT_EQ(accepted.okCalls, 1);

  FormDialog refused;
  refused.text = "前";
  ModalScript refuseScript({
      [&] { SetDlgItemTextA(refused.m_hWnd, IDC_TEST_TEXT, "捨てる"); },
      [&] { SendMessageA(GetDlgItem(refused.m_hWnd, IDCANCEL), BM_CLICK, 0, 0); },
  });
  EXPECT_EQ(refused.DoModal(), IDCANCEL);
  EXPECT_STREQ(refused.text, "前");
  EXPECT_EQ(refused.cancelCalls, 1);
}

TEST(DialogModal, EscapeAndEnterGoThroughTheDialogManager) {
  FormDialog escaped;
  // To a control of the window, as the keyboard would: Wine may leave an inactive window's focus
  // nowhere.
  ModalScript escapeScript(
      {[&] { PostMessageA(GetDlgItem(escaped.m_hWnd, IDC_TEST_TEXT), WM_KEYDOWN, VK_ESCAPE, 0); }});
  EXPECT_EQ(escaped.DoModal(), IDCANCEL);
  EXPECT_EQ(escaped.cancelCalls, 1);

  FormDialog entered;
  ModalScript enterScript(
      {[&] { PostMessageA(GetDlgItem(entered.m_hWnd, IDC_TEST_TEXT), WM_KEYDOWN, VK_RETURN, 0); }});
  EXPECT_EQ(entered.DoModal(), IDOK);
  EXPECT_EQ(entered.okCalls, 1);
}

TEST(DialogMessageMap, RoutesEachMappedMessageToItsMember) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HWND window = dialog.m_hWnd;
  dialog.seen.clear();

  SendMessageA(window, WM_TIMER, 7, 0);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_TEST_PUSH, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_TEST_PUSH)));
  SendMessageA(window, WM_SYSCOMMAND, 16, 0);
  LRESULT icon = SendMessageA(window, WM_QUERYDRAGICON, 0, 0);
  EXPECT_EQ(icon, reinterpret_cast<LRESULT>(dialog.brush));
  EXPECT_EQ(dialog.seen, (std::vector<std::string>{"timer 7", "push", "syscommand 16", "dragicon"}));

  dialog.seen.clear();
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"paint"});
}

TEST(DialogMessageMap, EveryColourRequestReachesOneMemberWithItsKind) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HWND edit = GetDlgItem(dialog.m_hWnd, IDC_TEST_TEXT);
  HDC dc = CreateCompatibleDC(nullptr);
  const UINT kinds[][2] = {{WM_CTLCOLOREDIT, CTLCOLOR_EDIT},       {WM_CTLCOLORSTATIC, CTLCOLOR_STATIC},
                           {WM_CTLCOLORBTN, CTLCOLOR_BTN},         {WM_CTLCOLORDLG, CTLCOLOR_DLG},
                           {WM_CTLCOLORLISTBOX, CTLCOLOR_LISTBOX}, {WM_CTLCOLORSCROLLBAR, CTLCOLOR_SCROLLBAR},
                           {WM_CTLCOLORMSGBOX, CTLCOLOR_MSGBOX}};
  for (const auto& kind : kinds) {
    LRESULT brush =
        SendMessageA(dialog.m_hWnd, kind[0], reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(dialog.brush)) << kind[0];
    EXPECT_EQ(dialog.lastColourKind, kind[1]);
    EXPECT_EQ(dialog.lastColourControl, edit);
  }
  DeleteDC(dc);
}

TEST(DialogMessageMap, UnmappedMessagesGetDefaultProcessing) {
  PlainDialog plain;
  ASSERT_TRUE(plain.Create(IDD_TEST_FORM, nullptr));
  HWND edit = GetDlgItem(plain.m_hWnd, IDC_TEST_TEXT);
  HDC dc = CreateCompatibleDC(nullptr);
  LRESULT brush = SendMessageA(plain.m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(edit));
  LRESULT expected = DefWindowProcA(plain.m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(edit));
  EXPECT_NE(brush, 0);
  EXPECT_EQ(brush, expected);
  DeleteDC(dc);
}

TEST(DialogMessageMap, ADerivedMapComesFirstAndChainsToItsBase) {
  OverridingDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  dialog.seen.clear();
  SendMessageA(dialog.m_hWnd, WM_TIMER, 1, 0);
  SendMessageA(dialog.m_hWnd, WM_TIMER, 2, 0);
  SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, 32, 0);
  EXPECT_EQ(dialog.ownTimers, 2);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"syscommand 32"});
}

TEST(DialogMessageMap, ABaseHandlerCalledFromAMemberRunsDefaultProcessing) {
  // SC_CLOSE's default processing sends WM_CLOSE, which the dialog manager turns into IDCANCEL.
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
  EXPECT_EQ(dialog.cancelCalls, 0) << "the member kept the command to itself";

  dialog.passSysCommands = true;
  SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
  EXPECT_EQ(dialog.cancelCalls, 1);
}

TEST(DialogCommands, OnlyAClickReachesAClickEntry) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  dialog.seen.clear();
  SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_PUSH, 1), 0);
  SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_TEXT, BN_CLICKED), 0);
  SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
  EXPECT_TRUE(dialog.seen.empty());
  EXPECT_EQ(dialog.okCalls, 0);
  SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_PUSH, BN_CLICKED), 0);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"push"});
}

TEST(DialogDataExchange, MovesMultibyteTextBothWaysWhole) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "ｱ漢字\r\n";  // 1 + 4 + 2 bytes a line
  dialog.note = longText.c_str();
  dialog.UpdateData(FALSE);
  dialog.note = "";
  dialog.UpdateData(TRUE);
  EXPECT_EQ(dialog.note.GetLength(), 2100);
  EXPECT_EQ(std::string(dialog.note), longText);
}

TEST(DialogDataExchange, FindsAControlMadeAgainUnderTheSameIdentifier) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HWND first = dialog.ControlWindow(IDC_TEST_NOTE);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(dialog.ControlWindow(IDC_TEST_NOTE), first);
  EXPECT_EQ(dialog.ControlWindow(0x7ABC), nullptr);

  RECT place;
  GetWindowRect(first, &place);
  MapWindowPoints(nullptr, dialog.m_hWnd, reinterpret_cast<POINT*>(&place), 2);
  DestroyWindow(first);
  HWND second =
      CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, place.left, place.top, place.right - place.left,
                      place.bottom - place.top, dialog.m_hWnd,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TEST_NOTE)), nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  dialog.note = "新しい欄";
  dialog.UpdateData(FALSE);
  char shown[32] = {};
  GetWindowTextA(second, shown, sizeof shown);
  EXPECT_STREQ(shown, "新しい欄");
  EXPECT_EQ(dialog.ControlWindow(IDC_TEST_NOTE), second);
}

TEST(DialogWaitCursor, ShowsRestoresAndEndsWithoutNesting) {
  FormDialog dialog;
  ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
  SetCursor(cross);

  dialog.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), cross) << "nothing to restore before Begin";

  dialog.BeginWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  SetCursor(arrow);  // as a dispatched message might
  dialog.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  dialog.BeginWaitCursor();
  dialog.BeginWaitCursor();

  dialog.EndWaitCursor();
  EXPECT_EQ(GetCursor(), cross) << "one End ends any number of Begins, back to the cursor before";
  dialog.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), cross);
  SetCursor(arrow);
  dialog.EndWaitCursor();
  EXPECT_EQ(GetCursor(), arrow) << "a second End does nothing";
}

}  // namespace
