#include "ui/custfrm_win32.h"

#include "ui/keyboard_rule.h"

int g_nSmallIconId = 157;

HFONT CommonDialogFont() {
  static HFONT font = CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, "宋体");
  return font;
}

namespace {

BOOL CALLBACK SetFontOnChild(HWND child, LPARAM font) {
  SendMessageA(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  return TRUE;
}

}  // namespace

BOOL Ccustfrm::OnInitDialog() {
  HICON icon = static_cast<HICON>(
      LoadImageA(ResourceModule(), MAKEINTRESOURCEA(g_nSmallIconId), IMAGE_ICON, 16, 16, LR_SHARED));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  EnumChildWindows(m_hWnd, SetFontOnChild, reinterpret_cast<LPARAM>(CommonDialogFont()));
  HWND parent = GetParent(m_hWnd);
  if (parent) {
    RECT mine, theirs;
    GetWindowRect(m_hWnd, &mine);
    GetWindowRect(parent, &theirs);
    SetWindowPos(m_hWnd, nullptr, theirs.left - (mine.right - mine.left), theirs.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return TRUE;
}

bool Ccustfrm::PreTranslateMessage(MSG* msg) { return SwallowDialogKey(msg->message, msg->wParam); }

BOOL CAutofrm::OnInitDialog() {
  m_layout.Reset();
  return Ccustfrm::OnInitDialog();
}

void CAutofrm::AddAnchor(int id, int leftPct, int topPct, int widthPct, int heightPct, bool) {
  RECT window, client;
  GetWindowRect(m_hWnd, &window);
  GetClientRect(m_hWnd, &client);
  m_nWindowWidth = window.right - window.left;
  m_nWindowHeight = window.bottom - window.top;
  m_layout.Add({id, leftPct, topPct, widthPct, heightPct}, client.right, client.bottom);
}

void CAutofrm::OnSize(int sizeType, int clientWidth, int clientHeight) {
  int dx = 0, dy = 0;
  m_layout.Resize(sizeType, clientWidth, clientHeight, &dx, &dy);
  for (const CAnchor& anchor : m_layout.Anchors()) {
    HWND control = Item(anchor.nId);
    if (!control) continue;
    RECT rc;
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    const CControlRect moved = ApplyAnchor(anchor, {rc.left, rc.top, rc.right, rc.bottom}, dx, dy);
    MoveWindow(control, moved.left, moved.top, moved.right - moved.left, moved.bottom - moved.top, TRUE);
  }
}

bool CAutofrm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message != WM_SIZE) return false;
  OnSize(static_cast<int>(wParam), LOWORD(lParam), HIWORD(lParam));
  result = 0;
  return true;
}
