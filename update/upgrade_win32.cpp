#include "update/upgrade_win32.h"

#include <windows.h>

#include <ctime>
#include <memory>

#include "alerts/vendor_service_win32.h"
#include "alerts/wininet_http_win32.h"
#include "config/config_keeper.h"
#include "config/daily_log_win32.h"
#include "config/profile_store_win32.h"
#include "driver/driver_win32.h"
#include "remote/restart_program_win32.h"
#include "update/upgrade_handover.h"
#include "update/version_check.h"
#include "update/version_state.h"
#include "upgrader/updater.h"

namespace {

// The worker reaches the main window's thread through a message-only window created there:
// a sent message waits for that thread, so the window exists and its start-up is over.
constexpr UINT kShowStatusMessage = WM_APP + 21;
constexpr UINT kRemoveTrayMessage = WM_APP + 22;
constexpr UINT kHandOverMessage = WM_APP + 23;  // lParam: the suspended updater, handed over
constexpr UINT kNewVersionMessage = WM_APP + 24;  // lParam: CVersionNotice

struct CVersionNotice {
  std::string strText;
  std::string strLatest;
};

std::string RecordPath() { return ProgramFolder() + "\\" + kUpgradeRecordFile; }

// The updater created suspended; whoever holds it last closes its handles.
struct CSuspendedUpdater {
  PROCESS_INFORMATION info = {};
  ~CSuspendedUpdater() {
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
  }
};

CUpgradeWindow g_window;
HWND g_hNotice = nullptr;

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
  if (message == kHandOverMessage) {
    std::shared_ptr<CSuspendedUpdater> updater(reinterpret_cast<CSuspendedUpdater*>(lParam));
    // Through the command guard: never inside a start, stop or exit, never after a confirmed
    // exit; the carry-over is in the configuration before the updater runs.
    EndProgramForSuccessor(
        [updater](bool resume) {
          CWin32ProfileStore store;
          WriteProtectCarryOver(store, RecordPath(), resume);
          if (g_window.removeTrayIcon) g_window.removeTrayIcon();
          ResumeThread(updater->info.hThread);
          TerminateProcess(GetCurrentProcess(), 0);
          return true;
        },
        [updater] {
          TerminateProcess(updater->info.hProcess, 1);
          CWin32ProfileStore store;
          WithdrawHandOver(store, RecordPath());
        });
    return 0;
  }
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

  // On the update thread: the window, the driver and the guards go on meanwhile. A stage that
  // does not end within the bound is ended; it only ever wrote into upgrade.new.
  EStage StageUpdate(const std::string& commandLine, std::string& reason) override {
    const std::string updater = ProgramFolder() + "\\upgrade.exe";
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION stage = {};
    if (!CreateProcessA(updater.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &stage))
      return EStage::NoUpdater;
    CloseHandle(stage.hThread);
    DWORD code = kStageFailedExitCode;
    bool endedAtBound = false;
    if (WaitForSingleObject(stage.hProcess, static_cast<DWORD>(kStageSeconds) * 1000) != WAIT_OBJECT_0) {
      TerminateProcess(stage.hProcess, kStageFailedExitCode);
      WaitForSingleObject(stage.hProcess, 10000);
      endedAtBound = true;
    } else if (!GetExitCodeProcess(stage.hProcess, &code)) {
      code = kStageFailedExitCode;
    }
    CloseHandle(stage.hProcess);
    if (code == static_cast<DWORD>(kStagedExitCode)) return EStage::Staged;
    reason = endedAtBound ? "下载超过" + std::to_string(kStageSeconds) + "秒,已结束"
                          : ReadStageReason(m_store, RecordPath());
    return EStage::Failed;
  }

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

  // The icon goes with the end itself, which may wait for a running command.
  void RemoveTrayIcon() override {}

  // The end comes on the main window's thread, between two of its messages, so never in the
  // middle of its writing the configuration file; the window's thread now holds the updater.
  void RunUpdaterAndEnd() override {
    auto* updater = new CSuspendedUpdater;
    updater->info = m_updater;
    m_updater = PROCESS_INFORMATION{};
    SendMessageA(g_hNotice, kHandOverMessage, 0, reinterpret_cast<LPARAM>(updater));
  }

  void ShowStatus(const std::string& text) override {
    SendMessageA(g_hNotice, kShowStatusMessage, 0, reinterpret_cast<LPARAM>(&text));
  }

  void Log(const std::string& line) override {
    CWin32LogFileSystem fs;
    AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
  }

 private:
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
    CUpgradeCheck(http, ports, ServiceUrl(""), g_window.strVersion, g_window.nBuildBits).Run();
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
    notice.strText = DailyVersionCheck(http, ServiceUrl(""), g_window.strVersion,
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
  {
    CWin32ProfileStore store;
    ConfirmUpdatedStart(store, RecordPath(), window.strVersion, false);
  }
  g_hNotice = CreateNoticeWindow();
  HANDLE thread = CreateThread(nullptr, 0, UpgradeThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

void ConfirmProtectingStart(const std::string& ownVersion) {
  CWin32ProfileStore store;
  ConfirmUpdatedStart(store, RecordPath(), ownVersion, true);
}

bool UpdaterAwaitsProtection() {
  CWin32ProfileStore store;
  return UpdatedStartAwaitsProtection(store, RecordPath());
}

void CheckNewVersion() {
  HANDLE thread = CreateThread(nullptr, 0, DailyCheckThread, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
}

bool HandInterruptedUpdateToUpdater() {
  CWin32ProfileStore store;
  if (!UpdateInterrupted(store, RecordPath())) return false;
  // An updater at work holds this name; it restores by itself if it must.
  if (HANDLE busy = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\tavrick-upgrade")) {
    CloseHandle(busy);
    return false;
  }
  const std::string updater = ProgramFolder() + "\\upgrade.exe";
  std::string line = "upgrade.exe restore";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(updater.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}
