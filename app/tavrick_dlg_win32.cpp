#include "app/tavrick_dlg_win32.h"

#include "app/process_state.h"
#include "app/resource.h"
#include "app/version.h"
#include "common/clock.h"
#include "config/profile_store_win32.h"

INT_PTR CTavrickDlg::DoModal() {
  return DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(IDD_TAVRICK_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CTavrickDlg::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
  CTavrickDlg* self = reinterpret_cast<CTavrickDlg*>(GetWindowLongPtrA(hWnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<CTavrickDlg*>(lParam);
      SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
      self->m_hWnd = hWnd;
      return self->OnInitDialog();
    case WM_CLOSE:
      EndDialog(hWnd, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL CTavrickDlg::OnInitDialog() {
  SetWindowTextA(m_hWnd, kVersionTag);
  m_hIcon = LoadIconA(m_hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  static CWin32ProfileStore store;
  static CSystemClock clock;
  LoadConfiguration(store, clock, g_Settings, g_pIpFilterList, g_pIpOuterList);
  return TRUE;
}
