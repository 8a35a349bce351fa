#include "update/upgrade_win32.h"

#include <windows.h>

#include <ctime>

#include "alerts/service_host.h"
#include "alerts/wininet_http_win32.h"
#include "config/profile_store_win32.h"
#include "driver/driver_win32.h"
#include "update/upgrade_handover.h"
#include "update/version_check.h"
#include "update/version_state.h"

namespace {

// The worker reaches the main window's thread through a message-only window created there:
// a sent message waits for that thread, so the window exists and its start-up is over.
constexpr UINT kShowStatusMessage = WM_APP + 21;
constexpr UINT kRemoveTrayMessage = WM_APP + 22;
constexpr UINT kHandOverMessage = WM_APP + 23;  // wParam: the updater's suspended thread
constexpr UINT kNewVersionMessage = WM_APP + 24;  // lParam: CVersionNotice

struct CVersionNotice {
  std::string strText;
  std::string strLatest;
};

// Lets the updater run and ends the program.
void HandOver(HANDLE updaterThread) {
  ResumeThread(updaterThread);
  TerminateProcess(GetCurrentProcess(), 0);
}

CUpgradeWindow g_window;
HWND g_hNotice = nullptr;
std::string g_strBaseUrl;

LRESULT CALLBACK NoticeProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kShowStatusMessage && g_window.setStatusText) {
    g_window.setStatusText(*reinterpret_cast<const std::string*>(lParam));
    return 0;
  }
  if (message == kNewVersionMessage) {
    const auto& notice = *reinterpret_cast<const CVersionNotice*>(lParam);
    g_strLatestVersion = notice.strLatest;
    if (g_window.setStatusText) g_window.setStatusText(notice.strText);
    return 0;
  }
  if (message == kRemoveTrayMessage && g_window.removeTrayIcon) {
    g_window.removeTrayIcon();
    return 0;
  }
  if (message == kHandOverMessage) HandOver(reinterpret_cast<HANDLE>(wParam));
  return DefWindowProcA(hWnd, message, wParam, lParam);
}

HWND CreateNoticeWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = NoticeProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TavrickUpgradeNotice";
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

class CWin32UpgradePorts : public IUpgradePorts {
 public:
  ~CWin32UpgradePorts() override { CancelUpdater(); }
  int SystemBits() override { return GetSystemBits(); }
  int64_t Now() override { return static_cast<int64_t>(std::time(nullptr)); }
  CUpgradeRecord ReadRecord() override { return ReadUpgradeRecord(m_store, RecordPath()); }
  bool WriteRecord(const CUpgradeRecord& record) override { return WriteUpgradeRecord(m_store, RecordPath(), record); }

  // Only the updater beside the program: a search of the current folder and the path could
  // hand over to some other upgrade.exe.
  bool PrepareUpdater(const std::string& commandLine) override {
    const std::string updater = ProgramFolder() + "\\upgrade.exe";
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    return CreateProcessA(updater.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &m_updater) != FALSE;
  }

  void CancelUpdater() override {
    if (!m_updater.hProcess) return;
    TerminateProcess(m_updater.hProcess, 1);
    CloseHandles();
  }

  void RemoveTrayIcon() override { SendMessageA(g_hNotice, kRemoveTrayMessage, 0, 0); }

  // The end comes on the main window's thread, between two of its messages, so never in the
  // middle of its writing the configuration file.
  void RunUpdaterAndEnd() override {
    SendMessageA(g_hNotice, kHandOverMessage, reinterpret_cast<WPARAM>(m_updater.hThread), 0);
    HandOver(m_updater.hThread);  // only without the window
  }

  void ShowStatus(const std::string& text) override {
    SendMessageA(g_hNotice, kShowStatusMessage, 0, reinterpret_cast<LPARAM>(&text));
  }

 private:
  static std::string RecordPath() { return ProgramFolder() + "\\" + kUpgradeRecordFile; }
  void CloseHandles() {
    CloseHandle(m_updater.hThread);
    CloseHandle(m_updater.hProcess);
    m_updater = PROCESS_INFORMATION{};
  }

  CWin32ProfileStore m_store;
  PROCESS_INFORMATION m_updater = {};
};

DWORD WINAPI UpgradeThread(LPVOID) {
  try {
    CWinInetHttp http;
    CWin32UpgradePorts ports;
    CUpgradeCheck(http, ports, g_strBaseUrl, g_window.strVersion, g_window.nBuildBits).Run();
  } catch (...) {
    // A failed check leaves the program as it is.
  }
  return 0;
}

// The daily check asks the service off the window's thread; the result goes back to it.
DWORD WINAPI DailyCheckThread(LPVOID) {
  try {
    CWinInetHttp http;
    CVersionNotice notice;
    notice.strText = DailyVersionCheck(http, g_strBaseUrl, g_window.strVersion,
                                       static_cast<int64_t>(std::time(nullptr)), notice.strLatest);
    if (!notice.strText.empty()) SendMessageA(g_hNotice, kNewVersionMessage, 0, reinterpret_cast<LPARAM>(&notice));
  } catch (...) {
    // A failed check changes nothing.
  }
  return 0;
}

}  // namespace

void StartUpgradeCheck(const CUpgradeWindow& window) {
  g_window = window;
  g_strBaseUrl = ServiceHostFromEnvironment().BaseUrl();
  g_hNotice = CreateNoticeWindow();
  HANDLE thread = CreateThread(nullptr, 0, UpgradeThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

void CheckNewVersion() {
  HANDLE thread = CreateThread(nullptr, 0, DailyCheckThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}
