#pragma once
// The web directory watcher: one thread reading the folder's change notices (whole sub-tree)
// and queueing every added file of a monitored type for the content check.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "webguard/watcher_file.h"

extern const char kWatcherFailureMessage[];  // "错误在这里！"

class CDirWatcher {
 public:
  CDirWatcher();
  ~CDirWatcher();
  CDirWatcher(const CDirWatcher&) = delete;
  CDirWatcher& operator=(const CDirWatcher&) = delete;

  // Starts the thread on the folder; returns its handle (null when it could not start).
  HANDLE Start(const std::string& path, CWatcherFileList* files, const std::string* types,
               int typeCount);
  // Ends the thread and closes the folder. Once it returns, nothing more is queued.
  void Stop();

  // Set to 1 by the owner once started; files are queued only while bEnabled is non-zero.
  std::atomic<int32_t> bEnabled{0};
  int32_t bCompanion[3] = {0, 0, 0};
  CWatcherFileList* pFiles = nullptr;
  const std::string* pTypes = nullptr;
  int nTypes = 0;
  std::string strPath;
  HANDLE hThread = nullptr;
  HANDLE hDir = INVALID_HANDLE_VALUE;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  bool ReadOnce(FILE_NOTIFY_INFORMATION* buffer, DWORD size, DWORD* received);
  void HandleNotices(const uint8_t* notices, DWORD bytes);
  void HandleNotice(const FILE_NOTIFY_INFORMATION& notice);

  HANDLE m_hStop = nullptr;     // manual reset: set by Stop
  HANDLE m_hIoDone = nullptr;   // the overlapped read's event
};
