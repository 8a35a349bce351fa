#include "app/working_windows_win32.h"

#include "alerts/msg_dlg_win32.h"
#include "app/resource.h"
#include "ipblock/ipfilter_dlg_win32.h"
#include "remote/remote_dlg_win32.h"
#include "resources/sysinfo_dlg_win32.h"
#include "traffic/traffic_monitor_host_win32.h"

DialogPtr<> MakeAlertsDialog(HWND owner) { return MakeDialog<CMSGDLG>(owner); }
DialogPtr<> MakeRemoteDialog(HWND owner) { return MakeDialog<CREMOTE>(owner); }

namespace {

DialogPtr<> MadeWindow(DialogPtr<> window) {
  window->Create();
  return window;
}

}  // namespace

void CWorkingWindows::CreateAll(HWND mainWindow) {
  pWatchMainDlg = MadeWindow(MakeDialog<CTrafficMonitorHost>(mainWindow));
  pIpFilterDlg = MadeWindow(MakeDialog<Cipfilterdlg>(mainWindow));
  pWatchfileDlg = MadeWindow(MakeDialog<CWorkingWindow>(IDD_WATCHFILE, mainWindow));
  pSysInfoDlg = MadeWindow(MakeDialog<CSYSINFODLG>());  // no parent; resets the block alert spacing
  pWebGuard.reset();  // an earlier set's watcher stops before the new one starts
  pWebGuard = std::make_unique<CWebGuardHost>();
  pWebGuard->Create(mainWindow);
}
