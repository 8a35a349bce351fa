#include "remote_list_view_win32.h"

#include <commctrl.h>

#include "remote_buffer_win32.h"

namespace {

constexpr SIZE_T kTextOffset = 256;
constexpr int kTextSize = 1024;

}  // namespace

int CRemoteListView::Count() const { return static_cast<int>(SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0)); }

std::string CRemoteListView::Text(int row, int column) const {
  CRemoteBuffer buffer(m_hList, kTextOffset + kTextSize);
  if (!buffer.Ok()) return std::string();
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer.At(kTextOffset);
  item.cchTextMax = kTextSize;
  const char empty = '\0';
  if (!buffer.Write(0, &item, sizeof(item)) || !buffer.Write(kTextOffset, &empty, 1)) return std::string();
  SendMessageA(m_hList, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(buffer.At(0)));
  char text[kTextSize] = {};
  buffer.Read(kTextOffset, text, kTextSize - 1);
  return text;
}

std::vector<std::string> CRemoteListView::Column(int column) const {
  std::vector<std::string> texts;
  for (int row = 0, n = Count(); row < n; ++row) texts.push_back(Text(row, column));
  return texts;
}

int CRemoteListView::Selected() const {
  return static_cast<int>(SendMessageA(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool CRemoteListView::Click(int row) const {
  CRemoteBuffer buffer(m_hList, sizeof(RECT));
  RECT rc = {};
  rc.left = LVIR_LABEL;
  if (!buffer.Ok() || !buffer.Write(0, &rc, sizeof(rc))) return false;
  if (!SendMessageA(m_hList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(buffer.At(0)))) return false;
  if (!buffer.Read(0, &rc, sizeof(rc))) return false;
  const LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  PostMessageA(m_hList, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(m_hList, WM_LBUTTONUP, 0, at);
  return true;
}
