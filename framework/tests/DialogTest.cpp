// CDialog and the control classes under Wine: creation and binding, modal runs, message maps,
// command routing, data exchange, the wait cursor, and each control operation reaching its
// control, on the tests' own templates.
#include <gtest/gtest.h>

#include <functional>
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
  CAnimateCtrl animation;
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
    DDX_Control(exchange, IDC_TEST_ANIMATION, animation);
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

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

std::string TextOf(HWND window) {
  char buffer[64] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// A window of D made modeless from the form template for each test.
template <class D>
class Made : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr)); }
  HWND Item(int id) { return GetDlgItem(dialog.m_hWnd, id); }
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(dialog.m_hWnd, message, wParam, lParam);
  }
  D dialog;
};
using Dialog = Made<FormDialog>;
using DerivedDialog = Made<OverridingDialog>;

TEST(DialogLifetime, BindsEachWindowItMakesAndDestroysOneStillOpenWhenItGoes) {
  HWND window;
  {
    FormDialog dialog;
    dialog.text = "初期値";
    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
    window = dialog.m_hWnd;
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(dialog.initCalls, 1);
    EXPECT_EQ(dialog.windowAtInit, window);
    EXPECT_EQ(GetWindowLongPtrA(window, DWLP_USER), reinterpret_cast<LONG_PTR>(&dialog));
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    EXPECT_FALSE(IsWindowVisible(window)) << "the template has no WS_VISIBLE";
    EXPECT_EQ(TextOf(GetDlgItem(window, IDC_TEST_TEXT)), "初期値")
        << "OnInitDialog's first exchange goes towards the controls";
    EXPECT_EQ(dialog.textEdit.m_hWnd, GetDlgItem(window, IDC_TEST_TEXT));

    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog.m_hWnd, nullptr);

    ASSERT_TRUE(dialog.Create(IDD_TEST_FORM, nullptr));
    window = dialog.m_hWnd;
    EXPECT_EQ(dialog.initCalls, 2);
    EXPECT_EQ(dialog.progress.m_hWnd, GetDlgItem(window, IDC_TEST_PROGRESS)) << "controls bound afresh";
    EXPECT_TRUE(IsWindow(dialog.progress.m_hWnd));
  }
  EXPECT_FALSE(IsWindow(window)) << "the object destroys a window still open";
}

TEST(DialogLifetime, NoWindowWhenTheTemplateIsMissingOrTheWindowDiesAtBirth) {
  FormDialog missing(IDD_TEST_MISSING);
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_FALSE(missing.Create(IDD_TEST_MISSING, nullptr));
  EXPECT_EQ(missing.m_hWnd, nullptr);
  EXPECT_EQ(missing.initCalls, 0);

  FormDialog dying;
  dying.destroyInInit = true;
  EXPECT_FALSE(dying.Create(IDD_TEST_FORM, nullptr));
  EXPECT_EQ(dying.m_hWnd, nullptr);
  EXPECT_EQ(dying.initCalls, 1);
}

