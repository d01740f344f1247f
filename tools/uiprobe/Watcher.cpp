#include "tools/uiprobe/Watcher.h"

#include <psapi.h>

#include <algorithm>
#include <cstdint>

#include "tools/uiprobe/Probe.h"

namespace {
// Often enough to see a window that shows for a moment, seldom enough to cost the program little.
const DWORD kLookEveryMs = 10;

double Milliseconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 10000.0;
}

unsigned long long Handle(HWND hwnd) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd));
}
}  // namespace

Watcher::Watcher(HANDLE process, DWORD pid)
    : process(process), pid(pid), stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  thread = std::thread(&Watcher::Run, this);
}

Watcher::~Watcher() {
  SetEvent(stop);
  if (thread.joinable()) thread.join();
  CloseHandle(stop);
}

void Watcher::Finish() {
  if (thread.joinable()) thread.join();
}

double Watcher::Now() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

void Watcher::Run() {
  HANDLE both[2] = {stop, process};
  for (;;) {
    Look();
    const DWORD woke = WaitForMultipleObjects(2, both, FALSE, kLookEveryMs);
    if (woke == WAIT_OBJECT_0) return;
    if (woke == WAIT_OBJECT_0 + 1) break;
  }
  // The program has ended: whatever it left is gone with it.
  const double now = Now();
  std::lock_guard<std::mutex> hold(lock);
  endedMs = now;
  for (Sighting& s : seen)
    if (s.goneMs < 0) s.goneMs = now;
}

void Watcher::Look() {
  struct Pass {
    DWORD pid;
    std::vector<HWND> shown;
  } pass = {pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM p) CALLBACK -> BOOL {
        auto* pass = reinterpret_cast<Pass*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == pass->pid && IsWindowVisible(hwnd)) pass->shown.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&pass));
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  const bool measured = GetProcessMemoryInfo(process, &memory, sizeof memory);
  const double now = Now();
  std::lock_guard<std::mutex> hold(lock);
  if (measured) {
    peakWorkingSet = std::max(peakWorkingSet, memory.PeakWorkingSetSize);
    peakPagefile = std::max(peakPagefile, memory.PeakPagefileUsage);
  }
  for (Sighting& s : seen) {
    if (s.goneMs < 0 && std::find(pass.shown.begin(), pass.shown.end(), s.hwnd) == pass.shown.end())
      s.goneMs = now;
  }
  for (HWND hwnd : pass.shown) {
    // A handle seen before and gone since may come back on a new window: that is a new window.
    const bool known = std::any_of(seen.begin(), seen.end(),
                                   [&](const Sighting& s) { return s.hwnd == hwnd && s.goneMs < 0; });
    if (known) continue;
    char cls[256] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    seen.push_back({hwnd, TextOf(hwnd), cls, GetWindow(hwnd, GW_OWNER), now, -1});
  }
}

Json Watcher::Seen() const {
  std::lock_guard<std::mutex> hold(lock);
  Json list = Json::Array();
  for (const auto& s : seen) {
    list.Push(Json::Object()
                  .Add("hwnd", Handle(s.hwnd))
                  .Add("text", s.caption)
                  .Add("class", s.cls)
                  .Add("owner", Handle(s.owner))
                  .Add("shown_ms", s.shownMs)
                  .Add("gone_ms", s.goneMs));
  }
  return list;
}

Json Watcher::Ended() const {
  Json j = Json::Object();
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    j.Add("wall_ms", Milliseconds(exited) - Milliseconds(created))
        .Add("user_ms", Milliseconds(user))
        .Add("kernel_ms", Milliseconds(kernel));
  }
  std::lock_guard<std::mutex> hold(lock);
  j.Add("peak_working_set", static_cast<unsigned long long>(peakWorkingSet))
      .Add("peak_pagefile", static_cast<unsigned long long>(peakPagefile))
      .Add("watched_ms", endedMs);
  return j;
}
