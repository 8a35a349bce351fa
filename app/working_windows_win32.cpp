#include "app/working_windows_win32.h"

#include "app/resource.h"
#include "ipblock/blocked_ip_host_win32.h"
#include "ipblock/flood_blocking.h"
#include "traffic/traffic_monitor_host_win32.h"

#include <ctime>

void CTransientDialog::Open(UINT templateId, HWND owner) {
  auto* dialog = new CTransientDialog(templateId, owner);
  if (!dialog->Create()) {
    delete dialog;
    return;
  }
  dialog->ShowWindow(SW_SHOWNORMAL);
}

bool CTransientDialog::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_CLOSE) return false;
  Destroy();
  result = 0;
  return true;
}

namespace {

std::unique_ptr<CDialog> MadeWindow(std::unique_ptr<CDialog> window) {
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
  pWatchMainDlg = MadeWindow(std::make_unique<CTrafficMonitorHost>(mainWindow));
  pIpFilterDlg = MadeWindow(std::make_unique<CBlockedIpHost>(mainWindow));
  pWatchfileDlg = MadeWindow(std::make_unique<CWorkingWindow>(IDD_WATCHFILE, mainWindow));
  pSysInfoDlg = MadeWindow(std::make_unique<CWorkingWindow>(IDD_SYSINFO, nullptr));  // no parent
  pWebGuard.reset();  // an earlier set's watcher stops before the new one starts
  pWebGuard = std::make_unique<CWebGuardHost>();
  pWebGuard->Create(mainWindow);
  g_tLastBlockAlert = LongAgo();
}
