#include "link/LogRing.h"

#include <utility>

void LogRing::Append(std::string text) {
  std::lock_guard<std::mutex> hold(lock);
  slots[nextSlot] = std::move(text);
  nextSlot = nextSlot + 1 > kSlots - 1 ? 0 : nextSlot + 1;
  if (used < kSlots) ++used;
}

std::vector<std::string> LogRing::Snapshot() const {
  std::lock_guard<std::mutex> hold(lock);
  std::vector<std::string> out;
  for (int i = 0; i < used; ++i) out.push_back(slots[(nextSlot - used + i + kSlots) % kSlots]);
  return out;
}
