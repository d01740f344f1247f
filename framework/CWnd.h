// CWnd: one window handle and the few window operations the program's windows call, each a thin
// wrapper over one Win32 call; CPaintDC: painting of one WM_PAINT, begun and ended by scope.
#pragma once

#include <windows.h>

#include <cassert>

class CWnd {
 public:
  HWND m_hWnd = nullptr;  // nullptr while no window is bound

  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(Checked(), enable); }
  HWND SetFocus() { return ::SetFocus(Checked()); }
  BOOL ShowWindow(int command) { return ::ShowWindow(Checked(), command); }
  BOOL SetWindowText(const char* text) { return ::SetWindowTextA(Checked(), text); }
  BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(Checked(), rect); }
  BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(Checked(), rect); }
  BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
    return ::MoveWindow(Checked(), x, y, width, height, repaint);
  }
  BOOL IsIconic() const { return ::IsIconic(Checked()); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(Checked(), id); }

  // Timers post WM_TIMER to this window; SetTimer returns 0 when no timer was made.
  UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) {
    return ::SetTimer(Checked(), id, milliseconds, nullptr);
  }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(Checked(), id); }

  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageA(Checked(), message, wParam, lParam);
  }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageA(Checked(), message, wParam, lParam);
  }

  // A message box owned by this window; blocks, pumping the box's own loop, until it is closed.
  int MessageBox(const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(Checked(), text, caption, type);
  }

  // The window's system menu, or nullptr when its style has none.
  HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(Checked(), revert); }

  // Sets the large (big TRUE) or small icon; returns the one it replaces.
  HICON SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }

 protected:
  CWnd() = default;
  ~CWnd() = default;

  HWND Checked() const {
    assert(::IsWindow(m_hWnd) && "the object is bound to no window");
    return m_hWnd;
  }
};

class CPaintDC {
 public:
  explicit CPaintDC(CWnd* owner) : m_hDC(::BeginPaint(owner->m_hWnd, &m_ps)), window(owner->m_hWnd) {}
  ~CPaintDC() { ::EndPaint(window, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  PAINTSTRUCT m_ps{};
  HDC m_hDC;

 private:
  HWND window;
};
