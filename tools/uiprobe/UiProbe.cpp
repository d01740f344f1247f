// uiprobe: drives another program's windows for the end-to-end tests. It runs beside the program
// on the same Wine desktop, reads one command a line from stdin and answers each with one line
// of JSON in UTF-8 on stdout ({"ok":true,...} or {"ok":false,"error":...}).
//
//   hello                          code page, screen and full-screen client size, process id
//   window HWND                    the window and all its controls in z-order
//   active HWND [MS]               waits until the window is the foreground window (and draws
//                                  its caption active, which Wine sometimes fails to do)
//   settle HWND [MS]               waits until the window's thread is idle and it is painted
//   click HWND ID                  presses a button (BM_CLICK); refused if disabled or hidden
//   syscommand HWND N              posts WM_SYSCOMMAND N
//   msgbox [MS]                    waits for a message box and reads it
//   answer [MS] [BUTTON]           waits for a message box, reads it and presses BUTTON (default:
//                                  its only or OK button)
//   shot HWND|screen PATH          saves the window's screen area as a BMP (a Windows path)
//   start EXE [OUTPUT [NAME=VALUE...]]  starts a program on this desktop, its output going to
//                                  OUTPUT, with NAME=VALUE added to the environment it inherits
//   run EXE OUTPUT MS [NAME=VALUE...]  starts another program beside the started one, as start
//                                  does, and waits up to MS for it to end (then ends it): its exit
//                                  code and how long it ran ("ms")
//   seen                           the started program's top-level windows so far, in the order
//                                  they were shown, with when each was shown and gone
//   exit [MS]                      waits for the started program to end and gives its exit code,
//                                  wall and processor times and peak memory ("program")
//   kill                           ends the started program
//   quit
// Texts in quotes may use \" \\ \r \n. Handles are decimal numbers as the answers give them.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "emulator/Json.h"
#include "tools/uiprobe/Probe.h"
#include "tools/uiprobe/Watcher.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          char c = line[++i];
          word += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
          word += line[i];
        }
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ') word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

Json Ok() {
  return Json::Object().Add("ok", true);
}
Json Fail(const std::string& why) {
  return Json::Object().Add("ok", false).Add("error", why);
}

HWND WindowArg(const std::vector<std::string>& w, size_t i) {
  return i < w.size()
             ? reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(w[i].c_str(), nullptr, 10)))
             : nullptr;
}
DWORD NumberArg(const std::vector<std::string>& w, size_t i, DWORD fallback) {
  return i < w.size() ? static_cast<DWORD>(std::strtoul(w[i].c_str(), nullptr, 10)) : fallback;
}

// Polls `found` every 20 ms until it gives a window or the time is up.
template <typename F>
HWND WaitFor(DWORD timeoutMs, F found) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND hwnd = found()) return hwnd;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(20);
  }
}

class Session {
 public:
  ~Session() {
    watcher.reset();
    if (process) CloseHandle(process);
  }

  // One command: the probe's own (start a program, find windows, ...), or one on a window or on
  // a control of a window, named by the words after it.
  Json Run(const std::vector<std::string>& w) {
    static const std::set<std::string> kOnProbe = {"hello", "msgbox", "answer", "start", "exit",
                                                   "kill",  "seen",   "shot",   "run"};
    if (kOnProbe.count(w[0])) return OnProbe(w);
    HWND hwnd = WindowArg(w, 1);
    if (!IsWindow(hwnd)) return Fail("no such window");
    if (w[0] != "click") return OnWindow(w, hwnd);
    if (w.size() < 3) return Fail("missing control id");
    HWND control = GetDlgItem(hwnd, static_cast<int>(std::strtol(w[2].c_str(), nullptr, 10)));
    if (!control) return Fail("no control " + w[2]);
    bool finished = false;
    std::string refused = Click(control, finished);
    return refused.empty() ? Ok().Add("finished", finished) : Fail(refused);
  }

