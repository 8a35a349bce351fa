#pragma once
// "即时提醒" (dialog 164): the eight alert switches, the e-mail and SMS channels, the SMS
// balance and the vendor service's host ("服务地址", effective at once). Opened afresh by the main window while protection runs; closing destroys it.
#include <functional>

#include "ui/modeless_dialog_win32.h"
#include "ui/prompt_win32.h"

class CMSGDLG : public CModelessDialog {
 public:
  // onAlertsSaved runs after a save that switched the alert on, so that only later blocks are
  // reported (the caller marks the rows listed now as seen).
  CMSGDLG(HWND owner, std::function<void()> onAlertsSaved);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;

 private:
  void RefreshBalance();
  void ChannelToggled(int box, int field);
  void Save();

  CWin32Prompt m_prompt;
  std::function<void()> m_onAlertsSaved;
};
