#pragma once
// Owner-drawn push button showing an icon resource beside its caption.
#include <windows.h>

class CIconButton {
 public:
  void Attach(HWND dialog, int id);
  void SetIcon(int iconResourceId);
  void SetTextColor(COLORREF color);
  COLORREF TextColor() const { return m_crText; }
  void Draw(const DRAWITEMSTRUCT* item) const;
  HWND Hwnd() const { return GetDlgItem(m_hDialog, m_nId); }

 private:
  HWND m_hDialog = nullptr;
  int m_nId = 0;
  HICON m_hIcon = nullptr;
  COLORREF m_crText = RGB(0, 0, 0);
};
