// The six functions of the maker's USB library, as the program calls them. The release links to
// TavroUSB.dll through an import library; tests and the emulated program link the emulated deck.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define TAVRO_API __stdcall
#else
#define TAVRO_API
#endif

extern "C" {
// Number of attached decks; 0 when none.
int TAVRO_API VornUsbEnumerateDevices(void);
// Non-zero on success, with the name of deck `index` (0-based) in the 260-byte buffer.
int TAVRO_API VornUsbGetDeviceName(int index, char* name);
// Non-zero on success, with a non-zero handle stored.
int TAVRO_API VornUsbOpen(char* name, std::uint32_t* handle);
// Non-zero when `length` bytes of `data` were sent under `code`.
int TAVRO_API VornUsbControlSend(std::uint32_t handle, int code, void* data, int length);
// Non-zero on success, with the number of bytes delivered into `buffer` stored in `received`.
int TAVRO_API VornUsbControlRecive(std::uint32_t handle, int code, void* buffer, int length,
                                   std::uint32_t* received);
// Result ignored by the program.
int TAVRO_API VornUsbClose(std::uint32_t handle);
}
