#include "ui/list_view_win32.h"

#include <commctrl.h>

void CListView::SetFullRowSelect() {
  ListView_SetExtendedListViewStyle(m_hList, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
}

void CListView::AddColumn(const std::string& title, int width) {
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<char*>(title.c_str());
  column.cx = width;
  column.iSubItem = m_nColumns;
  SendMessageA(m_hList, LVM_INSERTCOLUMNA, m_nColumns++, reinterpret_cast<LPARAM>(&column));
}

int CListView::AddRow(const std::vector<std::string>& cells) { return InsertRow(Count(), cells); }

int CListView::InsertRow(int at, const std::vector<std::string>& cells) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = at;
  item.pszText = const_cast<char*>(cells.empty() ? "" : cells[0].c_str());
  const int row = static_cast<int>(SendMessageA(m_hList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (size_t i = 1; i < cells.size(); ++i) SetText(row, static_cast<int>(i), cells[i]);
  return row;
}

void CListView::DeleteColumns() {
  while (SendMessageA(m_hList, LVM_DELETECOLUMN, 0, 0)) {
  }
  m_nColumns = 0;
}

void CListView::SetRedraw(bool redraw) {
  SendMessageA(m_hList, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  if (redraw) InvalidateRect(m_hList, nullptr, TRUE);
}

int CListView::ClientWidth() const {
  RECT rc = {};
  GetClientRect(m_hList, &rc);
  return rc.right - rc.left;
}

void CListView::EnsureVisible(int row) { SendMessageA(m_hList, LVM_ENSUREVISIBLE, row, FALSE); }

int CListView::SelectionMark() const { return static_cast<int>(SendMessageA(m_hList, LVM_GETSELECTIONMARK, 0, 0)); }

void CListView::SelectOnly(int row) {
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(m_hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  if (row < 0) return;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(m_hList, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
  SendMessageA(m_hList, LVM_SETSELECTIONMARK, 0, row);
}

void CListView::SetText(int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(m_hList, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

std::string CListView::Text(int row, int column) const {
  char buffer[1024] = {};
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = sizeof(buffer);
  SendMessageA(m_hList, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return buffer;
}

int CListView::Count() const { return static_cast<int>(SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0)); }

int CListView::Selected() const {
  return static_cast<int>(SendMessageA(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CListView::DeleteRow(int row) { SendMessageA(m_hList, LVM_DELETEITEM, row, 0); }

void CListView::Clear() { SendMessageA(m_hList, LVM_DELETEALLITEMS, 0, 0); }
