// Test helpers for the stage windows that talk to the deck: one emulated deck behind both paths,
// the program's own link session and image sender on it, and a catcher for the error box.
#pragma once

#include <windows.h>

#include <string>

#include "app/UpdateApp.h"
#include "delivery/ImageSender.h"
#include "emulator/DriverSide.h"
#include "emulator/EmulatedDeck.h"
#include "emulator/LibrarySide.h"
#include "emulator/library_calls.h"
#include "framework/tests/ModalScript.h"
#include "link/LinkSession.h"
#include "stages/StayAwake.h"

struct DeckStage {
  explicit DeckStage(const char* scenario)
      : deck(*FindScenario(scenario)), binding(deck), link(deck.Driver()) {
    app.screenWidth = 1024;
    app.screenHeight = 738;
  }

  // Waits until the link worker has opened the deck, as it has by the time the check is done.
  bool WaitForLink() {
    for (int i = 0; i < 200 && !link.DeviceOpen(); ++i) Sleep(10);
    return link.DeviceOpen();
  }

  EmulatedDeck deck;
  LibraryDeckBinding binding;
  LinkSession link;
  ImageSender sender;
  UpdateApp app{nullptr};
  StayAwake awake;
};

// The program's error box as it came up: its text, its owner and the cursor it came up under.
// Answered with OK.
struct ErrorBox {
  bool seen = false;
  std::string text;
  HWND owner = nullptr;
  HCURSOR cursor = nullptr;

  ModalScript::Step Answer() {
    return [this]() -> bool {
      HWND box = FindWindowA("#32770", "エラーが発生しました");
      if (!box) return false;
      seen = true;
      owner = GetWindow(box, GW_OWNER);
      cursor = GetCursor();
      char buffer[256] = {};
      GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
      text = buffer;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return true;
    };
  }
};

using Frames = std::vector<std::vector<unsigned char>>;

// A command as the deck receives it: its count byte, then its bytes.
template <std::size_t N>
std::vector<unsigned char> Framed(const unsigned char (&command)[N]) {
  std::vector<unsigned char> frame(N + 1, static_cast<unsigned char>(N));
  std::copy(command, command + N, frame.begin() + 1);
  return frame;
}
