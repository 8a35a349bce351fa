#pragma once
#include <windows.h>

// The main window (dialog 102). For now it loads the configuration and shows its caption;
// protection control, timers and the tray follow.
class CTavrickDlg {
 public:
  explicit CTavrickDlg(HINSTANCE hInstance) : m_hInstance(hInstance) {}
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog();

  HINSTANCE m_hInstance;
  HWND m_hWnd = nullptr;
  HICON m_hIcon = nullptr;
};
