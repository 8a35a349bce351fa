#include "ui/tray_icon_win32.h"

#include <cstring>

#include "ui/dialog_win32.h"

namespace {

HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(LoadImageA(ResourceModule(), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED));
}

// Looked up at run time: the filter functions exist from Windows Vista (plain) and Windows 7
// (per window) on.
using FilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
constexpr DWORD kFilterAllow = 1;  // MSGFLT_ALLOW and MSGFLT_ADD

CTrayIcon* g_pProgramTrayIcon = nullptr;

template <typename Fn>
Fn User32Function(const char* name) {
  const HMODULE user32 = GetModuleHandleA("user32");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

}  // namespace

bool AllowMessageFromShell(HWND window, UINT message) {
  if (message == 0) return false;
  if (const auto perWindow = User32Function<FilterExFn>("ChangeWindowMessageFilterEx"))
    return perWindow(window, message, kFilterAllow, nullptr) != FALSE;
  if (const auto processWide = User32Function<FilterFn>("ChangeWindowMessageFilter"))
    return processWide(message, kFilterAllow) != FALSE;
  return true;
}

CTrayIcon::~CTrayIcon() {
  if (g_pProgramTrayIcon == this) g_pProgramTrayIcon = nullptr;
}

void RemoveProgramTrayIcon() {
  if (g_pProgramTrayIcon) g_pProgramTrayIcon->Remove();
}

void RestoreProgramTrayIcon() {
  if (g_pProgramTrayIcon) g_pProgramTrayIcon->Add(g_pProgramTrayIcon->Current());
}

void CTrayIcon::Init(HWND owner, HICON idForTray, const char* tip) {
  g_pProgramTrayIcon = this;
  std::memset(&m_data, 0, sizeof(m_data));
  m_data.cbSize = NOTIFYICONDATAA_V2_SIZE;  // the 488-byte form
  m_data.hWnd = owner;
  m_data.uID = static_cast<UINT>(reinterpret_cast<UINT_PTR>(idForTray));
  m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_data.uCallbackMessage = kTrayCallbackMessage;
  lstrcpynA(m_data.szTip, tip, sizeof(m_data.szTip));
  m_uTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  m_bRestartAllowed = AllowMessageFromShell(owner, m_uTaskbarCreated);
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

bool CTrayIcon::OnShellRestart(UINT message) {
  if (message == 0 || message != m_uTaskbarCreated) return false;
  Add(m_nIconId);
  return true;
}