TEST(DialogModal, EndsWithTheAnswerGivenAndOnlyOkTakesTheControlsText) {
  auto click = [](int id) { return [id](FormDialog& d) { SendMessageA(d.GetDlgItem(id), BM_CLICK, 0, 0); }; };
  // To a control of the window, as the keyboard would: Wine may leave an inactive window's focus
  // nowhere. The dialog manager turns the key into the command.
  auto key = [](WPARAM key) {
    return [key](FormDialog& d) { PostMessageA(d.GetDlgItem(IDC_TEST_TEXT), WM_KEYDOWN, key, 0); };
  };
  struct {
    const char* name;
    std::function<void(FormDialog&)> act;
    INT_PTR result;
    int oks, cancels;
  } const cases[] = {
      {"OK", click(IDOK), IDOK, 1, 0},
      {"Cancel", click(IDCANCEL), IDCANCEL, 0, 1},
      {"Enter", key(VK_RETURN), IDOK, 1, 0},
      {"Escape", key(VK_ESCAPE), IDCANCEL, 0, 1},
      {"EndDialog", [](FormDialog& d) { d.EndDialog(4711); }, 4711, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FormDialog dialog;
    dialog.text = "前";
    ModalScript script(
        {[&] { SetDlgItemTextA(dialog.m_hWnd, IDC_TEST_TEXT, "後の文字列"); }, [&] { c.act(dialog); }});
    EXPECT_EQ(dialog.DoModal(), c.result);
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_STREQ(dialog.text, c.result == IDOK ? "後の文字列" : "前");
    EXPECT_EQ(dialog.okCalls, c.oks);
    EXPECT_EQ(dialog.cancelCalls, c.cancels);
    EXPECT_EQ(script.Abandoned(), 0);
  }
}

TEST_F(Dialog, RoutesEachMappedMessageToItsMemberAndOnlyAClickToAClickEntry) {
  dialog.seen.clear();
  Send(WM_COMMAND, MAKEWPARAM(IDC_TEST_PUSH, 1));
  Send(WM_COMMAND, MAKEWPARAM(IDC_TEST_TEXT, BN_CLICKED));
  Send(WM_COMMAND, MAKEWPARAM(IDOK, 1));
  EXPECT_EQ(dialog.okCalls, 0);

  Send(WM_TIMER, 7);
  Send(WM_COMMAND, MAKEWPARAM(IDC_TEST_PUSH, BN_CLICKED), reinterpret_cast<LPARAM>(Item(IDC_TEST_PUSH)));
  Send(WM_SYSCOMMAND, 16);
  EXPECT_EQ(Send(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(dialog.brush));
  EXPECT_EQ(dialog.seen, (std::vector<std::string>{"timer 7", "push", "syscommand 16", "dragicon"}));

  dialog.seen.clear();
  ShowWindow(dialog.m_hWnd, SW_SHOW);
  UpdateWindow(dialog.m_hWnd);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"paint"});
}

TEST_F(Dialog, EveryColourRequestReachesOneMemberWithItsKindAndUnmappedOnesGetDefaultProcessing) {
  HWND edit = Item(IDC_TEST_TEXT);
  HDC dc = CreateCompatibleDC(nullptr);
  const UINT kinds[][2] = {{WM_CTLCOLOREDIT, CTLCOLOR_EDIT},       {WM_CTLCOLORSTATIC, CTLCOLOR_STATIC},
                           {WM_CTLCOLORBTN, CTLCOLOR_BTN},         {WM_CTLCOLORDLG, CTLCOLOR_DLG},
                           {WM_CTLCOLORLISTBOX, CTLCOLOR_LISTBOX}, {WM_CTLCOLORSCROLLBAR, CTLCOLOR_SCROLLBAR},
                           {WM_CTLCOLORMSGBOX, CTLCOLOR_MSGBOX}};
  for (const auto& kind : kinds) {
    LRESULT brush = Send(kind[0], reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(dialog.brush)) << kind[0];
    EXPECT_EQ(dialog.lastColourKind, kind[1]);
    EXPECT_EQ(dialog.lastColourControl, edit);
  }

  CDialog plain(IDD_TEST_FORM);  // no map of its own: default processing
  ASSERT_TRUE(plain.Create(IDD_TEST_FORM, nullptr));
  auto wParam = reinterpret_cast<WPARAM>(dc);
  auto lParam = reinterpret_cast<LPARAM>(plain.GetDlgItem(IDC_TEST_TEXT));
  LRESULT brush = SendMessageA(plain.m_hWnd, WM_CTLCOLOREDIT, wParam, lParam);
  EXPECT_NE(brush, 0);
  EXPECT_EQ(brush, DefWindowProcA(plain.m_hWnd, WM_CTLCOLOREDIT, wParam, lParam));
  DeleteDC(dc);
}

