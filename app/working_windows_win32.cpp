#include "app/working_windows_win32.h"

#include "alerts/msg_dlg_win32.h"
#include "common/resource.h"
#include "ipblock/blocked_list.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ipfilter_dlg_win32.h"
#include "logonguard/logon_guard_dlg_win32.h"
#include "remote/remote_dlg_win32.h"
#include "resources/sysinfo_dlg_win32.h"
#include "traffic/watch_main_dlg_win32.h"
#include "webguard/watchfile_dlg_win32.h"

DialogPtr<> MakeAlertsDialog(HWND owner) {
  return MakeDialog<CMSGDLG>(owner, [] { MarkRowsReported(BlockedRowsFromTable()); });
}
DialogPtr<> MakeRemoteDialog(HWND owner) { return MakeDialog<CREMOTE>(owner); }
DialogPtr<> MakeLogonGuardDialog(HWND owner) { return MakeDialog<CLogonGuardDlg>(owner); }

namespace {

DialogPtr<> MadeWindow(DialogPtr<> window) {
  window->Create();
  return window;
}

}  // namespace

void CWorkingWindows::CreateAll(HWND mainWindow) {
  pWatchMainDlg = MadeWindow(MakeDialog<CWatchMainDlg>(mainWindow));
  pIpFilterDlg = MadeWindow(MakeDialog<Cipfilterdlg>(mainWindow));
  pWatchfileDlg.reset();  // an earlier set's watcher and library go before the new ones come
  pWatchfileDlg = MadeWindow(MakeDialog<CWatchfileDlg>(mainWindow));
  pSysInfoDlg = MadeWindow(MakeDialog<CSYSINFODLG>());  // no parent; resets the block alert spacing
}
