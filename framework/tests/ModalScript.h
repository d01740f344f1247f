// Test helper: runs steps on this thread, one per tick of a thread timer, while a modal loop
// (DoModal, a message box) or any other pump dispatches messages. Used by every window test.
#pragma once

#include <windows.h>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

class ModalScript {
 public:
  // A step that returns nothing runs once; one that returns bool runs on each tick until it
  // returns true (waiting for a window to come up, say).
  struct Step {
    template <class F, std::enable_if_t<std::is_void_v<std::invoke_result_t<F&>>, int> = 0>
    Step(F f) : run([f]() mutable { return f(), true; }), once(true) {}  // NOLINT: written as lambdas
    template <class F, std::enable_if_t<std::is_same_v<std::invoke_result_t<F&>, bool>, int> = 0>
    Step(F f) : run(std::move(f)), once(false) {}  // NOLINT
    std::function<bool()> run;
    bool once;
  };

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
      std::size_t index = script->next;
      Step step = script->steps[index];
      if (step.once) {
        ++script->next;  // before it runs, so that ticks inside its modal loop go on
        step.run();
      } else if (!script->retrying) {
        script->retrying = true;
        bool done = step.run();
        script->retrying = false;
        if (done) ++script->next;
      }
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
  bool retrying = false;
  UINT_PTR timer = 0;
};
