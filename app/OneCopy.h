// OneCopy: one copy of the program at a time. Two copies would both open the deck and could
// interleave their rewrite requests and blocks, so a second copy touches nothing: it brings the
// running copy's window to the front and ends.
#pragma once

#include <windows.h>

class OneCopy {
 public:
  // Takes the program's place under `name`. When another copy holds it already, brings that copy's
  // window to the front and ends this process at once with exit code 0: it does not return.
  explicit OneCopy(const wchar_t* name);
  ~OneCopy();
  OneCopy(const OneCopy&) = delete;
  OneCopy& operator=(const OneCopy&) = delete;

 private:
  HANDLE place = nullptr;  // a named mapping that holds the first copy's process ID
};
