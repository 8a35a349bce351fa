#pragma once
// A thin dialog framework over plain Win32: dialogs from resource templates, modal (with the
// program's own message loop, so key rules apply) or modeless, message dispatch to virtual
// handlers, timers, controls by id and owner-drawn icon buttons.
#include <windows.h>

#include <map>
#include <string>

#include "ui/icon_button_win32.h"

class CDialog {
 public:
  CDialog(UINT templateId, HWND owner = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  INT_PTR DoModal();         // runs until EndModal
  bool Create();             // modeless; shown only if the template says WS_VISIBLE
  void EndModal(INT_PTR result);
  void Destroy();

  HWND Hwnd() const { return m_hWnd; }
  HWND Owner() const { return m_hOwner; }
  UINT TemplateId() const { return m_nTemplateId; }
  HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
  void SetItemText(int id, const std::string& text);
  std::string ItemText(int id) const;
  bool IsChecked(int id) const;
  void SetChecked(int id, bool checked);
  void ShowWindow(int command) const { ::ShowWindow(m_hWnd, command); }
  bool IsVisible() const { return m_hWnd && IsWindowVisible(m_hWnd); }
  UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) { return ::SetTimer(m_hWnd, id, milliseconds, nullptr); }
  void KillTimer(UINT_PTR id) { ::KillTimer(m_hWnd, id); }

  // Owner-drawn icon button on a control of the template (BS_OWNERDRAW).
  CIconButton& IconButton(int id);

  // Lets the dialog swallow a message before dispatch; true = swallowed.
  virtual bool PreTranslateMessage(MSG* msg);

  // The dialog that owns a window (the window itself or one of its children), if any.
  static CDialog* FromWindow(HWND hWnd);

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual bool OnCommand(int id, int notifyCode);  // true = handled
  virtual void OnTimer(UINT_PTR) {}
  virtual void OnDestroy() {}
  // After the window is gone; a self-owned dialog may delete itself here.
  virtual void PostNcDestroy() {}
  // Any other message; set result and return true to handle it.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  HWND m_hWnd = nullptr;
  HWND m_hOwner;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_nTemplateId;
  bool m_bModal = false;
  bool m_bEndModal = false;
  INT_PTR m_nModalResult = 0;
  std::map<int, CIconButton> m_iconButtons;
};

// Pumps this thread's messages through the dialogs' key rules until quit (or the predicate).
void PumpPendingMessages();

// The module whose resources the dialogs use (the executable by default).
void SetResourceModule(HINSTANCE module);
HINSTANCE ResourceModule();
