#include "webguard/web_guard_win32.h"

#include "common/process_state.h"
#include "config/settings.h"
#include "common/clock.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "ui/window_post_win32.h"
#include "webguard/webguard_ports_win32.h"

// Background mode lowers the thread's processor and I/O priority (Windows Vista and later);
// where the system refuses it, the thread at least runs at the lowest priority.
void SetBackgroundMode(bool on) {
  if (SetThreadPriority(GetCurrentThread(), on ? THREAD_MODE_BACKGROUND_BEGIN : THREAD_MODE_BACKGROUND_END)) return;
  SetThreadPriority(GetCurrentThread(), on ? THREAD_PRIORITY_LOWEST : THREAD_PRIORITY_NORMAL);
}

namespace {

void WriteWatchLog(const std::string& text) {
  CWin32LogFileSystem logs;
  AppendLog(logs, text, kLogFolder, kWatchLogPrefix);
}

// The window as the results reach it: posts to a handle that is checked first.
class CPostingWindow : public IGuardWindow {
 public:
  explicit CPostingWindow(HWND window) : m_hWnd(window) {}
  bool Changed() override { return PostToWindow(m_hWnd, kGuardChangedMessage); }
  void Message(const std::string& text) override {
    PostPayload(m_hWnd, kGuardTextMessage, std::make_unique<std::string>(text));
  }
  bool Exists() override { return IsWindow(m_hWnd) != FALSE; }

 private:
  HWND m_hWnd;
};

// The ports of one worker thread, made on the user-interface thread when the worker starts:
// its library reference keeps the signature library loaded, and its stop token tells it that
// its owner is gone (or, for a scan, that it was called off).
struct CWorkerPorts {
  explicit CWorkerPorts(std::shared_ptr<std::atomic<bool>> token) : stop(std::move(token)) {}
  std::shared_ptr<std::atomic<bool>> stop;
  CWin32WebFileSystem files;
  CWin32ScriptLibrary library;
  CSystemClock clock;
  CWin32Sleeper sleeper;
  CWatchFileMutexLock lock;
  CWatchFileWake wake;
  CWebGuardPorts ports{files, library, clock, sleeper, lock, g_WatchFileList, stop.get(), &wake, WriteWatchLog,
                       SetBackgroundMode};
};

template <typename Body>
struct CWork {
  std::shared_ptr<CGuardResults> results;
  std::unique_ptr<CWorkerPorts> ports;
  Body body;
};

template <typename Body>
DWORD WINAPI WorkerMain(void* p) {
  std::unique_ptr<CWork<Body>> work(static_cast<CWork<Body>*>(p));
  try {
    work->body(work->ports->ports, *work->results);
  } catch (...) {
    // an exception ends this worker, never the program
  }
  return 0;
}

// Runs body on a new thread that keeps the results and its own ports alive until it ends.
template <typename Body>
void StartWorker(std::shared_ptr<CGuardResults> results, std::shared_ptr<std::atomic<bool>> stop, Body body) {
  auto* work = new CWork<Body>{std::move(results), std::make_unique<CWorkerPorts>(std::move(stop)), std::move(body)};
  const HANDLE thread = CreateThread(nullptr, 0, WorkerMain<Body>, work, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    delete work;
  }
}

}  // namespace

bool CWebGuard::Create(HWND window) {
  if (m_bCreated) return true;
  CreateWatchFileMutex();
  LoadScriptLibrary();
  m_hWnd = window;
  m_pStop = std::make_shared<std::atomic<bool>>(false);
  NewWatcher();
  m_pResults = std::make_shared<CGuardResults>(std::make_unique<CPostingWindow>(window));
  m_bCheckerStarted = false;
  m_bUploadProtect = false;
  m_bCreated = true;
  return true;
}

void CWebGuard::NewWatcher() {
  m_pWatcher = std::make_unique<CDirWatcher>();
  const HWND window = m_hWnd;
  CWatchReports reports;
  // The window shows protection on only while the watcher watches.
  reports.watching = [window](bool) { PostToWindow(window, kGuardChangedMessage); };
  reports.message = [window](const std::string& text) {
    PostPayload(window, kGuardTextMessage, std::make_unique<std::string>(text));
  };
  m_pWatcher->SetReports(std::move(reports));
}

void CWebGuard::StopWatcher() {
  if (!m_pWatcher) return;
  if (!m_pWatcher->Stop()) {
    // Its thread did not end in time and still uses it: it is left to that thread, which ends
    // at its next look at the stop it has been given.
    static_cast<void>(m_pWatcher.release());
    NewWatcher();
  }
}

bool CWebGuard::Watching() const { return m_pWatcher && m_bUploadProtect && m_pWatcher->Watching(); }

void CWebGuard::Destroy() {
  if (!m_bCreated) return;
  m_bCreated = false;
  *m_pStop = true;
  WakeWatchFileChecker();  // an idle checker sees the token now
  if (m_pScan) *m_pScan = true;
  m_pScan.reset();
  g_bScanning = 0;
  StopUploadProtection();
  if (m_pWatcher && m_pWatcher->hThread) {
    static_cast<void>(m_pWatcher.release());  // a thread that did not end keeps it
  }
  m_pWatcher.reset();
  FreeScriptLibrary();
}

bool CWebGuard::StartUploadProtection() {
  if (!m_pWatcher || g_Settings.watchfilepath.empty()) return false;
  StopWatcher();
  m_pWatcher->Start(g_Settings.watchfilepath, &g_WatchFileList, g_Settings.watchfileext.data(), kWatchTypeCount);
  m_pWatcher->bEnabled = 1;
  for (int32_t& flag : m_pWatcher->bCompanion) flag = 1;
  m_bUploadProtect = true;
  return true;
}

void CWebGuard::StopUploadProtection() {
  StopWatcher();
  m_bUploadProtect = false;
}

void CWebGuard::ToggleFolderScan(const std::string& folder) {
  if (!m_pResults) return;
  if (g_bScanning) {
    g_bScanning = 0;
    m_pResults->CallOff(m_pScan);
    m_pScan.reset();
    return;
  }
  g_bScanning = 1;
  m_pResults->SetFolder(folder);
  // The scan ends on its own token: set when it is called off or when this side goes.
  m_pScan = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<bool>> stop = m_pScan;
  StartWorker(m_pResults, stop, [stop](const CWebGuardPorts& ports, CGuardResults& results) {
    const std::unique_ptr<IWebGuardView> view = results.ScanView(stop);
    ScanWebFolder(ports, *view);
  });
}

void CWebGuard::StartCheckerOnce() {
  if (m_bCheckerStarted || !m_pResults) return;
  m_bCheckerStarted = true;
  // One checker per window, for as long as protection runs; it keeps its signature cache.
  StartWorker(m_pResults, m_pStop, [](const CWebGuardPorts& ports, CGuardResults& results) {
    CScriptChecker checker(ports);
    checker.RunFileChecker(results);
  });
}
