// The program's hand-written message pump: one message per pass, for any window of the thread,
// without the dialog keyboard handling. The sequence, the stages and the image sender use it.
#pragma once

// Removes at most one message from the thread's queue and translates and dispatches it. Never
// blocks. Returns whether there was one. WM_QUIT is dispatched like any other message.
bool PumpOneMessage();

// For waiting loops: one pass of PumpOneMessage, and when nothing was waiting, gives the
// processor back until a message arrives or 10 ms have passed.
void PumpOrIdle();
