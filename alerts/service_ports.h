#pragma once
// What the vendor service client needs from the system: one HTTP GET, the status lock and a
// way to run a request on a thread of its own. Win32 sides live in alerts/*_win32.*.
#include <functional>
#include <string>

class IHttpPort {
 public:
  virtual ~IHttpPort() = default;
  // The whole response body, or "" on any failure.
  virtual std::string FetchUrl(const std::string& url) = 0;
};

// The lock that serialises the background requests and guards the status figures.
class IStatusLock {
 public:
  virtual ~IStatusLock() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// Holds the lock for one scope, so it is released on every path, exceptions included.
class CStatusLockGuard {
 public:
  explicit CStatusLockGuard(IStatusLock& lock) : m_lock(lock) { m_lock.Lock(); }
  ~CStatusLockGuard() { m_lock.Unlock(); }
  CStatusLockGuard(const CStatusLockGuard&) = delete;
  CStatusLockGuard& operator=(const CStatusLockGuard&) = delete;

 private:
  IStatusLock& m_lock;
};

// Starts a short-lived worker that is never joined.
class IThreadStarter {
 public:
  virtual ~IThreadStarter() = default;
  virtual void Start(std::function<void()> work) = 0;
};
