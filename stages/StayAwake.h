// StayAwake: from the rewrite request until the wait stage ends the deck rewrites itself, and the
// computer must stay on meanwhile: it is kept from sleeping, and shutdown and log-off are held off
// with a reason on the stage window. Both are let go on every way out.
#pragma once

#include <windows.h>

#include <string>

class StayAwake {
 public:
  StayAwake() = default;
  ~StayAwake() { End(); }
  StayAwake(const StayAwake&) = delete;
  StayAwake& operator=(const StayAwake&) = delete;

  // Asks the system to stay awake and puts the reason on `window` (none: no window yet); when
  // already held, only moves the reason there.
  void Begin(HWND window);
  // The stage window that follows takes the reason over while the request is held.
  void Cover(HWND window);
  // Releases the request and withdraws the reason; harmless when none is held.
  void End();
  bool Held() const { return held; }
  // The window that holds off shutdown; nullptr when none does.
  HWND ReasonWindow() const { return reasonWindow; }

  // What the system shows the user who shuts down meanwhile, in UTF-16:
  // "バージョンアップ中です。本体の電源を切らないでください。"
  static const std::wstring& Reason();

 private:
  void Withdraw();

  bool held = false;
  HWND reasonWindow = nullptr;
};
