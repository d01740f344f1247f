#include "stages/StayAwake.h"

#include <windows.h>

void StayAwake::Begin() {
  if (held) return;
  ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  held = true;
}

void StayAwake::End() {
  if (!held) return;
  ::SetThreadExecutionState(ES_CONTINUOUS);
  held = false;
}
