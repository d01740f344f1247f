// Windows' own DLLs that are not on its KnownDLLs list (the common controls, the multimedia
// timers), loaded from the system folder by full path. Imported or loaded by name, they would be
// looked for in the program's folder first, where anything may lie beside a downloaded program.
#pragma once

#include <windows.h>

// Takes the current folder out of the search for every DLL loaded from now on, the maker's
// library's own loads included. Called before the program loads anything itself.
void RestrictDllSearch();

// `name` (e.g. L"winmm.dll") from the system folder, its own imports searched there too; nullptr
// when it cannot be loaded. The caller frees it with FreeLibrary.
HMODULE LoadSystemDll(const wchar_t* name);

// A function of a loaded DLL as the type the caller declares for it; nullptr when it is missing.
template <class Function>
Function SystemDllFunction(HMODULE dll, const char* name) {
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

// Registers the window classes of the progress bar and the animation control from the system's
// common controls, once in the run. False when the library or its call cannot be had: then no
// window with those controls can be made.
bool RegisterControlClasses();
