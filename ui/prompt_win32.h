#pragma once
#include <windows.h>

#include "ui/prompt.h"

// Real message boxes owned by a window (or none).
class CWin32Prompt : public IPrompt {
 public:
  explicit CWin32Prompt(HWND owner = nullptr) : m_hOwner(owner) {}
  void SetOwner(HWND owner) { m_hOwner = owner; }
  void Show(const std::string& text) override;
  bool Ask(const std::string& text) override;

 private:
  HWND m_hOwner;
};

// The program's notice box: OK button, the application's name as title.
int AppMessageBox(HWND owner, const std::string& text);
