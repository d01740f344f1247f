#include "emulator/LibraryBackend.h"

#include <atomic>

#include "delivery/TavroUSB.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/EmulatedLibrary.h"

namespace {
std::atomic<EmulatedDeck*> bound{nullptr};

EmulatedLibrary& Library() {
  EmulatedDeck* deck = bound.load();
  return deck ? deck->Library() : EmulatedDeck::Process().Library();
}
}  // namespace

void BindLibraryDeck(EmulatedDeck* deck) {
  bound.store(deck);
}

extern "C" {
int TAVRO_API VornUsbEnumerateDevices(void) {
  return Library().EnumerateDevices();
}

int TAVRO_API VornUsbGetDeviceName(int index, char* name) {
  return Library().GetDeviceName(index, name);
}

int TAVRO_API VornUsbOpen(char* name, std::uint32_t* handle) {
  return Library().Open(name, handle);
}

int TAVRO_API VornUsbControlSend(std::uint32_t handle, int code, void* data, int length) {
  return Library().ControlSend(handle, code, data, length);
}

int TAVRO_API VornUsbControlRecive(std::uint32_t handle, int code, void* buffer, int length,
                                   std::uint32_t* received) {
  return Library().ControlRecive(handle, code, buffer, length, received);
}

int TAVRO_API VornUsbClose(std::uint32_t handle) {
  return Library().Close(handle);
}
}
