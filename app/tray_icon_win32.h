#pragma once
// The notification-area icon of the main window.
#include <windows.h>
#include <shellapi.h>

constexpr UINT kTrayCallbackMessage = WM_USER + 2;  // 0x402

class CTrayIcon {
 public:
  void Init(HWND owner, HICON idForTray, const char* tip);
  void Add(int iconId);      // NIM_ADD with the whole record
  void SetIcon(int iconId);  // NIM_MODIFY; also the window's small icon
  void Remove();
  int Current() const { return m_nIconId; }

 private:
  NOTIFYICONDATAA m_data = {};
  int m_nIconId = 128;
};