 private:
  Json OnProbe(const std::vector<std::string>& w) {
    const std::string& c = w[0];
    if (c == "hello") {
      return Ok()
          .Add("acp", static_cast<unsigned>(GetACP()))
          .Add("screen",
               Json::Array().Push(GetSystemMetrics(SM_CXSCREEN)).Push(GetSystemMetrics(SM_CYSCREEN)))
          .Add("fullscreen",
               Json::Array().Push(GetSystemMetrics(SM_CXFULLSCREEN)).Push(GetSystemMetrics(SM_CYFULLSCREEN)))
          .Add("pid", static_cast<unsigned long>(GetCurrentProcessId()));
    }
    if (c == "msgbox" || c == "answer") return MessageBoxCommand(w);
    if (c == "start") return Start(w);
    if (c == "run") return RunBeside(w);
    if (c == "exit") return Exit(w);
    if (c == "kill") return Kill();
    if (c == "seen") return watcher ? Ok().Add("windows", watcher->Seen()) : Fail("no program started");
    // shot WINDOW|screen FILE
    if (w.size() < 3) return Fail("missing window or file");
    HWND hwnd = w[1] == "screen" ? nullptr : WindowArg(w, 1);
    if (hwnd && !IsWindow(hwnd)) return Fail("no such window");
    SIZE size = {};
    if (!SaveScreenshot(hwnd, WideFromUtf8(w[2]), size)) return Fail("cannot save " + w[2]);
    return Ok().Add("size", Json::Array().Push(size.cx).Push(size.cy));
  }

  Json OnWindow(const std::vector<std::string>& w, HWND hwnd) {
    const std::string& c = w[0];
    if (c == "window") return Ok().Add("window", DescribeWithControls(hwnd));
    if (c == "active") return Activate(hwnd, NumberArg(w, 2, 2000));
    if (c == "settle") {
      // What the user sees is what the program has drawn, and a click cannot overtake the
      // window's first paint.
      return Settle(hwnd, NumberArg(w, 2, 5000)) ? Ok() : Fail("not settled");
    }
    if (c == "syscommand") {
      return PostMessageA(hwnd, WM_SYSCOMMAND, NumberArg(w, 2, 0), 0) ? Ok() : Fail("not posted");
    }
    return Fail("unknown command " + c);
  }

  // Waits for the window to become the foreground window, as it is for the user.
  Json Activate(HWND hwnd, DWORD timeoutMs) {
    HWND active = WaitFor(timeoutMs, [&]() -> HWND {
      HWND fg = GetForegroundWindow();
      return fg == hwnd ? fg : nullptr;
    });
    if (!active) return Fail("not active").Add("foreground", Describe(GetForegroundWindow()));
    // Wine leaves the caption drawn inactive when a dialog took the focus while still hidden
    // (WM_INITDIALOG returning TRUE); Windows draws it active. Redraw the frame of the active
    // window as what it is; the window's own state is not changed.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &thread) && thread.hwndActive == hwnd) {
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(hwnd, WM_NCACTIVATE, TRUE, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
    }
    return Ok();
  }

  Json MessageBoxCommand(const std::vector<std::string>& w) {
    HWND box = WaitFor(NumberArg(w, 1, 10000), FindMessageBox);
    if (!box) return Fail("timeout").Add("windows", ListTopLevel());
    Settle(box, 5000);
    Json described = DescribeMessageBox(box);
    if (w[0] == "msgbox") return Ok().Add("box", described);
    int button = static_cast<int>(NumberArg(w, 2, 0));
    if (!button) button = GetDlgItem(box, IDOK) && IsWindowVisible(GetDlgItem(box, IDOK)) ? IDOK : IDCANCEL;
    HWND control = GetDlgItem(box, button);
    if (!control) return Fail("no button " + std::to_string(button)).Add("box", described);
    bool finished = false;
    std::string refused = Click(control, finished);
    if (!refused.empty()) return Fail(refused).Add("box", described);
    HWND closed = WaitFor(5000, [&]() -> HWND { return IsWindow(box) ? nullptr : box; });
    return closed ? Ok().Add("box", described) : Fail("message box stayed").Add("box", described);
  }

