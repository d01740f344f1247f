#include "framework/DataExchange.h"

#include <vector>

#include "framework/CDialog.h"

void CDataExchange::Text(int controlId, CString& value) {
  HWND control = m_pDlgWnd->GetDlgItem(controlId);
  assert(control && "the template has no such control");
  if (!m_bSaveAndValidate) {
    SetWindowTextA(control, value);
    return;
  }
  // The length is in bytes and may overstate a multibyte text; the copy says what it really was.
  int length = GetWindowTextLengthA(control);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  int copied = GetWindowTextA(control, buffer.data(), length + 1);
  value = CString(buffer.data(), copied);
}

void CDataExchange::Control(int controlId, CWnd& control) {
  // Bound afresh each time, so an object outlives a window it was bound to before.
  control.m_hWnd = m_pDlgWnd->GetDlgItem(controlId);
  assert(control.m_hWnd && "the template has no such control");
}
