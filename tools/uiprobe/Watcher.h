// Watches the program the probe started: every top-level window it shows, in the order they
// appear, with when each appeared and went; and, once it has ended, its processor times and peak
// memory.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/Json.h"

class Watcher {
 public:
  // Starts watching `process` (the handle stays the caller's), whose id is `pid`, from now on.
  Watcher(HANDLE process, DWORD pid);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // Waits for the watching to end once the program has ended.
  void Finish();

  // The windows seen so far, each with caption, class, owner, and the milliseconds since the
  // start at which it was first seen shown and seen gone (-1 while it is still there).
  Json Seen() const;
  // Wall time, processor times and peak memory of the ended program. Call after it has ended.
  // Wine 8 answers GetProcessTimes for another process with the caller's own times: there the
  // processor times are the probe's, and the harness measures the program on the Linux side.
  Json Ended() const;

 private:
  struct Sighting {
    HWND hwnd;
    std::string caption, cls;
    HWND owner;
    double shownMs, goneMs;
  };
  double Now() const;
  void Look();  // one pass over the top-level windows; `lock` not held
  void Run();

  HANDLE process;
  DWORD pid;
  LARGE_INTEGER start, frequency;
  mutable std::mutex lock;
  std::vector<Sighting> seen;
  double endedMs = -1;
  // The system forgets an ended process's memory use: the peaks as last seen while it ran.
  SIZE_T peakWorkingSet = 0, peakPagefile = 0;
  HANDLE stop;
  std::thread thread;
};
