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
  // A message, a timer or input ends the wait at once; the bound only paces the loops' own polls
  // (the deck's reply, the worker's flag), which nothing needs finer than 10 ms. Each wake-up
  // costs system calls, and under Wine two server round trips.
  if (!PumpOneMessage()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
}
