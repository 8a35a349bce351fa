#pragma once
// One file waiting for its content check, and the process-wide list of them. Every access
// to the list is made while holding the watch-list lock (g_hWatchFileMutex in the program).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/lock_port.h"

struct _CWatcherFile {
  std::string strFile;      // full path in the ANSI code page, as the list shows it
  std::u16string wstrFile;  // full path as the system named it, which the check opens; may be empty
  std::string strAction;  // kActionAdded (watcher) or kActionScanned (folder scan)
  std::string strTime;    // local time of the notice or of the queueing
  int32_t nState = 0;
};

extern const char kActionAdded[];    // "增加"
extern const char kActionScanned[];  // "扫描"
extern const char kAddedTimeFormat[];    // "%m.%d %H:%M:%S"
extern const char kScannedTimeFormat[];  // "%y.%m.%d %H:%M:%S"

using CWatcherFileList = std::vector<std::unique_ptr<_CWatcherFile>>;

// The pending-file list of the process (filled by the watcher and the folder scan, drained by
// the checker).
extern CWatcherFileList g_WatchFileList;

// True while a folder scan runs or is asked for; clearing it stops the scan after its current file.
extern std::atomic<int32_t> g_bScanning;

// The lock around the pending-file list.
using IWatchListLock = ILockPort;
using CWatchListGuard = CLockPortGuard;

std::unique_ptr<_CWatcherFile> MakeWatcherFile(const std::string& path, const char* action,
                                               const std::string& time,
                                               const std::u16string& widePath = std::u16string());

// Whether the list already holds a record of this file that is still to be checked.
bool IsPending(const CWatcherFileList& list, const std::string& path, const std::u16string& widePath);

// Local time text of C time() seconds, in the given strftime format.
std::string FormatLocalTime(int64_t seconds, const char* format);
