// Test helper: runs steps on this thread, one per tick of a thread timer, while a modal loop
// (DoModal, a message box) or any other pump dispatches messages. Used by every window test.
#pragma once

#include <windows.h>

#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

class ModalScript {
 public:
  // A step that returns nothing runs once; one that returns bool runs on each tick until it
  // returns true (waiting for a window to come up, say), and must not pump messages itself.
  struct Step {
    template <class F, std::enable_if_t<std::is_void_v<std::invoke_result_t<F&>>, int> = 0>
    Step(F f) : run([f]() mutable { return f(), true; }), once(true) {}  // NOLINT: written as lambdas
    template <class F, std::enable_if_t<std::is_same_v<std::invoke_result_t<F&>, bool>, int> = 0>
    Step(F f) : run(std::move(f)), once(false) {}  // NOLINT
    std::function<bool()> run;
    bool once;
  };

  explicit ModalScript(std::vector<Step> steps) : steps(std::move(steps)) {
    active = this;
    timer = SetTimer(nullptr, 0, 15, Tick);
  }
  ~ModalScript() {
    KillTimer(nullptr, timer);
    active = nullptr;
  }

 private:
  // Steps may block in a modal loop of their own (a window they open): the ticks that loop
  // dispatches run the following steps. Steps done and a modal window still open 3 s later: the
  // window is ended (with -2) rather than the test hung.
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    ModalScript* script = active;
    if (!script) return;
    if (script->next < script->steps.size()) {
      Step step = script->steps[script->next];
      if (step.once) ++script->next;  // before it runs, so that ticks inside its modal loop go on
      if (step.run() && !step.once) ++script->next;
    } else if (++script->idleTicks > 200) {
      EnumThreadWindows(GetCurrentThreadId(), EndOne, 0);
    }
  }
  static BOOL CALLBACK EndOne(HWND window, LPARAM) {
    if (IsWindowVisible(window)) EndDialog(window, -2);
    return TRUE;
  }

  static inline ModalScript* active = nullptr;
  std::vector<Step> steps;
  std::size_t next = 0;
  int idleTicks = 0;
  UINT_PTR timer = 0;
};

// A top-level window of this thread, by class and caption. Test programs run side by side on one
// Wine desktop, where FindWindow would also find another program's window.
inline HWND FindOwnWindow(const char* className, const char* caption) {
  struct Wanted {
    const char* className;
    const char* caption;
    HWND found;
  } wanted{className, caption, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) CALLBACK -> BOOL {
        auto* w = reinterpret_cast<Wanted*>(param);
        char name[64] = {}, text[256] = {};
        GetClassNameA(window, name, sizeof name);
        GetWindowTextA(window, text, sizeof text);
        if (std::strcmp(name, w->className) != 0 || std::strcmp(text, w->caption) != 0) return TRUE;
        w->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&wanted));
  return wanted.found;
}
