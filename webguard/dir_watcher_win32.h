#pragma once
// The web directory watcher: one thread reading the folder's change notices (whole sub-tree)
// and queueing every added, modified or renamed-in file of a monitored type for the content
// check (webguard/watch_rounds.h holds the rules).
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "webguard/watch_rounds.h"
#include "webguard/watcher_file.h"

extern const char kWatcherFailureMessage[];  // "错误在这里！"

// Change notices asked of the system: file names (added, removed, renamed) and last writes.
constexpr DWORD kWatchNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

class CDirWatcher : private IDirectoryChanges {
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

  bool Arm() override;
  ReadOutcome Wait(std::vector<CNotice>* notices) override;
  bool Pause(int milliseconds) override;
  bool LockList() override;
  void UnlockList() override;

  HANDLE m_hStop = nullptr;    // manual reset: set by Stop
  HANDLE m_hIoDone = nullptr;  // the overlapped read's event
  OVERLAPPED m_overlapped{};
  std::vector<DWORD> m_buffer;  // DWORD-aligned, as the notices require
};
