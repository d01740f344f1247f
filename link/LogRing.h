// LogRing: a fixed ring of 51 diagnostic texts, written from both threads and never read back
// by the program (tests read it through Snapshot).
#pragma once

#include <mutex>
#include <string>
#include <vector>

class LogRing {
 public:
  static constexpr int kSlots = 51;

  // Stores the text in the next slot and advances the index, wrapping after slot 50. One append
  // is one step under the ring's own lock, which no caller holds across anything else.
  void Append(std::string text);

  // The messages in the order they were appended, oldest first (at most 51).
  std::vector<std::string> Snapshot() const;

 private:
  mutable std::mutex lock;
  std::string slots[kSlots];
  int nextSlot = 0;
  int used = 0;
};
