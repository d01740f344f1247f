// Test helpers for the stage windows: an emulated deck that answers at once, the program's link and
// sender on it with clocks whose pauses pass at once, the error box caught, a control spied on.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/UpdateApp.h"
#include "delivery/ImageSender.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/EmulatedDriver.h"
#include "emulator/EmulatedLibrary.h"
#include "emulator/LibraryBackend.h"
#include "link/LinkSession.h"
#include "stages/StayAwake.h"
#include "tests/support/DeckFixture.h"
#include "tests/support/ModalScript.h"

// Made once the link worker's open has ended, one way or the other.
struct DeckStage {
  explicit DeckStage(const char* name, const std::function<void(Scenario&)>& change = {})
      : deck(Tweaked(name, change)), binding(deck), link(deck.Driver(), linkClock), sender(senderClock) {
    app.screenWidth = 1024;
    app.screenHeight = 738;
    deck.Driver().HoldWritesUntilReplyRead(true);
    // The pause after each block moves the deck's clock on instead of being waited out.
    senderClock.onPause = [this](double ms) { deck.events.Skip(ms); };
    // The worker's open takes milliseconds, or seconds on a machine busy with other tests.
    EXPECT_TRUE(WaitFor([this] { return link.State() != LinkSession::kOpening; }, 30000))
        << "the link's worker never ended its open";
  }
  static Scenario Tweaked(const char* name, const std::function<void(Scenario&)>& change) {
    Scenario s = *FindScenario(name);
    s.replyDelayMs = 0;
    if (change) change(s);
    return s;
  }

  EmulatedDeck deck;
  LibraryDeckBinding binding;
  SimClock linkClock, senderClock;
  LinkSession link;
  ImageSender sender;
  UpdateApp app{nullptr};
  StayAwake awake;
};

// Centred in the measured screen: the margins on either side differ by the pixel halving drops, if any.
inline void ExpectCentred(HWND window, const UpdateApp& app) {
  RECT r{};
  GetWindowRect(window, &r);
  EXPECT_NEAR(r.left + r.right, app.screenWidth, 1);
  EXPECT_NEAR(r.top + r.bottom, app.screenHeight, 1);
}

// The program's error box as it came up, answered with OK; `atBox` runs as it is seen.
struct ErrorBox {
  std::string text;  // empty while none came up
  HWND owner = nullptr;
  HCURSOR cursor = nullptr;
  std::function<void()> atBox = [] {};

  ModalScript::Step Answer() {
    return [this]() -> bool {
      HWND box = FindOwnWindow("#32770", "エラーが発生しました");
      if (!box) return false;
      owner = GetWindow(box, GW_OWNER);
      cursor = GetCursor();
      char buffer[256] = {};
      GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
      text = buffer;
      atBox();
      return PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
  }
};

// Window timers fail from the `failFrom`th on (counting from 1), as on a system out of window
// resources, while the test's own thread timers still run: this program's import of SetTimer is
// pointed elsewhere for the life of the object.
class WindowTimersFail {
 public:
  explicit WindowTimersFail(int failFrom) : slot(ImportSlot("user32.dll", "SetTimer")) {
    calls = 0, from = failFrom;
    real = reinterpret_cast<decltype(real)>(*slot);
    Point(reinterpret_cast<void*>(&Fake));
  }
  ~WindowTimersFail() { Point(reinterpret_cast<void*>(real)); }
  WindowTimersFail(const WindowTimersFail&) = delete;
  WindowTimersFail& operator=(const WindowTimersFail&) = delete;

 private:
  static UINT_PTR WINAPI Fake(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
    return window && ++calls >= from ? 0 : real(window, id, ms, proc);
  }
  void Point(void* to) {
    DWORD was = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = to;
    VirtualProtect(slot, sizeof *slot, was, &was);
  }
  // The entry of the program's import table that holds the address of `name` from `dll`.
  static void** ImportSlot(const char* dll, const char* name) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* nt =
        reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
      if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
      auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
      for (; names->u1.AddressOfData; ++names, ++slots)
        if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
            std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name,
                        name) == 0)
          return reinterpret_cast<void**>(&slots->u1.Function);
    }
    ADD_FAILURE() << "the program imports no " << name;
    static void* none = nullptr;
    return &none;
  }

  static inline int calls = 0, from = 0;
  static inline UINT_PTR(WINAPI* real)(HWND, UINT_PTR, UINT, TIMERPROC) = nullptr;
  void** const slot;
};

// Sees every message a control gets, after the control has answered it. One at a time.
class ControlSpy {
 public:
  using Seen = std::function<void(UINT, WPARAM, LPARAM, LRESULT)>;
  ControlSpy(HWND control, Seen seen) : control(control), seen(std::move(seen)) {
    active = this;
    original = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, LONG_PTR(&Proc)));
  }
  ~ControlSpy() {
    if (IsWindow(control)) SetWindowLongPtrA(control, GWLP_WNDPROC, LONG_PTR(original));
    active = nullptr;
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CallWindowProcA(active->original, window, message, wParam, lParam);
    active->seen(message, wParam, lParam, result);
    return result;
  }
  static inline ControlSpy* active = nullptr;
  HWND control;
  WNDPROC original;
  Seen seen;
};
