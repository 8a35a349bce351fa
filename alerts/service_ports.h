#pragma once
// What the vendor service client needs from the system: one HTTP GET, the status lock and a
// way to run a request on a thread of its own. Win32 sides live in alerts/*_win32.*.
#include <functional>
#include <string>

#include "common/lock_port.h"

class IHttpPort {
 public:
  virtual ~IHttpPort() = default;
  // The whole response body, or "" on any failure.
  virtual std::string FetchUrl(const std::string& url) = 0;
};

// The lock that serialises the background requests and guards the status figures. Request
// threads hold it across their HTTP requests, so the user-interface thread only ever tries it
// and skips its refresh while it is busy.
class IStatusLock : public ILockPort {
 public:
  virtual bool TryLock() = 0;  // at once: true when it is now held
};
using CStatusLockGuard = CLockPortGuard;

// Starts a short-lived worker that is never joined.
class IThreadStarter {
 public:
  virtual ~IThreadStarter() = default;
  virtual void Start(std::function<void()> work) = 0;
};
