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

// Change notices asked of the system: file and folder names (added, removed, renamed; a folder
// moved into the site brings its files without a notice of their own) and last writes.
constexpr DWORD kWatchNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Stop waits this long for the thread; one that does not end by then is left to end by itself.
constexpr DWORD kWatcherStopWaitMs = 5000;
// How often a waiting read looks whether its folder is still there.
constexpr DWORD kWatchFolderCheckMs = 2000;

class CDirWatcher : private IDirectoryChanges {
 public:
  CDirWatcher();
  ~CDirWatcher();
  CDirWatcher(const CDirWatcher&) = delete;
  CDirWatcher& operator=(const CDirWatcher&) = delete;

  // Starts the thread on the folder; returns its handle (null when it could not start).
  HANDLE Start(const std::string& path, CWatcherFileList* files, const std::string* types,
               int typeCount);
  // Ends the thread and closes the folder, waiting at most waitMs. Once it returns true,
  // nothing more is queued. false: the thread did not end in time; it has been told to stop,
  // still uses this object, and ends by itself (the owner must then keep this object alive).
  bool Stop(DWORD waitMs = kWatcherStopWaitMs);
  // Where the thread tells whether it watches and what the administrator must know; set
  // before Start.
  void SetReports(CWatchReports reports) { m_reports = std::move(reports); }
  // The folder is open and a read is under way.
  bool Watching() const { return m_bWatching; }

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
  bool Reopen() override;
  bool Stopping() override;
  bool Open();
  // The open handle is still the folder that the path names.
  bool StillTheFolder();

  HANDLE m_hStop = nullptr;    // manual reset: set by Stop
  HANDLE m_hIoDone = nullptr;  // the overlapped read's event
  OVERLAPPED m_overlapped{};
  std::vector<DWORD> m_buffer;  // DWORD-aligned, as the notices require
  std::u16string m_wstrPath;
  CWatchReports m_reports;
  std::atomic<bool> m_bWatching{false};
};
