#include "remote_controls_win32.h"

#include <commctrl.h>

#include <cstring>

#include "remote_buffer_win32.h"

namespace {

constexpr size_t kTextAt = 512;  // the text buffer follows the record in the block
constexpr size_t kTextSize = 512;

}  // namespace

// Sends a message whose record (at the start of the block) names a text buffer in the block,
// and reads the text back. A message that reports failure by returning 0 gives "<none>".
template <class Record>
std::string RemoteText(HWND window, UINT message, WPARAM wParam, Record record, bool zeroFails) {
  CRemoteBuffer block(window, kTextAt + kTextSize);
  if (!block.Ok()) return "<no access>";
  record.pszText = block.At(kTextAt);
  record.cchTextMax = kTextSize;
  block.Write(0, &record, sizeof record);
  if (!SendMessageA(window, message, wParam, reinterpret_cast<LPARAM>(block.At(0))) && zeroFails) return "<none>";
  char text[kTextSize] = {};
  block.Read(kTextAt, text, sizeof text - 1);
  return text;
}

int RemoteListCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string RemoteListText(HWND list, int row, int column) {
  LVITEMA item = {};
  item.iSubItem = column;
  return RemoteText(list, LVM_GETITEMTEXTA, row, item, false);  // answers the text's length
}

std::string RemoteColumnTitle(HWND list, int column) {
  LVCOLUMNA col = {};
  col.mask = LVCF_TEXT;
  return RemoteText(list, LVM_GETCOLUMNA, column, col, true);
}

RECT RemoteListRowRect(HWND list, int row) {
  RECT rc = {LVIR_BOUNDS, 0, 0, 0};
  CRemoteBuffer block(list, sizeof(RECT));
  if (!block.Ok() || !block.Write(0, &rc, sizeof rc)) return RECT{};
  if (!SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(block.At(0)))) return RECT{};
  block.Read(0, &rc, sizeof rc);
  return rc;
}

int RemoteSelectedRow(HWND list) {
  return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

RECT RemoteTabItemRect(HWND tab, int item) {
  RECT rc = {};
  CRemoteBuffer block(tab, sizeof(RECT));
  if (!block.Ok()) return rc;
  if (SendMessageA(tab, TCM_GETITEMRECT, item, reinterpret_cast<LPARAM>(block.At(0)))) block.Read(0, &rc, sizeof rc);
  return rc;
}

void PostClick(HWND window, int x, int y) {
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

namespace {
struct CChildSearch {
  int nId;
  HWND found;
};
BOOL CALLBACK FindDialogWith(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<CChildSearch*>(param);
  char cls[16] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpA(cls, "#32770") == 0 && GetDlgItem(child, search->nId)) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND ChildDialogWith(HWND parent, int controlId) {
  CChildSearch search = {controlId, nullptr};
  EnumChildWindows(parent, FindDialogWith, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
