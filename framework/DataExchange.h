// Dialog data exchange: one exchange object, with a direction, that moves members to and from the
// controls of one dialog (Text) and binds control objects to controls (Control).
#pragma once

#include <windows.h>

#include "framework/CString.h"
#include "framework/CWnd.h"

class CDialog;

class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, BOOL saveAndValidate)
      : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

  // The control's text into `value` (saving) or `value` into the control.
  void Text(int controlId, CString& value);
  // Binds `control` to the dialog's control, in either direction.
  void Control(int controlId, CWnd& control);

  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;  // TRUE: from the controls into the members

 private:
  static CString ControlText(HWND control);
};

inline void DDX_Text(CDataExchange* exchange, int controlId, CString& value) {
  exchange->Text(controlId, value);
}
inline void DDX_Control(CDataExchange* exchange, int controlId, CWnd& control) {
  exchange->Control(controlId, control);
}
