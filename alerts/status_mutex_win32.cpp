#include "alerts/status_mutex_win32.h"

#include <memory>

HANDLE g_hStatusMutex = nullptr;

HANDLE CreateStatusMutex() {
  if (!g_hStatusMutex) g_hStatusMutex = CreateMutexA(nullptr, FALSE, nullptr);
  return g_hStatusMutex;
}

void CWin32StatusLock::Lock() { WaitForSingleObject(g_hStatusMutex, INFINITE); }

bool CWin32StatusLock::TryLock() {
  const DWORD got = WaitForSingleObject(g_hStatusMutex, 0);
  return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}

void CWin32StatusLock::Unlock() { ReleaseMutex(g_hStatusMutex); }

namespace {
DWORD WINAPI RunWork(LPVOID parameter) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  try {
    (*work)();
  } catch (...) {
  }
  return 0;
}
}  // namespace

void CWin32Threads::Start(std::function<void()> work) {
  auto* owned = new std::function<void()>(std::move(work));
  HANDLE hThread = CreateThread(nullptr, 0, RunWork, owned, 0, nullptr);
  if (hThread)
    CloseHandle(hThread);
  else
    delete owned;
}
