#pragma once
// The working windows that protection start creates, and the dialogs the main window opens.
#include <memory>

#include "ui/custfrm_win32.h"
#include "ui/working_window_win32.h"
#include "webguard/webguard_host_win32.h"

// A dialog opened afresh on each use; it frees itself when closed.
class CTransientDialog : public Ccustfrm {
 public:
  using Ccustfrm::Ccustfrm;
  static void Open(UINT templateId, HWND owner);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void PostNcDestroy() override { delete this; }
};

// The four working windows, in creation order.
struct CWorkingWindows {
  std::unique_ptr<CDialog> pWatchMainDlg;  // traffic monitor
  std::unique_ptr<CDialog> pIpFilterDlg;   // blocked IPs
  std::unique_ptr<CDialog> pWatchfileDlg;  // website protection
  std::unique_ptr<CDialog> pSysInfoDlg;    // system resources
  std::unique_ptr<CWebGuardHost> pWebGuard;  // watcher, checker and scan behind the website window

  // Replaces any earlier set, so exactly one set is active.
  void CreateAll(HWND mainWindow);
  bool Created() const { return pWatchMainDlg != nullptr; }
};
