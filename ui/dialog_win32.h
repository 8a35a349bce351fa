#pragma once
// A thin dialog framework over plain Win32: dialogs from resource templates, modal (through
// the one message pump, so key rules apply) or modeless, message dispatch to virtual handlers
// with a catch-all per handler, timers, controls by id and owner-drawn icon buttons.
//
// Lifetime rule: a dialog object is never touched by the framework after it is freed. The
// framework counts the handlers of each dialog that are running (nested message loops
// included); a dialog is freed only when none is, through one of two ways:
//   - owned: the owner holds it in a DialogPtr (or a CDialogSlot); dropping the pointer
//     destroys the window and frees the object once its handlers have returned;
//   - self-owned: the dialog deletes itself in PostNcDestroy, which the framework calls once
//     the window is gone and no handler of it runs any more.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "ui/icon_button_win32.h"

class CDialog {
 public:
  CDialog(UINT templateId, HWND owner = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  INT_PTR DoModal();         // runs until EndModal; for dialogs owned by the caller
  bool Create();             // modeless; shown only if the template says WS_VISIBLE
  void EndModal(INT_PTR result);
  // Destroys the window. A self-owned dialog may be freed during the call: the caller must
  // not touch it afterwards.
  void Destroy();
  // Destroys the window and frees the object as soon as none of its handlers runs (at once
  // when none does). What the owning pointers call.
  void DeleteWhenIdle();

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
  // After the window is gone and no handler of the dialog runs; a self-owned dialog deletes
  // itself here (and nothing touches it afterwards).
  virtual void PostNcDestroy() {}
  // Any other message; set result and return true to handle it.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  HWND m_hWnd = nullptr;
  HWND m_hOwner;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Called whenever a handler frame of this dialog ends; frees or finishes it when due.
  void AfterHandler();

  UINT m_nTemplateId;
  bool m_bEndModal = false;
  INT_PTR m_nModalResult = 0;
  int m_nRunning = 0;            // handler frames of this dialog on the stack
  bool m_bWindowGone = false;    // WM_NCDESTROY has been seen
  bool m_bFinished = false;      // PostNcDestroy has run
  bool m_bDeletePending = false;
  std::map<int, CIconButton> m_iconButtons;
};

// The owning pointer of a dialog: dropping it destroys the window and frees the object once
// no handler of it runs.
struct CDialogDeleter {
  void operator()(CDialog* dialog) const {
    if (dialog) dialog->DeleteWhenIdle();
  }
};
template <typename T = CDialog>
using DialogPtr = std::unique_ptr<T, CDialogDeleter>;

template <typename T, typename... Args>
DialogPtr<T> MakeDialog(Args&&... args) {
  return DialogPtr<T>(new T(std::forward<Args>(args)...));
}

// The module whose resources the dialogs use (the executable by default).
void SetResourceModule(HINSTANCE module);
HINSTANCE ResourceModule();
