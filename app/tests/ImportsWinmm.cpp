// Makes the program import WINMM.dll when it loads, as it did before it took the multimedia timers
// from the system folder itself.
#include <windows.h>

#include <mmsystem.h>

// Kept by the linker, and with it the import.
extern "C" __attribute__((used)) UINT(WINAPI* const keepWinmmImport)(UINT) = timeBeginPeriod;
