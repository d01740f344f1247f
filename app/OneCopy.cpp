#include "app/OneCopy.h"

namespace {
struct Search {
  DWORD process;
  HWND found;
};

// Windows come in z-order: the first visible one of the process is the one its user saw last.
BOOL CALLBACK FindTopWindow(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.process || !IsWindowVisible(window)) return TRUE;
  search.found = window;
  return FALSE;
}

void BringToFront(DWORD process) {
  Search search{process, nullptr};
  EnumWindows(FindTopWindow, reinterpret_cast<LPARAM>(&search));
  // Between two stages the first copy shows nothing for a moment: then there is nothing to bring.
  if (!search.found) return;
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(search.found));
}
}  // namespace

OneCopy::OneCopy(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  place = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name);
  // Without a place of its own the copy cannot tell whether another one runs; it goes on, as a
  // program without the guard would.
  if (!place) return;
  const bool second = GetLastError() == ERROR_ALREADY_EXISTS;
  auto* firstCopy = static_cast<LONG*>(MapViewOfFile(place, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)));
  if (!second) {
    if (firstCopy) InterlockedExchange(firstCopy, static_cast<LONG>(GetCurrentProcessId()));
  } else {
    // A first copy still starting has no ID there yet, and no window either.
    if (firstCopy) BringToFront(static_cast<DWORD>(InterlockedCompareExchange(firstCopy, 0, 0)));
    ExitProcess(0);
  }
  if (firstCopy) UnmapViewOfFile(firstCopy);
}

OneCopy::~OneCopy() {
  if (place) CloseHandle(place);
}
