#pragma once
// The main window: owner of the process-wide state, protection start and stop, the seven
// timers, the tray icon and the face of the narrow panel.
#include <windows.h>

#include <string>

#include "app/protection_control.h"
#include "ui/tray_icon_win32.h"
#include "app/working_windows_win32.h"
#include "ui/custfrm_win32.h"
#include "ui/prompt_win32.h"

class CTavrickDlg : public Ccustfrm, public IProtectionPorts {
 public:
  explicit CTavrickDlg(HWND owner = nullptr);

  // IProtectionPorts
  void Show(const std::string& text) override;
  bool Ask(const std::string& text) override;
  bool Protecting() override;
  FilterDeviceSetting FilterSetting() override;
  CFilterFacts FilterFacts() override;
  void UseFilterRoute(FilterRoute route) override;
  std::string EngineUnusableReason() override;
  void SetFilterName(const std::string& name) override;
  bool ProbeDevice() override;
  int InstallDriver() override;
  int StartDriverFiltering() override;
  void LoadListsIntoDriver() override;
  int StopDriverSequence() override;
  void MarkRunning() override;
  void EnableButtons(bool enable) override;
  void SetBusy(const std::string& text) override;
  void SetStateFace(bool running, const std::string& label) override;
  void SetTrayIcon(int iconId) override;
  void CreateWorkingWindows() override;
  void WaitPumping(int seconds) override;
  void RebootServer() override;
  long long ProtectSeconds() override;
  void WriteCarryOver(bool resume) override;
  void EndProcess() override;
  void ProtectionStarted() override;
  void AutomaticStartFailed(const std::string& text) override;

  void ShowFromTray();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnShowWindow();
  void OnHandOverRequest();
  void OnTrayNotify(LPARAM mouseMessage);
  void OnSysClose();
  void ShowWorkingWindow(CDialog* window);
  // A working window that needs no running protection opens at any time.
  void OpenDialog(CDialogSlot& slot, bool needsProtection = true);
  void OpenLink(const std::string& url);
  void UpdateRelatedSoftware();
  void SetStateColors(bool running);
  void TimerDuty(int id);
  void BuildLocalAddressList();
  void PaintMinimized();
  void SetStatusBarVersion(const std::string& version);
  void SetStatusBarText(const std::string& text);
  void DailyHousekeeping();

  HICON m_hIcon;
  std::string m_strBusyText;
  bool m_bBusy = false;
  int m_nBusySeconds = 0;
  COLORREF m_crStateText = RGB(255, 0, 0);
  COLORREF m_crStartText = RGB(0, 0, 0);
  bool m_bCheckingUsers = false;
  std::string m_strClockSkew;  // the clock skew the vendor service last showed (timer 0)
  bool m_bAutoStartPosted = false;
  std::string m_strRunTray;  // runtray as read at start-up
  std::string m_strAdLink;
  HWND m_hStatusBar = nullptr;
  CTrayIcon m_tray;
  CWorkingWindows m_windows;
  CDialog* m_pShownLast = nullptr;
  CDialogSlot m_alertsDialog{MakeAlertsDialog};
  CDialogSlot m_remoteDialog{MakeRemoteDialog};
  CDialogSlot m_logonGuardDialog{MakeLogonGuardDialog};
  CWin32Prompt m_prompt;
  CProtectionControl m_control;
};
