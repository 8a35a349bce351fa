#pragma once
// Port to a lock shared between threads (a Win32 mutex in the program, a fake in tests).
class ILockPort {
 public:
  virtual ~ILockPort() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// Holds the lock for one scope, so it is released on every path, exceptions included.
class CLockPortGuard {
 public:
  explicit CLockPortGuard(ILockPort& lock) : m_lock(lock) { m_lock.Lock(); }
  ~CLockPortGuard() { m_lock.Unlock(); }
  CLockPortGuard(const CLockPortGuard&) = delete;
  CLockPortGuard& operator=(const CLockPortGuard&) = delete;

 private:
  ILockPort& m_lock;
};
