#pragma once
// The notification-area icon of the main window.
#include <windows.h>
#include <shellapi.h>

constexpr UINT kTrayCallbackMessage = WM_USER + 2;  // 0x402

class CTrayIcon {
 public:
  CTrayIcon() = default;
  ~CTrayIcon();
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;
  // Also registers the shell's "TaskbarCreated" message and lets it through the message
  // filter: run elevated, the program would otherwise never hear that the shell restarted.
  void Init(HWND owner, HICON idForTray, const char* tip);
  void Add(int iconId);      // NIM_ADD with the whole record
  void SetIcon(int iconId);  // NIM_MODIFY; also the window's small icon
  void Remove();
  int Current() const { return m_nIconId; }

  // The shell restarted (the task bar was created anew): the icon comes back as it was. True
  // when the message was that notice.
  bool OnShellRestart(UINT message);
  // Whether the notice can reach the window (the filter let it through, or there is none).
  bool ShellRestartAllowed() const { return m_bRestartAllowed; }

 private:
  NOTIFYICONDATAA m_data = {};
  int m_nIconId = 128;
  UINT m_uTaskbarCreated = 0;
  bool m_bRestartAllowed = false;
};

// The icon of the last CTrayIcon initialised (the main window's): the self-restart takes it
// away before the new copy starts and brings it back when none could start.
void RemoveProgramTrayIcon();
void RestoreProgramTrayIcon();

// Lets a message from less privileged processes (the shell) reach the window; true when it
// can arrive. Systems without a message filter need nothing.
bool AllowMessageFromShell(HWND window, UINT message);
