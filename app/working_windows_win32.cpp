#include "app/working_windows_win32.h"

#include "app/resource.h"

bool CWorkingWindow::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_CLOSE) return false;
  ShowWindow(SW_HIDE);
  result = 0;
  return true;
}

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

void CWorkingWindows::CreateAll(HWND mainWindow) {
  auto make = [](UINT id, HWND owner) {
    auto window = std::make_unique<CWorkingWindow>(id, owner);
    window->Create();
    return window;
  };
  pWatchMainDlg = make(IDD_WATCHMAIN, mainWindow);
  pIpFilterDlg = make(IDD_IPFILTER, mainWindow);
  pWatchfileDlg = make(IDD_WATCHFILE, mainWindow);
  pSysInfoDlg = make(IDD_SYSINFO, nullptr);  // a window of its own, without a parent
}
