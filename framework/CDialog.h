// CDialog: a window made from a dialog template of the program's resources, modal (DoModal) or
// modeless (Create); its message map; and the message map's entry makers (namespace Map).
#pragma once

#include <windows.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "framework/CWnd.h"

class CDataExchange;
class CDialog;

// One entry of a class's message map: a message and the member that handles it.
struct MessageMapEntry {
  // WM_TIMER, WM_PAINT, WM_SYSCOMMAND, WM_QUERYDRAGICON or WM_QUERYENDSESSION; WM_CTLCOLORMSGBOX stands for
  // every control-colour request (WM_CTLCOLORMSGBOX..WM_CTLCOLORSTATIC); WM_COMMAND is a click (BN_CLICKED)
  // of control `controlId`.
  UINT message;
  UINT controlId;
  // Calls the member; returns what the dialog procedure returns for the message.
  INT_PTR (*call)(CDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

// A class's message map: its own entries, then its base class's map.
struct MessageMap {
  template <std::size_t N>
  MessageMap(const MessageMap* base, const MessageMapEntry (&entries)[N])
      : base(base), entries(entries), count(N) {}
  explicit MessageMap(const MessageMap* base) : base(base) {}  // no entries of its own

  // The first entry for the message (and, for WM_COMMAND, the control) in this map or its bases.
  const MessageMapEntry* Find(UINT message, UINT controlId) const;

  const MessageMap* base;
  const MessageMapEntry* entries = nullptr;
  std::size_t count = 0;
};

class CDialog : public CWnd {
 public:
  // Binds the object to a template of the program's resources; no window exists yet. The program's
  // windows have no parent: each is a top-level window of its own.
  explicit CDialog(UINT templateId);
  // Destroys the window if it still exists.
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  UINT GetTemplateId() const { return templateId; }

  // Runs the window modally and returns what EndDialog was given; -1 when the window could not
  // be created from its template.
  INT_PTR DoModal();

  // Creates the window modeless (visible only if its template says so). FALSE when it could not
  // be created; the object then has no window. The window lives until DestroyWindow, after which
  // the object keeps its fields and has no window again.
  BOOL Create(UINT templateId);
  BOOL DestroyWindow();

  // Ends a modal run with `result`. (A modeless window is only hidden by it.)
  void EndDialog(int result);

  // Runs DoDataExchange: from the controls into the members (TRUE) or back (FALSE).
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  // The window's control `id`, as GetDlgItem finds it, but searched for once while the window
  // lives: windows that exchange data on every pass of a busy loop would otherwise search their
  // children each time. nullptr when there is no such control.
  HWND ControlWindow(int id);

  // The system's wait cursor. Begin shows it, Restore shows it again while it is on (a dispatched
  // message may have put the arrow back), End puts back the cursor it replaced. Calls do not
  // nest: however many Begins, one End ends it.
  void BeginWaitCursor();
  void RestoreWaitCursor();
  void EndWaitCursor();

 protected:
  // Framework defaults: the first data exchange towards the controls, then TRUE (the dialog
  // manager focuses the first tab stop).
  virtual BOOL OnInitDialog();
  // Routes a command: a click to the message map's entry for that control, else IDOK to OnOK and
  // IDCANCEL to OnCancel. TRUE when something took it; FALSE leaves it to default processing.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual void DoDataExchange(CDataExchange* exchange);
  // Data exchange from the controls, then EndDialog(IDOK).
  virtual void OnOK();
  // EndDialog(IDCANCEL).
  virtual void OnCancel();
  // This class's map; a class with a map of its own chains it to its base's.
  virtual const MessageMap* GetMessageMap() const;

  // The framework's handling of the mappable messages: each hands the message being dispatched to
  // default processing and returns its result. A handler that wants default processing as well
  // calls these.
  void OnTimer(UINT_PTR timerId);
  void OnPaint();
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT ctlColor);
  void OnSysCommand(UINT id, LPARAM lParam);
  HCURSOR OnQueryDragIcon();
  BOOL OnQueryEndSession();
  LRESULT Default();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  UINT templateId;
  struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } current{};  // the message being handled by a message-map entry, for Default()
  std::vector<std::pair<int, HWND>> controlWindows;  // found so far; forgotten with the window
  bool waitCursorOn = false;
  HCURSOR cursorBeforeWait = nullptr;
};

// Entry makers for message maps: Map::Paint<&MyDialog::OnPaint>() and so on. Handlers have the
// framework's shapes, as in CDialog above; Clicked handlers take nothing.
namespace Map {
template <class Member>
struct ClassOf;
template <class T, class R, class... A>
struct ClassOf<R (T::*)(A...)> {
  using type = T;
};
template <auto handler>
using Owner = typename ClassOf<decltype(handler)>::type;

template <auto handler>
constexpr MessageMapEntry Timer() {
  return {WM_TIMER, 0, [](CDialog& dialog, UINT, WPARAM wParam, LPARAM) -> INT_PTR {
            (static_cast<Owner<handler>&>(dialog).*handler)(static_cast<UINT_PTR>(wParam));
            return TRUE;
          }};
}

template <auto handler>
constexpr MessageMapEntry Paint() {
  return {WM_PAINT, 0, [](CDialog& dialog, UINT, WPARAM, LPARAM) -> INT_PTR {
            (static_cast<Owner<handler>&>(dialog).*handler)();
            return TRUE;
          }};
}

// Every WM_CTLCOLOR* request; the handler gets CTLCOLOR_EDIT etc. as its third argument and its
// brush goes back to the dialog manager.
template <auto handler>
constexpr MessageMapEntry CtlColor() {
  return {WM_CTLCOLORMSGBOX, 0, [](CDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
            HBRUSH brush = (static_cast<Owner<handler>&>(dialog).*handler)(
                reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message - WM_CTLCOLORMSGBOX);
            return reinterpret_cast<INT_PTR>(brush);
          }};
}

template <auto handler>
constexpr MessageMapEntry SysCommand() {
  return {WM_SYSCOMMAND, 0, [](CDialog& dialog, UINT, WPARAM wParam, LPARAM lParam) -> INT_PTR {
            (static_cast<Owner<handler>&>(dialog).*handler)(static_cast<UINT>(wParam), lParam);
            return TRUE;
          }};
}

template <auto handler>
constexpr MessageMapEntry QueryDragIcon() {
  return {WM_QUERYDRAGICON, 0, [](CDialog& dialog, UINT, WPARAM, LPARAM) -> INT_PTR {
            return reinterpret_cast<INT_PTR>((static_cast<Owner<handler>&>(dialog).*handler)());
          }};
}

// The handler's BOOL is the window's answer: FALSE holds off the end of the session.
template <auto handler>
constexpr MessageMapEntry QueryEndSession() {
  return {WM_QUERYENDSESSION, 0, [](CDialog& dialog, UINT, WPARAM, LPARAM) -> INT_PTR {
            const BOOL answer = (static_cast<Owner<handler>&>(dialog).*handler)();
            // A dialog procedure answers through DWLP_MSGRESULT.
            SetWindowLongPtrA(dialog.m_hWnd, DWLP_MSGRESULT, answer);
            return TRUE;
          }};
}

template <UINT controlId, auto handler>
constexpr MessageMapEntry Clicked() {
  return {WM_COMMAND, controlId, [](CDialog& dialog, UINT, WPARAM, LPARAM) -> INT_PTR {
            (static_cast<Owner<handler>&>(dialog).*handler)();
            return TRUE;
          }};
}
}  // namespace Map
