#include "framework/SystemDll.h"

#include <commctrl.h>

#include <string>

void RestrictDllSearch() {
  SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  // Without the flag, the DLL's own imports would be searched for in the program's folder first.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RegisterControlClasses() {
  // The library is never freed: the classes it registers live in it.
  static const bool registered = [] {
    HMODULE comctl32 = LoadSystemDll(L"comctl32.dll");
    if (!comctl32) return false;
    auto initCommonControlsEx =
        SystemDllFunction<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(comctl32, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    return initCommonControlsEx && initCommonControlsEx(&classes);
  }();
  return registered;
}
