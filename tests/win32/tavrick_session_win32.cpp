#include "tavrick_session_win32.h"

#include <cstdio>

#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"


bool CTavrickSession::Start(const std::string& workDir, const std::string& words, const std::string& exe) {
  if (!m_process.Start(exe.empty() ? TavrickExe() : exe, words, workDir)) return false;
  const DWORD start = GetTickCount();
  // Only a window of this process's main thread: the id of the process may have been an ended
  // one's whose windows are not yet gone.
  do {
    const DWORD spent = GetTickCount() - start;
    m_hMain = WaitForWindow(m_process.Pid(), "#32770", kVersionTag, spent < 20000 ? 20000 - spent : 0);
    if (m_hMain && GetWindowThreadProcessId(m_hMain, nullptr) == m_process.MainThreadId()) break;
    m_hMain = nullptr;
    Sleep(20);
  } while (GetTickCount() - start < 20000);
  // Shown only once its initialisation (and the configuration load) is over. One reading
  // decides: asking twice could see it shown, then gone (a process that ended meanwhile) and
  // report neither.
  while (m_hMain) {
    if (IsWindowVisible(m_hMain)) return true;
    if (GetTickCount() - start >= 40000) break;
    Sleep(20);
  }
  std::fprintf(stderr, "tavrick.exe %s in \"%s\": no visible main window after %lu ms (%s); %s\n", words.c_str(),
               workDir.c_str(), static_cast<unsigned long>(GetTickCount() - start),
               m_hMain ? "found hidden" : "none found", DescribeProcessWindows(m_process).c_str());
  return false;
}

void CTavrickSession::Click(int controlId) {
  PostMessageA(m_hMain, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), 0);
}

void CTavrickSession::SysClose() { PostMessageA(m_hMain, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::string CTavrickSession::Label(int controlId) const {
  char text[256] = {};
  GetDlgItemTextA(m_hMain, controlId, text, sizeof(text));
  return text;
}

bool CTavrickSession::WaitLabel(int controlId, const std::string& text, DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  do {
    if (Label(controlId) == text) return true;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return false;
}

HWND CTavrickSession::WaitBox(const std::string& caption, DWORD timeoutMs) const {
  return WaitForWindow(m_process.Pid(), "#32770", caption, timeoutMs);
}

std::string CTavrickSession::Answer(const std::string& caption, int button, DWORD timeoutMs) {
  HWND box = WaitBox(caption, timeoutMs);
  if (!box) return "";
  const std::string text = MessageBoxText(box);
  AnswerMessageBox(box, button);
  const DWORD start = GetTickCount();
  while (IsWindow(box) && GetTickCount() - start < 5000) Sleep(20);
  return text;
}

HWND CTavrickSession::FindWindowTitled(const std::string& caption) const {
  return WaitForWindow(m_process.Pid(), "#32770", caption, 0);
}

TrayShield ShownTrayShield() {
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  if (!tray) return TrayShield::None;
  RECT rc;
  GetClientRect(tray, &rc);
  POINT origin = {0, 0};
  ClientToScreen(tray, &origin);
  HDC screen = GetDC(nullptr);
  int blue = 0, green = 0;
  for (int y = 0; y < rc.bottom && y < 64; ++y) {
    for (int x = 0; x < rc.right && x < 256; ++x) {
      const COLORREF c = GetPixel(screen, origin.x + x, origin.y + y);
      if (c == RGB(70, 110, 180)) ++blue;
      if (c == RGB(40, 160, 70)) ++green;
    }
  }
  ReleaseDC(nullptr, screen);
  if (green > blue && green > 10) return TrayShield::Protecting;
  if (blue > 10) return TrayShield::Idle;
  return TrayShield::None;
}

namespace {
BOOL CALLBACK CountVisible(HWND child, LPARAM count) {
  if (IsWindowVisible(child)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}
}  // namespace

int TrayIconCount() {
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  if (!tray || !IsWindowVisible(tray)) return 0;
  int count = 0;
  EnumChildWindows(tray, CountVisible, reinterpret_cast<LPARAM>(&count));
  return count;
}

std::string SavedBlockedList() {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, "ipfilter", "ipfilterlst");
}