  Json Start(const std::vector<std::string>& w) {
    if (w.size() < 2) return Fail("missing program");
    if (process) return Fail("a program is already started");
    PROCESS_INFORMATION started = {};
    const std::string refused = Launch(w, 3, started);
    if (!refused.empty()) return Fail(refused);
    CloseHandle(started.hThread);
    process = started.hProcess;
    watcher.reset();
    watcher = std::make_unique<Watcher>(process, started.dwProcessId);
    return Ok().Add("pid", static_cast<unsigned long>(started.dwProcessId));
  }

  Json RunBeside(const std::vector<std::string>& w) {
    if (w.size() < 4) return Fail("usage: run EXE OUTPUT MS [NAME=VALUE...]");
    const DWORD begun = GetTickCount();
    PROCESS_INFORMATION started = {};
    const std::string refused = Launch(w, 4, started);
    if (!refused.empty()) return Fail(refused);
    CloseHandle(started.hThread);
    const bool ended = WaitForSingleObject(started.hProcess, NumberArg(w, 3, 10000)) == WAIT_OBJECT_0;
    const unsigned long ranMs = GetTickCount() - begun;
    DWORD code = 0;
    if (ended) {
      GetExitCodeProcess(started.hProcess, &code);
    } else {
      TerminateProcess(started.hProcess, 1);
      WaitForSingleObject(started.hProcess, 5000);
    }
    CloseHandle(started.hProcess);
    if (!ended) return Fail("still running").Add("ms", ranMs);
    return Ok().Add("code", static_cast<unsigned long>(code)).Add("ms", ranMs);
  }

  // Starts w[1] with its output going to the file w[2], if given. The NAME=VALUE words from
  // w[firstName] on go into the environment it inherits (and stay for programs started later):
  // how a test names the emulated deck's scenario. What went wrong, or "".
  std::string Launch(const std::vector<std::string>& w, size_t firstName, PROCESS_INFORMATION& started) {
    for (size_t i = firstName; i < w.size(); ++i) {
      const size_t equals = w[i].find('=');
      if (equals == std::string::npos || equals == 0) return "not NAME=VALUE: " + w[i];
      SetEnvironmentVariableW(WideFromUtf8(w[i].substr(0, equals)).c_str(),
                              WideFromUtf8(w[i].substr(equals + 1)).c_str());
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = INVALID_HANDLE_VALUE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (w.size() >= 3) {
      output = CreateFileW(WideFromUtf8(w[2]).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (output == INVALID_HANDLE_VALUE) return "cannot create " + w[2];
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = startup.hStdError = output;
    }
    std::wstring commandLine = L"\"" + WideFromUtf8(w[1]) + L"\"";
    BOOL ok = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0,
                             nullptr, nullptr, &startup, &started);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!ok) return "cannot start " + w[1] + " (error " + std::to_string(GetLastError()) + ")";
    return "";
  }

  Json Exit(const std::vector<std::string>& w) {
    if (!process) return Fail("no program started");
    if (WaitForSingleObject(process, NumberArg(w, 1, 10000)) != WAIT_OBJECT_0) return Fail("still running");
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    watcher->Finish();  // its last pass marks what the program left as gone
    Json ended = watcher->Ended();
    Json windows = watcher->Seen();
    CloseHandle(process);
    process = nullptr;
    return Ok().Add("code", static_cast<unsigned long>(code)).Add("program", ended).Add("windows", windows);
  }

  Json Kill() {
    if (!process) return Fail("no program started");
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    watcher.reset();
    CloseHandle(process);
    process = nullptr;
    return Ok();
  }

  HANDLE process = nullptr;
  std::unique_ptr<Watcher> watcher;  // of `process`, which must outlive its watching
};

}  // namespace

int main() {
  // The answers are UTF-8 lines for a Python reader: no CR LF translation either way.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  Session session;
  char buffer[8192];
  while (std::fgets(buffer, sizeof buffer, stdin)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::vector<std::string> words = Split(line);
    if (words.empty()) continue;
    if (words[0] == "quit") {
      std::printf("%s\n", Ok().Text().c_str());
      std::fflush(stdout);
      break;
    }
    std::printf("%s\n", session.Run(words).Text().c_str());
    std::fflush(stdout);
  }
  return 0;
}
