#pragma once
// The status mutex and the worker threads of the vendor service requests.
#include <windows.h>

#include "alerts/service_ports.h"

// Unnamed; created by the main window as the third of its three mutexes.
extern HANDLE g_hStatusMutex;
HANDLE CreateStatusMutex();

// Request threads wait for g_hStatusMutex without limit (their requests are bounded); the
// user-interface thread only tries it. The same thread releases it.
class CWin32StatusLock : public IStatusLock {
 public:
  void Lock() override;
  bool TryLock() override;
  void Unlock() override;
};

// One thread per request with default attributes; its handle is closed at once.
class CWin32Threads : public IThreadStarter {
 public:
  void Start(std::function<void()> work) override;
};
