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

class CWatchRounds {
 public:
  CWatchRounds(IDirectoryChanges& changes, IWebFileSystem& files, IClock& clock,
               std::function<void(const std::string&)> log)
      : m_changes(changes), m_files(files), m_clock(clock), m_log(std::move(log)) {}

  // Reads and queues until stopped. The next read is started before the list lock is waited
  // for, so notices that arrive while the checker holds the lock are kept by the system.
  void Run(const CWatchTarget& target);
  // One round's queueing of the notices of a read.
  void Queue(const std::vector<CNotice>& notices, const CWatchTarget& target);
  // After lost notices: queues every watched file below the folder for the check, and logs it.
  void Rescan(const CWatchTarget& target);

 private:
  void Append(std::vector<std::unique_ptr<_CWatcherFile>> records, const CWatchTarget& target);

  IDirectoryChanges& m_changes;
  IWebFileSystem& m_files;
  IClock& m_clock;
  std::function<void(const std::string&)> m_log;
};

// Pause before a read is tried again after the folder could not be read.
constexpr int kWatchRetryPauseMs = 100;
