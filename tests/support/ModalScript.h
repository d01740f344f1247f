// Test helper for every window test: runs steps on this thread, one per tick of a thread timer,
// while a modal loop or any other pump dispatches messages; and answers the program's error box.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

class ModalScript {
 public:
  // A step that returns nothing runs once; one that returns bool runs on each tick until it
  // returns true (waiting for a window to come up, say), and must not pump messages itself. A step
  // that waits 20 s fails the test, which ends then rather than at ctest's time-out.
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
  // window is ended (with -2) rather than the test hung. A step kept waiting fails the test, and
  // its windows are ended; should the window under test still not let go 3 s on, the test
  // program ends, its failure already told.
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    ModalScript* script = active;
    if (!script) return;
    if (script->next < script->steps.size()) {
      Step& step = script->steps[script->next];  // not a copy: a waiting step keeps its own count
      const ULONGLONG now = GetTickCount64();
      if (script->waitingFrom == 0) script->waitingFrom = now;
      if (step.once) {
        ++script->next;  // before it runs, so that ticks inside its modal loop go on
        script->waitingFrom = 0;
        step.run();
      } else if (step.run()) {
        ++script->next;
        script->waitingFrom = 0;
      } else if (now - script->waitingFrom > kWaitLimitMs) {
        ADD_FAILURE() << "step " << script->next + 1
                      << " of the window script waited 20 s for what never came";
        script->next = script->steps.size();
        script->failed = true;
        EnumThreadWindows(GetCurrentThreadId(), EndOne, 0);
      }
    } else if (++script->idleTicks > kIdleTicks) {
      if (script->failed) {
        std::fprintf(stderr, "the window under test would not end after its script failed\n");
        std::fflush(nullptr);
        std::_Exit(1);
      }
      EnumThreadWindows(GetCurrentThreadId(), EndOne, 0);
    }
  }
  static BOOL CALLBACK EndOne(HWND window, LPARAM) {
    if (IsWindowVisible(window)) EndDialog(window, -2);
    return TRUE;
  }

  static constexpr ULONGLONG kWaitLimitMs = 20000;
  static constexpr int kIdleTicks = 200;  // of 15 ms
  static inline ModalScript* active = nullptr;
  std::vector<Step> steps;
  std::size_t next = 0;
  ULONGLONG waitingFrom = 0;  // when the step under way began to wait
  int idleTicks = 0;
  bool failed = false;
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
