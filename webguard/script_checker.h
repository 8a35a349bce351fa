#pragma once
// The content check of pending files and the whole-folder scan that queues files for it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "webguard/script_text.h"
#include "webguard/signature_set.h"
#include "webguard/views_scan.h"
#include "webguard/watcher_file.h"

class IClock;

extern const char kSuspiciousType[];  // "可疑"
extern const char kUnreadableType[];  // "无法读取": the file could not be read for its check
extern const char kDeletedType[];     // "已删除": the file was gone before its check
// Logged and told once per checker when a round ended in an unexpected failure and the
// checker went on with the next.
extern const char kCheckerRestartedMessage[];
// Logged (with the count) and told once per overflow when the pending files reach
// kMaxPendingFiles and the watcher leaves changes unqueued.
extern const char kBacklogFullMessage[];
// The files waiting for their check, queued and taken over, are at most this many: the
// watcher counts and tells what it could not queue, the folder scan waits for room.
constexpr size_t kMaxPendingFiles = 50000;
// A path's row that went to the log keeps the path from a new row (and alert) this long.
constexpr int64_t kRowQuietMs = 3600 * 1000;
extern const char kScanCaption[];     // "开始扫描"
extern const char kNoScanFolderMessage[];  // "请选择防护网站路径后再扫描!"
extern const char kScanStartingStatus[];   // "开始扫描文件请等待..."
// Shown once per checker when files cannot be checked for want of the signature library.
extern const char kLibraryMissingMessage[];
// An upload is checked once its first notice is this old, so that the upload has finished;
// uploads wait side by side, none behind another.
constexpr int kUploadSettleMs = 20000;
// A file that could not be read is tried again this often, a settle time apart.
constexpr int kUnreadableRetries = 3;
// A scan that finds the backlog full waits this long before it looks for room again.
constexpr int kScanRoomWaitMs = 50;
constexpr int kCheckerPauseMs = 30;
// An idle checker with a wake signal waits for it this long at most, so a missed signal costs
// a few seconds, not a file.
constexpr int kCheckerIdleWaitMs = 5000;

// The signature library: the list it hands out for one check.
class IScriptLibrary {
 public:
  virtual ~IScriptLibrary() = default;
  virtual bool Loaded() = 0;
  // Calls the library's export once on the zeroed array; false when the export is missing.
  virtual bool FetchSignatures(const char** entries, int* count) = 0;
};

class ISleeper {
 public:
  virtual ~ISleeper() = default;
  virtual void Sleep(int milliseconds) = 0;
  // Milliseconds of a clock that only moves forward (the system's tick count).
  virtual int64_t NowMs() = 0;
};

// What an idle checker sleeps on: the producers signal it once they have queued a file, and
// so does whatever stops the checker.
class IWakeSignal {
 public:
  virtual ~IWakeSignal() = default;
  // Forgets earlier signals; called before the checker looks at the list, so a file queued
  // after the look still wakes it.
  virtual void Arm() = 0;
  virtual void Signal() = 0;
  // Returns when signalled or after the time.
  virtual void Wait(int maxMilliseconds) = 0;
};

// The website protection window as the checker and the scan see it: its result list, its
// scan controls and its message box.
class IWebGuardView {
 public:
  virtual ~IWebGuardView() = default;
  virtual int RowCount() = 0;
  // Columns ID, 文件名, 类型, 时间.
  virtual void InsertRow(int index, const std::string& id, const std::string& file,
                         const std::string& type, const std::string& time) = 0;
  // Whether this file has a row of this type that still stands: one in the list, or one that
  // went to the log less than kRowQuietMs ago (nowMs: the checker's clock). Such a file adds
  // no second row, and so no second alert, whatever its content has become: one row per path
  // until the administrator clears the list.
  virtual bool HasRow(const std::string& /*file*/, const std::string& /*type*/, int64_t /*nowMs*/) {
    return false;
  }
  // A row, added at nowMs.
  virtual void InsertCheckedRow(int index, const std::string& id, const std::string& file, const std::string& type,
                                const std::string& time, int64_t /*nowMs*/) {
    InsertRow(index, id, file, type, time);
  }
  virtual bool AutoScroll() = 0;
  virtual void ScrollToRow(int index) = 0;
  virtual std::string FolderPath() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetCounter(const std::string& text) = 0;
  virtual void SetProgressRange(int low, int high, int step) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetScanCaption(const std::string& text) = 0;
  virtual bool WindowExists() = 0;
};

