#include "framework/DataExchange.h"

#include <cstring>
#include <vector>

#include "framework/CDialog.h"

void CDataExchange::Text(int controlId, CString& value) {
  HWND control = m_pDlgWnd->ControlWindow(controlId);
  assert(control && "the template has no such control");
  if (!m_bSaveAndValidate) {
    // A text set again redraws the control even when it is the same. Windows that copy their
    // texts out on every step of a busy loop, dispatching one message a step, would then never
    // get every control painted.
    if (std::strcmp(ControlText(control), value) != 0) SetWindowTextA(control, value);
    return;
  }
  value = ControlText(control);
}

CString CDataExchange::ControlText(HWND control) {
  // The length is in bytes and may overstate a multibyte text; the copy says what it really was.
  int length = GetWindowTextLengthA(control);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  int copied = GetWindowTextA(control, buffer.data(), length + 1);
  return CString(buffer.data(), copied);
}

void CDataExchange::Control(int controlId, CWnd& control) {
  // Bound afresh each time, so an object outlives a window it was bound to before.
  control.m_hWnd = m_pDlgWnd->ControlWindow(controlId);
  assert(control.m_hWnd && "the template has no such control");
}
