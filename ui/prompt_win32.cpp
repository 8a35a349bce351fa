#include "ui/prompt_win32.h"

#include "common/version.h"

int AppMessageBox(HWND owner, const std::string& text) { return MessageBoxA(owner, text.c_str(), kAppName, MB_OK); }

void CWin32Prompt::Show(const std::string& text) { AppMessageBox(m_hOwner, text); }

bool CWin32Prompt::Ask(const std::string& text) {
  return MessageBoxA(m_hOwner, text.c_str(), kQuestionCaption, MB_YESNO) == IDYES;
}
