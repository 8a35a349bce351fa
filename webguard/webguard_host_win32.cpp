#include "webguard/webguard_host_win32.h"

#include <algorithm>

#include "app/process_state.h"
#include "app/version.h"
#include "common/clock.h"
#include "ui/handler_guard.h"
#include "ui/window_post_win32.h"
#include "webguard/webguard_ports_win32.h"

namespace {

const char kHostClass[] = "TavrickWebGuardHost";

// The ports of one worker thread, made on the user-interface thread when the worker starts:
// its library reference keeps the signature library loaded, and its stop token tells it that
// its host is gone.
struct CWorkerPorts {
  explicit CWorkerPorts(std::shared_ptr<std::atomic<bool>> token) : stop(std::move(token)) {}
  std::shared_ptr<std::atomic<bool>> stop;
  CWin32WebFileSystem files;
  CWin32ScriptLibrary library;
  CSystemClock clock;
  CWin32Sleeper sleeper;
  CWatchFileMutexLock lock;
  CWebGuardPorts ports{files, library, clock, sleeper, lock, g_WatchFileList, stop.get()};
};

template <typename Body>
struct CWork {
  std::shared_ptr<CWebGuardResults> view;
  std::unique_ptr<CWorkerPorts> ports;
  Body body;
};

template <typename Body>
DWORD WINAPI WorkerMain(void* p) {
  std::unique_ptr<CWork<Body>> work(static_cast<CWork<Body>*>(p));
  try {
    work->body(work->ports->ports, *work->view);
  } catch (...) {
    // an exception ends this worker, never the program
  }
  return 0;
}

// Runs body on a new thread that keeps view and its own ports alive until it ends.
template <typename Body>
void StartWorker(std::shared_ptr<CWebGuardResults> view, std::shared_ptr<std::atomic<bool>> stop, Body body) {
  auto* work = new CWork<Body>{std::move(view), std::make_unique<CWorkerPorts>(std::move(stop)), std::move(body)};
  const HANDLE thread = CreateThread(nullptr, 0, WorkerMain<Body>, work, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    delete work;
  }
}

}  // namespace

std::vector<CWebGuardResults::CRow> CWebGuardResults::Rows() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_rows;
}

void CWebGuardResults::SetFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_strFolder = folder;
}

std::string CWebGuardResults::Status() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_strStatus;
}

std::string CWebGuardResults::Counter() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_strCounter;
}

int CWebGuardResults::ProgressPosition() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_nProgress;
}

int CWebGuardResults::RowCount() {
  std::lock_guard<std::mutex> guard(m_lock);
  return static_cast<int>(m_rows.size());
}

void CWebGuardResults::InsertRow(int index, const std::string& id, const std::string& file,
                                 const std::string& type, const std::string& time) {
  std::lock_guard<std::mutex> guard(m_lock);
  const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), m_rows.size());
  m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), CRow{id, file, type, time});
}

std::string CWebGuardResults::FolderPath() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_strFolder;
}

// Called on the scan thread: the message box is the host window's to show.
void CWebGuardResults::ShowMessage(const std::string& text) {
  PostPayload(m_hWnd, kWebGuardMessage, std::make_unique<std::string>(text));
}

void CWebGuardResults::SetStatus(const std::string& text) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_strStatus = text;
}

void CWebGuardResults::SetCounter(const std::string& text) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_strCounter = text;
}

void CWebGuardResults::SetProgressPosition(int position) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_nProgress = position;
}

bool CWebGuardHost::Create(HWND owner) {
  if (m_hWnd) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kHostClass;
  RegisterClassA(&wc);  // a second registration fails harmlessly
  m_hWnd = CreateWindowExA(0, kHostClass, "", WS_POPUP, 0, 0, 0, 0, owner, nullptr,
                           wc.hInstance, this);
  if (!m_hWnd) return false;
  CreateWatchFileMutex();
  LoadScriptLibrary();
  m_pStop = std::make_shared<std::atomic<bool>>(false);
  m_pWatcher = std::make_unique<CDirWatcher>();
  m_pResults = std::make_shared<CWebGuardResults>(m_hWnd);
  m_pResults->SetFolder(g_Settings.watchfilepath);
  m_bCheckerStarted = false;
  SetTimer(m_hWnd, kCheckerStartTimer, kCheckerStartPeriodMs, nullptr);
  if (g_Settings.watchfileon == "on") StartUploadProtection();
  return true;
}

void CWebGuardHost::Destroy() {
  if (!m_hWnd) return;
  if (m_pStop) *m_pStop = true;
  g_bScanning = 0;
  StopUploadProtection();
  m_pWatcher.reset();
  FreeScriptLibrary();
  DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

bool CWebGuardHost::StartUploadProtection() {
  if (!m_pWatcher || g_Settings.watchfilepath.empty()) return false;
  m_pWatcher->Start(g_Settings.watchfilepath, &g_WatchFileList, g_Settings.watchfileext.data(),
                    kWatchTypeCount);
  m_pWatcher->bEnabled = 1;
  for (int32_t& flag : m_pWatcher->bCompanion) flag = 1;
  m_bUploadProtect = true;
  return true;
}

void CWebGuardHost::StopUploadProtection() {
  if (m_pWatcher) m_pWatcher->Stop();
  m_bUploadProtect = false;
}

void CWebGuardHost::ToggleFolderScan() {
  if (g_bScanning) {
    g_bScanning = 0;
    if (m_pResults) m_pResults->SetStatus("");
    return;
  }
  if (!m_pResults) return;
  g_bScanning = 1;
  m_pResults->SetFolder(g_Settings.watchfilepath);
  StartWorker(m_pResults, m_pStop,
              [](const CWebGuardPorts& ports, CWebGuardResults& view) { ScanWebFolder(ports, view); });
}

void CWebGuardHost::StartCheckerOnce() {
  if (m_bCheckerStarted || !m_pResults) return;
  m_bCheckerStarted = true;
  // One checker per host, for as long as protection runs; it keeps its signature cache.
  StartWorker(m_pResults, m_pStop, [](const CWebGuardPorts& ports, CWebGuardResults& view) {
    CScriptChecker checker(ports);
    checker.RunFileChecker(view);
  });
}

LRESULT CALLBACK CWebGuardHost::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host = reinterpret_cast<CWebGuardHost*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  bool handled = false;
  RunGuarded([&] {
    if (msg == WM_TIMER && wParam == kCheckerStartTimer && host) {
      host->StartCheckerOnce();
      handled = true;
    } else if (msg == kWebGuardMessage) {
      const std::unique_ptr<std::string> text = TakePayload<std::string>(lParam);
      handled = true;
      MessageBoxA(hwnd, text->c_str(), kAppName, MB_OK);
    } else if (msg == WM_DESTROY) {
      DropQueuedPayloads<std::string>(hwnd, kWebGuardMessage);
    }
  });
  return handled ? 0 : DefWindowProcA(hwnd, msg, wParam, lParam);
}
