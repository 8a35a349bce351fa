#pragma once
// What the vendor service client needs from the system: one HTTP GET, the status lock and a
// way to run a request on a thread of its own. Win32 sides live in alerts/*_win32.*.
#include <functional>
#include <mutex>
#include <string>

#include "common/lock_port.h"

// How far a request came, for a caller that must not send anything twice.
enum class HttpOutcome {
  kAnswered,  // a success status came back: the service has the request
  kRefused,   // the service answered with an error status
  kNotSent,   // the request never reached the service (no connection)
  kNoAnswer,  // it may have reached the service, but no status came back in time
};

struct CHttpAnswer {
  std::string strBody;
  HttpOutcome outcome = HttpOutcome::kNoAnswer;
};

class IHttpPort {
 public:
  virtual ~IHttpPort() = default;
  // The whole response body, or "" on any failure.
  virtual std::string FetchUrl(const std::string& url) = 0;
  // The body with how far the request came. A port that cannot tell counts an empty answer
  // as one that may have reached the service.
  virtual CHttpAnswer Fetch(const std::string& url) {
    CHttpAnswer answer{FetchUrl(url), HttpOutcome::kAnswered};
    if (answer.strBody.empty()) answer.outcome = HttpOutcome::kNoAnswer;
    return answer;
  }
};

// The lock that serialises the background requests and guards the status figures. Request
// threads hold it across their HTTP requests, so the user-interface thread only ever tries it
// and skips its refresh while it is busy.
class IStatusLock : public ILockPort {
 public:
  virtual bool TryLock() = 0;  // at once: true when it is now held
};
using CStatusLockGuard = CLockPortGuard;

// A lock that is held only for moments, never across a request, so any thread may wait for it.
class CShortLock : public IStatusLock {
 public:
  void Lock() override { m_mutex.lock(); }
  bool TryLock() override { return m_mutex.try_lock(); }
  void Unlock() override { m_mutex.unlock(); }

 private:
  std::mutex m_mutex;
};

// Starts a short-lived worker that is never joined.
class IThreadStarter {
 public:
  virtual ~IThreadStarter() = default;
  virtual void Start(std::function<void()> work) = 0;
};