struct CWebGuardPorts {
  IWebFileSystem& files;
  IScriptLibrary& library;
  IClock& clock;
  ISleeper& sleeper;
  IWatchListLock& lock;
  CWatcherFileList& pending;
  // Set when the owner of the checker or scan goes away (a host's stop token): they end at
  // their next look and touch neither its window nor the shared flags again.
  const std::atomic<bool>* stop = nullptr;
  // Without one, an idle checker looks again every 30 ms.
  IWakeSignal* wake = nullptr;
  // The website log: a line for every file that could not be read.
  std::function<void(const std::string&)> log = nullptr;
  // Puts the calling thread into background mode (lower processor and I/O priority) or back:
  // the folder scan and the checks of scanned files give way to the server's own work.
  std::function<void(bool)> background = nullptr;

  bool Stopped() const { return stop && stop->load(); }
  void Wake() const {
    if (wake) wake->Signal();
  }
};

enum class CheckOutcome { kClean, kSuspicious, kUnreadable, kGone };

class CScriptChecker {
 public:
  explicit CScriptChecker(const CWebGuardPorts& ports) : m_ports(ports) {}
  // Its scans refer to its own signatures.
  CScriptChecker(const CScriptChecker&) = delete;
  CScriptChecker& operator=(const CScriptChecker&) = delete;

  // Both views of the file against the signatures; *digest: of its whole content.
  CheckOutcome CheckFile(const CWebFile& file, uint64_t* digest);
  // A file that cannot be read counts as a single blank here.
  bool IsScriptSuspicious(const CWebFile& file);
  bool IsScriptSuspicious(const std::string& path) { return IsScriptSuspicious(CWebFile{path, {}}); }
  // One round of the checker: the pending list is taken over under the lock (each file once;
  // an upload becomes due when its first notice is kUploadSettleMs old, a scanned file at
  // once), and the files that are due are checked without the lock. Stopped half way, it
  // gives the files not yet checked back to the list for the next checker.
  void CheckPendingBatch(IWebGuardView& view);
  // Files taken over and not yet checked.
  size_t WaitingCount() const { return m_waiting.size(); }
  // Matcher limits, for tests.
  CSignatureSet& Signatures() { return m_signatures; }
  // The checker thread's body until protection is stopped: rounds 30 ms apart while files come,
  // asleep on the wake signal while none is waiting.
  void RunFileChecker(IWebGuardView& view);

 private:
  struct CWaiting {
    std::unique_ptr<_CWatcherFile> file;
    int64_t nDueMs = 0;
    int nTries = 0;
    bool bToldUnreadable = false;
  };
  void Round(IWebGuardView& view);
  void Restarted(IWebGuardView& view);
  void TakeOver();
  void Check(CWaiting& waiting, IWebGuardView& view);
  void GiveBack(std::vector<CWaiting> waiting);
  // Milliseconds until the next waiting file is due (0 when one is due now).
  int64_t NextDueInMs();

  CWebGuardPorts m_ports;
  std::vector<CWaiting> m_waiting;
  std::vector<CWaiting> m_retries;  // unreadable files of this round, tried again later
  std::unordered_set<std::string> m_waitingKeys;
  CSignatureSet m_signatures;
  // The scans of both views, reused file after file (the checker checks one file at a time).
  CSignatureScan m_bytesScan{m_signatures.Rules()};
  CSignatureScan m_convertedScan{m_signatures.Rules()};
  CViewsScan m_viewsScan{m_bytesScan, m_convertedScan};
  std::vector<const char*> m_entries;
  bool m_bLibraryFailed = false;
  bool m_bLibraryReported = false;
  bool m_bRestartTold = false;
  bool m_bBackground = false;  // this thread is in background mode
  void SetBackground(bool on);
};

// The folder scan thread's body: queues every file below the window's folder for the checker.
void ScanWebFolder(const CWebGuardPorts& ports, IWebGuardView& view);

// Every file below the folder, depth first in the system's order; false when the folder itself
// cannot be read. Paths carry the system's UTF-16 names where the folder has a UTF-16 path.
// A junction or link to a folder is followed, since the site serves what lies behind it, but
// each folder is listed once (by its identity where the system gives one) and at most
// kMaxFolderDepth deep, so a link back up the tree ends. Ends early once stopped() says so.
constexpr int kMaxFolderDepth = 64;
bool ListFilesRecursive(IWebFileSystem& files, const CWebFile& folder, std::vector<CWebFile>* list,
                        const std::function<bool()>& stopped = nullptr);
// Whether the path names a folder that can be read.
bool IsFolder(IWebFileSystem& files, const CWebFile& path);

// The progress bar moves on every files/100+1-th file.
inline int ScanStepWidth(int fileCount) { return fileCount / 100 + 1; }

std::string ScanCounterText(int total, int done);
