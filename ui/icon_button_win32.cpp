#include "ui/icon_button_win32.h"

#include "ui/dialog_win32.h"

void CIconButton::Attach(HWND dialog, int id) {
  m_hDialog = dialog;
  m_nId = id;
}

void CIconButton::SetIcon(int iconResourceId) {
  m_hIcon = static_cast<HICON>(
      LoadImageA(ResourceModule(), MAKEINTRESOURCEA(iconResourceId), IMAGE_ICON, 16, 16, LR_SHARED));
  InvalidateRect(Hwnd(), nullptr, TRUE);
}

void CIconButton::SetTextColor(COLORREF color) { m_crText = color; }

void CIconButton::Draw(const DRAWITEMSTRUCT* item) const {
  HDC dc = item->hDC;
  RECT rc = item->rcItem;
  const bool pressed = (item->itemState & ODS_SELECTED) != 0;
  const bool disabled = (item->itemState & ODS_DISABLED) != 0;
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  RECT content = rc;
  InflateRect(&content, -3, -2);
  if (pressed) OffsetRect(&content, 1, 1);

  char caption[128] = {};
  GetWindowTextA(item->hwndItem, caption, sizeof(caption));
  SIZE textSize = {};
  GetTextExtentPoint32A(dc, caption, lstrlenA(caption), &textSize);
  const int iconSize = m_hIcon ? 16 : 0;
  const int gap = (m_hIcon && caption[0]) ? 4 : 0;
  const int total = iconSize + gap + textSize.cx;
  int x = content.left + ((content.right - content.left) - total) / 2;
  if (x < content.left) x = content.left;
  if (m_hIcon) {
    const int y = content.top + ((content.bottom - content.top) - iconSize) / 2;
    DrawIconEx(dc, x, y, m_hIcon, 16, 16, 0, nullptr, DI_NORMAL);
  }
  RECT textRect = {x + iconSize + gap, content.top, content.right, content.bottom};
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : m_crText);
  DrawTextA(dc, caption, -1, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (item->itemState & ODS_FOCUS) {
    RECT focus = rc;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}
