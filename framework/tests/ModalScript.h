// Test helper: runs steps on this thread, one per tick of a thread timer, while a modal loop
// (DoModal, a message box) or any other pump dispatches messages. Used by every window test.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

class ModalScript {
 public:
  using Step = std::function<void()>;

  explicit ModalScript(std::vector<Step> steps, UINT periodMs = 15) : steps(std::move(steps)) {
    active = this;
    timer = SetTimer(nullptr, 0, periodMs, Tick);
  }
  ~ModalScript() {
    KillTimer(nullptr, timer);
    active = nullptr;
  }
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  bool Finished() const { return next >= steps.size(); }
  // Modal windows of this thread that the script had to end because its steps left them open.
  int Abandoned() const { return abandoned; }

 private:
  static constexpr int kGraceTicks = 200;

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    // Steps may block in a modal loop of their own (a window they open): the ticks that loop
    // dispatches run the following steps.
    ModalScript* script = active;
    if (!script) return;
    if (!script->Finished()) {
      Step step = script->steps[script->next++];
      step();
    } else if (++script->idleTicks > kGraceTicks) {
      // The steps are done but a modal loop is still running: end it rather than hang the test.
      EnumThreadWindows(GetCurrentThreadId(), EndOne, reinterpret_cast<LPARAM>(script));
    }
  }

  static BOOL CALLBACK EndOne(HWND window, LPARAM self) {
    if (IsWindowVisible(window)) {
      ++reinterpret_cast<ModalScript*>(self)->abandoned;
      EndDialog(window, -2);
    }
    return TRUE;
  }

  static inline ModalScript* active = nullptr;
  std::vector<Step> steps;
  std::size_t next = 0;
  int idleTicks = 0;
  int abandoned = 0;
  UINT_PTR timer = 0;
};
