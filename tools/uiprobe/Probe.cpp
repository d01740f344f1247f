// The probe's window operations on plain Win32. Calls that reach another process's window
// procedure use time-outs, so a hung or modal program cannot hang the probe.
#include "tools/uiprobe/Probe.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const UINT kSendTimeoutMs = 1000;
// The icon slot of a message box: 20 on Windows, stc1 (0x440) under Wine.
const int kMessageIconIds[] = {20, 0x440};

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

unsigned long long Handle(HWND hwnd) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd));
}

Json Rect(const RECT& r) {
  return Json::Array().Push(r.left).Push(r.top).Push(r.right).Push(r.bottom);
}

bool IsTopLevel(HWND hwnd) {
  return GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow();
}

// The keyboard focus of the thread that owns `hwnd`, or nullptr.
HWND FocusOf(HWND hwnd) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool IsMessageBox(HWND hwnd) {
  if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != "#32770") return false;
  for (int id : kMessageIconIds) {
    HWND icon = GetDlgItem(hwnd, id);
    if (icon && ClassOf(icon) == "Static" && (GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      return true;
  }
  return false;
}

// A 32-bit top-down picture of w x h that starts as `pixels`, after `draw(memory, screen)` has
// drawn on it.
template <class Draw>
std::vector<uint32_t> DrawPixels(std::vector<uint32_t> pixels, int w, int h, Draw draw) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
  draw(memory, screen);
  GdiFlush();
  std::copy(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + pixels.size(), pixels.begin());
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// 32-bit top-down pixels of a screen area.
std::vector<uint32_t> Capture(const RECT& area) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  return DrawPixels(std::vector<uint32_t>(static_cast<size_t>(w) * h), w, h, [&](HDC memory, HDC screen) {
    BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
  });
}

// Wine copies a window's drawing to the screen a moment after it is done: the picture counts once
// two captures 50 ms apart agree (waiting at most a second).
std::vector<uint32_t> CaptureSettled(const RECT& area) {
  std::vector<uint32_t> pixels = Capture(area);
  for (int i = 0; i < 20; ++i) {
    Sleep(50);
    std::vector<uint32_t> again = Capture(area);
    if (again == pixels) break;
    pixels.swap(again);
  }
  return pixels;
}

// The system icon drawn as a static control draws it: on the control's background, at its size.
std::vector<uint32_t> Render(HICON icon, int w, int h, uint32_t background) {
  return DrawPixels(std::vector<uint32_t>(static_cast<size_t>(w) * h, background), w, h,
                    [&](HDC memory, HDC) { DrawIconEx(memory, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL); });
}

// Pixels differing by more than a rounding step in any channel.
size_t Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)) > 8) {
        ++n;
        break;
      }
    }
  }
  return n;
}

std::string MatchIcon(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  std::vector<uint32_t> shown = CaptureSettled(r);
  const struct {
    LPCSTR id;
    const char* name;
  } candidates[] = {{IDI_WARNING, "warning"},
                    {IDI_ERROR, "error"},
                    {IDI_INFORMATION, "information"},
                    {IDI_QUESTION, "question"}};
  std::string best = "unknown";
  size_t bestDifferences = shown.size() / 20 + 1;  // at most 5 % may differ
  for (const auto& c : candidates) {
    size_t d = Differences(shown, Render(LoadIconA(nullptr, c.id), w, h, shown[0]));
    if (d < bestDifferences) {
      bestDifferences = d;
      best = c.name;
    }
  }
  return best;
}

std::string IdentifyIcon(HWND iconControl) {
  if (!iconControl || !IsWindowVisible(iconControl)) return "none";
  RECT r;
  GetClientRect(iconControl, &r);
  MapWindowPoints(iconControl, nullptr, reinterpret_cast<POINT*>(&r), 2);
  if (r.right <= r.left || r.bottom <= r.top) return "none";
  // A box that has only just appeared may not be on the screen in full yet: look again for a
  // moment before calling its icon unknown.
  std::string icon = MatchIcon(r);
  for (int i = 0; i < 10 && icon == "unknown"; ++i) {
    Sleep(100);
    icon = MatchIcon(r);
  }
  return icon;
}

}  // namespace

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
  return out;
}
std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty()) return L"";
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string TextOf(HWND hwnd) {
  if (IsTopLevel(hwnd)) {
    // The system keeps top-level captions itself: no message reaches a busy program.
    wchar_t caption[1024] = {};
    GetWindowTextW(hwnd, caption, 1024);
    return Utf8FromWide(caption);
  }
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
    return "";
  std::vector<wchar_t> text(length + 2, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &copied);
  return Utf8FromWide(text.data());
}

