#pragma once
// "登录防护" (dialog 280): the guard's switches, limits and FTP log folder, each source's state,
// and the addresses that failed to sign in lately. Reads and saves through TheLogonGuard(); while
// there is none (the guard not made yet) it shows the settings saved in the configuration file,
// saves them there, and leaves the table empty.
#include <string>
#include <vector>

#include "logonguard/logon_guard.h"
#include "logonguard/logon_guard_form.h"
#include "ui/list_view_win32.h"
#include "ui/modeless_dialog_win32.h"
#include "ui/prompt_win32.h"

class CLogonGuardDlg : public CModelessDialog {
 public:
  explicit CLogonGuardDlg(HWND owner);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;

 private:
  void ShowForm(const CGuardForm& form);
  CGuardForm ReadForm() const;
  void Save();
  void Refresh();

  CWin32Prompt m_prompt;
  CListView m_list;
  std::string m_shownStatus[kGuardSourceCount];
  std::vector<std::vector<std::string>> m_shownRows;  // what the table holds, so an unchanged tick redraws nothing
};
