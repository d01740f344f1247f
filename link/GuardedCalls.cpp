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
auto GuardedCalls::Waiting(DriverHandle handle, Call call) {
  const std::thread::id me = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> hold(lock);
    waiting.push_back({me, handle});
  }
  auto result = call();
  std::lock_guard<std::mutex> hold(lock);
  waiting.erase(
      std::find_if(waiting.begin(), waiting.end(), [me](const Inside& i) { return i.thread == me; }));
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
  return Waiting(handle, [&] { return calls.IoControl(handle, code, in, inSize, out, outSize); });
}

bool GuardedCalls::Read(DriverHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) {
  return Waiting(handle, [&] { return calls.Read(handle, buffer, size, got); });
}

bool GuardedCalls::Write(DriverHandle handle, const void* data, std::uint32_t size, std::uint32_t& written) {
  return Waiting(handle, [&] { return calls.Write(handle, data, size, written); });
}

bool GuardedCalls::Close(DriverHandle handle) {
  {
    std::lock_guard<std::mutex> hold(lock);
    if (std::find(endedIn.begin(), endedIn.end(), handle) != endedIn.end()) return true;
  }
  return Waiting(handle, [&] { return calls.Close(handle); });
}

void GuardedCalls::CancelIo(std::thread& thread, DriverHandle handle) {
  calls.CancelIo(thread, handle);
}

void GuardedCalls::EndThread(std::thread& thread) {
  calls.EndThread(thread);
}

bool GuardedCalls::EndIfWaiting(std::thread& thread) {
  std::lock_guard<std::mutex> hold(lock);
  if (!thread.joinable()) return false;
  const std::thread::id id = thread.get_id();
  const auto it =
      std::find_if(waiting.begin(), waiting.end(), [id](const Inside& i) { return i.thread == id; });
  if (it == waiting.end()) return false;
  calls.EndThread(thread);
  // A thread that left the driver's call just now cannot be ended: it is on its way out and will
  // be joined as usual.
  if (thread.joinable()) return false;
  endedIn.push_back(it->handle);
  waiting.erase(it);
  return true;
}