TEST_F(DerivedDialog, ItsOwnMapComesFirstAndChainsToItsBase) {
  dialog.seen.clear();
  Send(WM_TIMER, 1);
  Send(WM_TIMER, 2);
  Send(WM_SYSCOMMAND, 32);
  EXPECT_EQ(dialog.ownTimers, 2);
  EXPECT_EQ(dialog.seen, std::vector<std::string>{"syscommand 32"});
}

TEST_F(Dialog, ABaseHandlerCalledFromAMemberRunsDefaultProcessing) {
  // SC_CLOSE's default processing sends WM_CLOSE, which the dialog manager turns into IDCANCEL.
  Send(WM_SYSCOMMAND, SC_CLOSE);
  Pump();
  EXPECT_EQ(dialog.cancelCalls, 0) << "the member kept the command to itself";
  dialog.passSysCommands = true;
  Send(WM_SYSCOMMAND, SC_CLOSE);
  Pump();
  EXPECT_EQ(dialog.cancelCalls, 1);
}

namespace {
int setTextCalls = 0;
WNDPROC editProc = nullptr;
LRESULT CALLBACK CountingEdit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) ++setTextCalls;
  return CallWindowProcA(editProc, window, message, wParam, lParam);
}
}  // namespace

TEST_F(Dialog, ATextExchangedAgainUnchangedLeavesTheControlAlone) {
  dialog.text = "同じ文字列";
  dialog.UpdateData(FALSE);
  HWND edit = Item(IDC_TEST_TEXT);
  editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingEdit)));
  setTextCalls = 0;
  dialog.UpdateData(FALSE);
  EXPECT_EQ(setTextCalls, 0) << "an unchanged text is not set again, so the control is not redrawn";
  dialog.text = "別の文字列";
  dialog.UpdateData(FALSE);
  EXPECT_EQ(setTextCalls, 1);
  EXPECT_EQ(TextOf(edit), "別の文字列");
  SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editProc));
}

TEST_F(Dialog, MovesMultibyteTextBothWaysWhole) {
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += "ｱ漢字\r\n";  // 1 + 4 + 2 bytes a line
  dialog.note = longText.c_str();
  dialog.UpdateData(FALSE);
  dialog.note = "";
  dialog.UpdateData(TRUE);
  EXPECT_EQ(dialog.note.GetLength(), 2100);
  EXPECT_EQ(std::string(dialog.note), longText);
}

TEST_F(Dialog, FindsAControlMadeAgainUnderTheSameIdentifier) {
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
  EXPECT_EQ(TextOf(second), "新しい欄");
  EXPECT_EQ(dialog.ControlWindow(IDC_TEST_NOTE), second);
}

TEST_F(Dialog, TheWaitCursorShowsRestoresAndEndsWithoutNesting) {
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

TEST_F(Dialog, TheProgressBarTakesRangeAndPosition) {
  dialog.progress.SetRange32(0, 1024);
  PBRANGE range{-1, -1};
  SendMessageA(dialog.progress.m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1024);
  dialog.progress.SetPos(1023);
  EXPECT_EQ(SendMessageA(dialog.progress.m_hWnd, PBM_GETPOS, 0, 0), 1023);
}

TEST_F(Dialog, TheAnimationOpensPlaysStopsAndClosesOnlyAClipFromTheResources) {
  EXPECT_FALSE(dialog.animation.Open(4242));
  EXPECT_FALSE(dialog.animation.Play(0, 0xFFFF, static_cast<UINT>(-1))) << "no clip is there to play";
  EXPECT_TRUE(dialog.animation.Open(IDR_TEST_CLIP));
  EXPECT_TRUE(dialog.animation.Play(0, 0xFFFF, static_cast<UINT>(-1)));
  EXPECT_TRUE(dialog.animation.Stop());
  EXPECT_TRUE(dialog.animation.Close());
  EXPECT_FALSE(dialog.animation.Play(0, 0xFFFF, 1)) << "nothing to play once closed";
}

}  // namespace
