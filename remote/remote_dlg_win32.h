#pragma once
// "远程操作" (dialog 245): the remote password and the address of the vendor's operation page.
// Opened afresh by the main window while protection runs; the fields start empty each time.
#include "ui/modeless_dialog_win32.h"
#include "ui/prompt_win32.h"

class CREMOTE : public CModelessDialog {
 public:
  explicit CREMOTE(HWND owner);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;

 private:
  void Save();

  CWin32Prompt m_prompt;
};
