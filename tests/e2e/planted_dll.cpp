// A DLL planted beside the program under a name of Windows' own (winmm.dll, comctl32.dll): when
// it is loaded into a process it leaves a marker file beside itself, <its own path>.loaded.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      const std::wstring marker = std::wstring(path, length) + L".loaded";
      HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}

#ifdef PLANTED_WINMM
// What a program that imports the multimedia timers needs in order to load with this in their place.
extern "C" __declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT) {
  return 0;
}
extern "C" __declspec(dllexport) UINT WINAPI timeEndPeriod(UINT) {
  return 0;
}
#endif