Json Describe(HWND hwnd) {
  Json j = Json::Object();
  RECT r = {};
  GetWindowRect(hwnd, &r);
  const bool topLevel = IsTopLevel(hwnd);
  if (!topLevel) MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  RECT client = {};
  GetClientRect(hwnd, &client);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  const std::string cls = ClassOf(hwnd);
  j.Add("hwnd", Handle(hwnd))
      .Add("class", cls)
      .Add("text", TextOf(hwnd))
      .Add("rect", Rect(r))
      .Add("client", Json::Array().Push(client.right).Push(client.bottom))
      .Add("style", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)))
      .Add("exstyle", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)))
      .Add("visible", IsWindowVisible(hwnd) != FALSE)
      .Add("enabled", IsWindowEnabled(hwnd) != FALSE)
      .Add("pid", static_cast<unsigned long>(pid));
  if (topLevel) {
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &thread);
    j.Add("owner", Handle(GetWindow(hwnd, GW_OWNER)));
    j.Add("active", thread.hwndActive == hwnd);
    j.Add("foreground", GetForegroundWindow() == hwnd);
  } else {
    j.Add("id", static_cast<int>(GetDlgCtrlID(hwnd)));
    j.Add("focused", FocusOf(hwnd) == hwnd);
    if (cls == "Button") {
      DWORD_PTR state = 0;
      SendMessageTimeoutA(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state);
      j.Add("checked", state == BST_CHECKED);
    }
  }
  return j;
}

Json DescribeWithControls(HWND hwnd) {
  Json controls = Json::Array();
  for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    controls.Push(Describe(child));
  }
  return Describe(hwnd).Add("controls", controls);
}

Json ListTopLevel() {
  Json windows = Json::Array();
  EnumWindows(
      [](HWND hwnd, LPARAM p) CALLBACK -> BOOL {
        if (IsWindowVisible(hwnd)) reinterpret_cast<Json*>(p)->Push(Describe(hwnd));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

HWND FindMessageBox() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND hwnd, LPARAM p) CALLBACK -> BOOL {
        if (!IsMessageBox(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(p) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

Json DescribeMessageBox(HWND box) {
  HWND icon = nullptr;
  for (int id : kMessageIconIds) {
    if (!icon) icon = GetDlgItem(box, id);
  }
  std::string text;
  Json buttons = Json::Array();
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string cls = ClassOf(child);
    if (cls == "Button") {
      buttons.Push(
          Json::Object().Add("id", static_cast<int>(GetDlgCtrlID(child))).Add("text", TextOf(child)));
    } else if (cls == "Static" && child != icon && text.empty()) {
      text = TextOf(child);
    }
  }
  return Json::Object()
      .Add("hwnd", Handle(box))
      .Add("caption", TextOf(box))
      .Add("text", text)
      .Add("icon", IdentifyIcon(icon))
      .Add("buttons", buttons)
      .Add("owner", Handle(GetWindow(box, GW_OWNER)))
      .Add("style", static_cast<unsigned long>(GetWindowLongA(box, GWL_STYLE)))
      .Add("exstyle", static_cast<unsigned long>(GetWindowLongA(box, GWL_EXSTYLE)));
}

bool Settle(HWND hwnd, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD_PTR ignored = 0;
    bool painted = SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) &&
                   !GetUpdateRect(hwnd, nullptr, FALSE);
    for (HWND child = GetWindow(hwnd, GW_CHILD); painted && child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) painted = false;
    }
    if (painted) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
}

std::string Click(HWND control, bool& finished) {
  finished = false;
  if (!IsWindowVisible(control)) return "hidden";
  if (!IsWindowEnabled(control)) return "disabled";
  DWORD_PTR ignored = 0;
  finished = SendMessageTimeoutA(control, BM_CLICK, 0, 0, SMTO_NORMAL, 500, &ignored) != 0;
  return "";
}

bool SaveScreenshot(HWND hwnd, const std::wstring& path, SIZE& size) {
  RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (hwnd && !GetWindowRect(hwnd, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  size = {w, h};
  std::vector<uint32_t> pixels = CaptureSettled(r);
  const int stride = (w * 3 + 3) & ~3;
  std::vector<unsigned char> rows(static_cast<size_t>(stride) * h, 0);
  for (int y = 0; y < h; ++y) {  // BMP rows run bottom up
    unsigned char* out = &rows[static_cast<size_t>(h - 1 - y) * stride];
    for (int x = 0; x < w; ++x) {
      uint32_t p = pixels[static_cast<size_t>(y) * w + x];
      out[3 * x] = p & 0xFF;
      out[3 * x + 1] = (p >> 8) & 0xFF;
      out[3 * x + 2] = (p >> 16) & 0xFF;
    }
  }
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {sizeof info, w, h, 1, 24, BI_RGB, static_cast<DWORD>(rows.size()), 0, 0, 0, 0};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(rows.size());
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  bool ok = fwrite(&file, sizeof file, 1, f) == 1 && fwrite(&info, sizeof info, 1, f) == 1 &&
            fwrite(rows.data(), rows.size(), 1, f) == 1;
  return fclose(f) == 0 && ok;
}
