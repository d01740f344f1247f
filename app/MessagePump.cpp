#include "app/MessagePump.h"

#include <windows.h>

bool PumpOneMessage() {
  // A record per pass: passes nest (a dispatched handler pumps in turn), and the outer dispatch
  // may still read its record when the inner pass is done.
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

void PumpOrIdle() {
  if (!PumpOneMessage()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
}
