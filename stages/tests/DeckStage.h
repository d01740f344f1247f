// Test helpers for the stage windows: an emulated deck that answers at once, the program's link and
// sender on it with clocks whose pauses pass at once, timers that fail, a control spied on.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

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
      : deck(Named(name,
                   [&](Scenario& s) {
                     s.replyDelayMs = 0;
                     if (change) change(s);
                   })),
        binding(deck),
        link(deck.Driver(), linkClock),
        sender(senderClock) {
    app.screenWidth = 1024;
    app.screenHeight = 738;
    deck.Driver().HoldWritesUntilReplyRead(true);
    // The pause after each block moves the deck's clock on instead of being waited out.
    senderClock.onPause = [this](double ms) { deck.events.Skip(ms); };
    // The worker's open takes milliseconds, or seconds on a machine busy with other tests.
    EXPECT_TRUE(WaitFor([this] { return link.State() != LinkSession::kOpening; }, 30000))
        << "the link's worker never ended its open";
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

// A stage whose window timers fail from the `failFrom`th on (counting from 1), as on a system out
// of window resources.
template <class Stage>
class TimersFail : public Stage {
 public:
  template <class... Args>
  explicit TimersFail(int failFrom, Args&&... args)
      : Stage(std::forward<Args>(args)...), failFrom(failFrom) {}

 protected:
  UINT_PTR StartTimer(UINT_PTR id, UINT periodMs) override {
    return ++made >= failFrom ? 0 : Stage::StartTimer(id, periodMs);
  }

 private:
  const int failFrom;
  int made = 0;
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
