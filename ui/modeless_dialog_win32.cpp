#include "ui/modeless_dialog_win32.h"

bool CModelessDialog::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_CLOSE) return false;
  Destroy();
  result = 0;
  return true;
}

CDialog* CDialogSlot::Open(HWND owner) {
  m_pDialog.reset();
  DialogPtr<> dialog = m_factory(owner);
  if (!dialog || !dialog->Create()) return nullptr;
  dialog->ShowWindow(SW_SHOWNORMAL);
  m_pDialog = std::move(dialog);
  return m_pDialog.get();
}
