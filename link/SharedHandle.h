// SharedHandle: a driver handle that the worker opens and closes while either thread may borrow it
// for a call. A handle closed while it is lent out is closed by its last borrower when it comes
// back, so it is never used after it is closed, never closed twice, and no lock is held across a
// driver call.
#pragma once

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "link/DriverPort.h"

class SharedHandle {
 public:
  explicit SharedHandle(DriverPort& port) : port(port) {}
  SharedHandle(const SharedHandle&) = delete;
  SharedHandle& operator=(const SharedHandle&) = delete;

  // A handle just opened, in place of none.
  void Set(DriverHandle h) {
    std::lock_guard<std::mutex> hold(lock);
    value = h;
    loans = 0;
  }
  DriverHandle Get() const {
    std::lock_guard<std::mutex> hold(lock);
    return value;
  }
  bool Valid() const { return Get() != kInvalidHandle; }

  // The handle for one call (kInvalidHandle when there is none), given back through Return.
  DriverHandle Borrow() {
    std::lock_guard<std::mutex> hold(lock);
    if (value != kInvalidHandle) ++loans;
    return value;
  }
  void Return(DriverHandle h) {
    if (h == kInvalidHandle) return;
    bool close = false;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (h == value) {
        --loans;
      } else {
        const auto it =
            std::find_if(closed.begin(), closed.end(), [h](const auto& c) { return c.first == h; });
        close = --it->second == 0;
        if (close) closed.erase(it);
      }
    }
    if (close) port.ReleaseHandle(h);
  }

  // Takes the handle out and closes it, or leaves the closing to its last borrower.
  void Close() {
    DriverHandle h;
    {
      std::lock_guard<std::mutex> hold(lock);
      h = std::exchange(value, kInvalidHandle);
      if (h != kInvalidHandle && loans > 0) {
        closed.emplace_back(h, std::exchange(loans, 0));
        h = kInvalidHandle;
      }
    }
    if (h != kInvalidHandle) port.ReleaseHandle(h);
  }

 private:
  DriverPort& port;
  mutable std::mutex lock;
  DriverHandle value = kInvalidHandle;
  int loans = 0;
  std::vector<std::pair<DriverHandle, int>> closed;  // taken out while lent: handle, loans left
};

// Borrows a handle for the life of the object.
class Loan {
 public:
  explicit Loan(SharedHandle& from) : from(from), handle(from.Borrow()) {}
  ~Loan() { from.Return(handle); }
  Loan(const Loan&) = delete;
  Loan& operator=(const Loan&) = delete;
  DriverHandle Handle() const { return handle; }

 private:
  SharedHandle& from;
  const DriverHandle handle;
};
