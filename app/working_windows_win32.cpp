#include "app/working_windows_win32.h"

#include "app/resource.h"
#include "ipblock/blocked_ip_host_win32.h"
#include "ipblock/flood_blocking.h"
#include "traffic/watch_main_dlg_win32.h"

#include <ctime>

DialogPtr<> MakeAlertsDialog(HWND owner) { return MakeDialog<CModelessDialog>(IDD_ALERTS, owner); }
DialogPtr<> MakeRemoteDialog(HWND owner) { return MakeDialog<CModelessDialog>(IDD_REMOTE, owner); }

namespace {

DialogPtr<> MadeWindow(DialogPtr<> window) {
  window->Create();
  return window;
}

// So that the first automatic-block alert after a start is not held back by the spacing.
int64_t LongAgo() {
  std::tm day = {};
  day.tm_year = 76;
  day.tm_mon = 10;
  day.tm_mday = 15;
  day.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&day));
}

}  // namespace

void CWorkingWindows::CreateAll(HWND mainWindow) {
  pWatchMainDlg = MadeWindow(MakeDialog<CWatchMainDlg>(mainWindow));
  pIpFilterDlg = MadeWindow(MakeDialog<CBlockedIpHost>(mainWindow));
  pWatchfileDlg = MadeWindow(MakeDialog<CWorkingWindow>(IDD_WATCHFILE, mainWindow));
  pSysInfoDlg = MadeWindow(MakeDialog<CWorkingWindow>(IDD_SYSINFO, nullptr));  // no parent
  pWebGuard.reset();  // an earlier set's watcher stops before the new one starts
  pWebGuard = std::make_unique<CWebGuardHost>();
  pWebGuard->Create(mainWindow);
  g_tLastBlockAlert = LongAgo();
}
