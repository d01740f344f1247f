// The control classes the windows bind by dialog data exchange: each holds the control's handle,
// and each operation is one message to the control.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/CWnd.h"

// The windows only bind, enable, focus and colour these two; CWnd has all of that.
class CEdit : public CWnd {};
class CButton : public CWnd {};

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int lower, int upper) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), upper); }
  void SetPos(int position) { SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)); }
};

class CAnimateCtrl : public CWnd {
 public:
  // Opens a clip of resource type "AVI" from the module that created the control. FALSE when the
  // clip is missing or not one the control can play.
  BOOL Open(UINT resourceId) {
    return static_cast<BOOL>(
        SendMessage(ACM_OPENA, 0, reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(resourceId))));
  }
  // Plays frames from..to (0xFFFF: the last), `repeat` times; (UINT)-1 repeats without end.
  BOOL Play(UINT from, UINT to, UINT repeat) {
    return static_cast<BOOL>(SendMessage(ACM_PLAY, repeat, MAKELPARAM(from, to)));
  }
  BOOL Stop() { return static_cast<BOOL>(SendMessage(ACM_STOP)); }
  BOOL Close() { return static_cast<BOOL>(SendMessage(ACM_OPENA, 0, 0)); }
};
