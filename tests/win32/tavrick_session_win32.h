#pragma once
// One running tavrick.exe, driven through its windows as an administrator would.
#include <windows.h>

#include <string>
#include <vector>

#include "process_driver_win32.h"

class CTavrickSession {
 public:
  // Starts the program in workDir (where its configuration lives) and waits for its window.
  // exe: another build of the program (the hooked test build); tavrick.exe when empty.
  bool Start(const std::string& workDir, const std::string& words = "", const std::string& exe = "");
  HWND Main() const { return m_hMain; }
  CChildProcess& Process() { return m_process; }

  void Click(int controlId);                      // as if the button were pressed
  void SysClose();                                // the title bar's close button
  std::string Label(int controlId) const;
  bool WaitLabel(int controlId, const std::string& text, DWORD timeoutMs) const;
  // A message box of the program with this caption (" 提示" or the program's name).
  HWND WaitBox(const std::string& caption, DWORD timeoutMs = 15000) const;
  // Answers the next message box and returns its text ("" when none came).
  std::string Answer(const std::string& caption, int button, DWORD timeoutMs = 15000);
  HWND FindWindowTitled(const std::string& caption) const;

 private:
  CChildProcess m_process;
  HWND m_hMain = nullptr;
};

// What the notification area shows, read off the screen: the idle icon is a blue shield,
// the protecting one a green shield.
enum class TrayShield { None, Idle, Protecting };
TrayShield ShownTrayShield();
// Icons the notification area shows (each is a child window of Wine's tray).
int TrayIconCount();
// The blocked list as the program saved it: "ipfilterlst" of the current folder's tavrick.cfg.
std::string SavedBlockedList();
