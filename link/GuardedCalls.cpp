#include "link/GuardedCalls.h"

#include <algorithm>

namespace {
// Room for the worker and the writers a session runs at once, so that marking never allocates.
constexpr std::size_t kThreads = 8;
}  // namespace

GuardedCalls::GuardedCalls(DriverCalls& calls) : calls(calls) {
  waiting.reserve(kThreads);
}

template <typename Call>
auto GuardedCalls::Waiting(Call call) {
  const std::thread::id me = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> hold(lock);
    waiting.push_back(me);
  }
  auto result = call();
  std::lock_guard<std::mutex> hold(lock);
  waiting.erase(std::find(waiting.begin(), waiting.end(), me));
  return result;
}

bool GuardedCalls::InterfacePath(std::uint32_t index, std::string& path) {
  return calls.InterfacePath(index, path);
}

DriverHandle GuardedCalls::Open(const char* path) {
  return calls.Open(path);
}

bool GuardedCalls::IoControl(DriverHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                             void* out, std::uint32_t outSize) {
  return Waiting([&] { return calls.IoControl(handle, code, in, inSize, out, outSize); });
}

bool GuardedCalls::Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) {
  return Waiting([&] { return calls.Read(handle, buffer, size, got); });
}

bool GuardedCalls::Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) {
  return Waiting([&] { return calls.Write(handle, data, size, written); });
}

bool GuardedCalls::Close(DriverHandle handle) {
  return Waiting([&] { return calls.Close(handle); });
}

void GuardedCalls::CancelIo(std::thread& thread, DriverHandle handle) {
  calls.CancelIo(thread, handle);
}

void GuardedCalls::EndThread(std::thread& thread) {
  calls.EndThread(thread);
}

bool GuardedCalls::EndIfWaiting(std::thread& thread) {
  std::lock_guard<std::mutex> hold(lock);
  if (!thread.joinable() || std::find(waiting.begin(), waiting.end(), thread.get_id()) == waiting.end())
    return false;
  calls.EndThread(thread);
  // A thread that left the driver's call just now cannot be ended: it is on its way out and will
  // be joined as usual.
  return !thread.joinable();
}
