#pragma once
// The working windows that protection start creates, and the dialogs the main window opens.
#include <memory>

#include "ui/custfrm_win32.h"
#include "ui/modeless_dialog_win32.h"
#include "ui/working_window_win32.h"

// The factories of the dialogs opened afresh on each use, one per kind (for CDialogSlot).
DialogPtr<> MakeAlertsDialog(HWND owner);  // "即时提醒"
DialogPtr<> MakeRemoteDialog(HWND owner);  // "远程操作"
DialogPtr<> MakeLogonGuardDialog(HWND owner);  // "登录防护"

// The four working windows, in creation order.
struct CWorkingWindows {
  DialogPtr<> pWatchMainDlg;  // traffic monitor
  DialogPtr<> pIpFilterDlg;   // blocked IPs
  DialogPtr<> pWatchfileDlg;  // website protection
  DialogPtr<> pSysInfoDlg;    // system resources

  // Replaces any earlier set, so exactly one set is active.
  void CreateAll(HWND mainWindow);
  bool Created() const { return pWatchMainDlg != nullptr; }
};
