#pragma once
// The web directory watcher's rounds, apart from the system: which change notices queue a file
// for the check, and what happens when the system lost notices.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "webguard/script_text.h"
#include "webguard/watcher_file.h"

class IClock;

// Notice actions, as the system numbers them.
constexpr uint32_t kNoticeAdded = 1, kNoticeRemoved = 2, kNoticeModified = 3, kNoticeRenamedOld = 4,
                   kNoticeRenamedNew = 5;

// Text of the log line written when the system lost change notices and the folder is rescanned.
extern const char kRescanLogNote[];  // "变动过多,已重新扫描"
// Log lines when the folder cannot be watched (missing, no rights, deleted), and when it can
// again; the message told to the administrator once per outage (the folder follows it).
extern const char kWatchLostLogNote[];     // "无法监视"
extern const char kWatchBackLogNote[];     // "恢复监视,已重新扫描"
extern const char kWatchLostMessage[];     // "网站保护无法监视文件夹,恢复后自动继续:"
// A read failed and the folder opened again at once (it may be a new folder at the path).
extern const char kWatchReopenedLogNote[];  // "文件夹已重新打开,已重新扫描"
extern const char kWatchReopenedMessage[];
// Log note of changes left unqueued because the backlog was full, followed by their count.
extern const char kBacklogFullLogNote[];

// One change notice: the action and the file's name relative to the watched folder, in the
// ANSI code page (for the list and the type rules) and as the system gave it (for opening).
struct CNotice {
  uint32_t action = 0;
  std::string strName;
  std::u16string wstrName;
};

enum class ReadOutcome {
  kNotices,   // the notices of one read
  kOverflow,  // more changes than the system could keep: notices were lost
  kFailed,    // the read failed; it is tried again
  kStopped,   // the watcher is being stopped
};

// The folder's change notices and the list lock, as the rounds use them.
class IDirectoryChanges {
 public:
  virtual ~IDirectoryChanges() = default;
  // Starts the next read of notices; false when the folder cannot be read.
  virtual bool Arm() = 0;
  // Waits for the read started by Arm and hands over its notices.
  virtual ReadOutcome Wait(std::vector<CNotice>* notices) = 0;
  // Waits the time unless the watcher is stopped first; false when stopped.
  virtual bool Pause(int milliseconds) = 0;
  // Takes the list lock unless the watcher is stopped first; false when stopped.
  virtual bool LockList() = 0;
  virtual void UnlockList() = 0;
  // Opens the folder again (it may have been deleted, replaced or made since); false when it
  // cannot be opened.
  virtual bool Reopen() { return false; }
  // The watcher is being stopped: long work (a rescan) ends early.
  virtual bool Stopping() { return false; }
};

// What the rounds watch and where they queue.
struct CWatchTarget {
  CWebFile folder;  // as configured, and its UTF-16 form
  const std::string* pTypes = nullptr;
  int nTypes = 0;
  CWatcherFileList* pFiles = nullptr;
  const std::atomic<int32_t>* pEnabled = nullptr;
};

// Notices that queue a file: added, modified, or renamed to this name.
bool IsCheckedAction(uint32_t action);

// The files one read's notices ask to be checked, each once, in the order first noticed: the
// watched types whose last notice leaves the file in place.
std::vector<CNotice> FilesToCheck(const std::vector<CNotice>& notices, const CWatchTarget& target);

// What the rounds tell besides queueing: whether the folder is being watched (true once a
// read is under way, false when it cannot be), and a message for the administrator.
struct CWatchReports {
  std::function<void(bool)> watching;
  std::function<void(const std::string&)> message;
};

class CWatchRounds {
 public:
  CWatchRounds(IDirectoryChanges& changes, IWebFileSystem& files, IClock& clock,
               std::function<void(const std::string&)> log, CWatchReports reports = CWatchReports())
      : m_changes(changes), m_files(files), m_clock(clock), m_log(std::move(log)), m_reports(std::move(reports)) {}

  // Reads and queues until stopped. The next read is started before the list lock is waited
  // for, so notices that arrive while the checker holds the lock are kept by the system. A
  // folder that cannot be read is told once (log line and message) and opened again every
  // kWatchReopenPauseMs; once it opens, it is rescanned for what came meanwhile.
  void Run(const CWatchTarget& target);
  // One round's queueing of the notices of a read: short (8.3) names are taken in their long
  // form, and the watched files below a folder that arrives (made, moved or renamed into the
  // site) are queued with it.
  void Queue(const std::vector<CNotice>& notices, const CWatchTarget& target);
  // After lost notices: queues every watched file below the folder for the check, and logs it.
  void Rescan(const CWatchTarget& target, const char* note = kRescanLogNote);
  // Changes left unqueued so far because kMaxPendingFiles files were waiting.
  size_t DroppedCount() const { return m_nDropped; }

 private:
  void Append(std::vector<std::unique_ptr<_CWatcherFile>> records, const CWatchTarget& target);
  CNotice LongNamed(const CNotice& notice, const CWatchTarget& target);
  void Log(const CWatchTarget& target, const char* note);
  void SetWatching(bool watching);

  IDirectoryChanges& m_changes;
  IWebFileSystem& m_files;
  IClock& m_clock;
  std::function<void(const std::string&)> m_log;
  CWatchReports m_reports;
  int m_nWatching = -1;  // last state told: -1 none yet
  size_t m_nDropped = 0;
  bool m_bBacklogTold = false;  // the overflow going on was told
};

// Pause before a folder that could not be read is opened again.
constexpr int kWatchReopenPauseMs = 2000;
