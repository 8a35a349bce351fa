#include "app/tray_icon_win32.h"

#include <cstring>

#include "ui/dialog_win32.h"

namespace {
HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(LoadImageA(ResourceModule(), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED));
}
}  // namespace

void CTrayIcon::Init(HWND owner, HICON idForTray, const char* tip) {
  std::memset(&m_data, 0, sizeof(m_data));
  m_data.cbSize = NOTIFYICONDATAA_V2_SIZE;  // the 488-byte form
  m_data.hWnd = owner;
  m_data.uID = static_cast<UINT>(reinterpret_cast<UINT_PTR>(idForTray));
  m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_data.uCallbackMessage = kTrayCallbackMessage;
  lstrcpynA(m_data.szTip, tip, sizeof(m_data.szTip));
}

void CTrayIcon::Add(int iconId) {
  m_nIconId = iconId;
  m_data.hIcon = LoadSmallIcon(iconId);
  Shell_NotifyIconA(NIM_ADD, &m_data);  // errors ignored: the program works without it
}

void CTrayIcon::SetIcon(int iconId) {
  m_nIconId = iconId;
  m_data.hIcon = LoadSmallIcon(iconId);
  Shell_NotifyIconA(NIM_MODIFY, &m_data);
  SendMessageA(m_data.hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_data.hIcon));
}

void CTrayIcon::Remove() { Shell_NotifyIconA(NIM_DELETE, &m_data); }
