#include "traffic/watch_data_dlg_win32.h"

#include <commctrl.h>

#include <memory>
#include <mutex>

#include "common/resource.h"
#include "ipblock/ip_tables.h"
#include "traffic/ip_stats.h"
#include "traffic/packet_pipeline.h"
#include "traffic/packet_threads_win32.h"
#include "ui/window_post_win32.h"

namespace {
enum : UINT_PTR { kShowRowsTimer = 1 };
constexpr UINT kShowRowsMs = 100;
}  // namespace

CWatchDataDlg::CWatchDataDlg(HWND parent) : CAutofrm(IDD_WATCHDATA, parent) {}

BOOL CWatchDataDlg::OnInitDialog() {
  CAutofrm::OnInitDialog();
  m_list.Attach(Item(IDC_WATCH_PACKETS));
  RECT page;
  GetClientRect(m_hWnd, &page);
  MoveWindow(m_list.Hwnd(), 0, 0, page.right, page.bottom, TRUE);
  AddAnchor(IDC_WATCH_PACKETS, 0, 0, 100, 100);
  InsertColumns();
  {
    std::lock_guard<std::mutex> lock(g_IpStatsLock);
    ClearIpStats(g_IpInTable);
    ClearIpStats(g_IpOutTable);
  }
  ListView_SetExtendedListViewStyle(m_list.Hwnd(), LVS_EX_FULLROWSELECT);
  m_rows.reserve(kMaxPacketRows + 1);
  StartPacketThreads(m_hWnd);
  return TRUE;
}

void CWatchDataDlg::InsertColumns() {
  RECT rc;
  GetClientRect(m_list.Hwnd(), &rc);
  for (const CColumnSpec& column : PacketColumns(rc.right)) m_list.AddColumn(column.szTitle, column.nWidth);
}

void CWatchDataDlg::EmptyList(bool columnsToo) {
  m_rows.clear();
  m_counter.Emptied();
  ListView_SetItemCountEx(m_list.Hwnd(), 0, 0);
  if (!columnsToo) return;
  HWND header = ListView_GetHeader(m_list.Hwnd());
  for (int n = Header_GetItemCount(header); n > 0; --n) ListView_DeleteColumn(m_list.Hwnd(), 0);
  m_list = CListView();
  m_list.Attach(Item(IDC_WATCH_PACKETS));
  InsertColumns();
}

void CWatchDataDlg::AddPacketRow(const _CPacketInfo& packet) {
  const bool kept = FilterKeeps(g_nFilterMode, PacketLeaves(packet, g_saLocalIp));
  const CPacketRowPlan plan =
      m_counter.Plan(kept, g_bMonitorShown, g_bListAutoScroll, static_cast<int>(m_rows.size()));
  if (plan.bInsert) m_rows.insert(m_rows.begin() + plan.nRow, {plan.nRow, packet});
  if (plan.bEmpty) m_rows.clear();
  if (!plan.bInsert && !plan.bEmpty) return;
  m_bScrollPending = plan.bScroll;
  if (!m_bShowPending) {
    m_bShowPending = true;
    SetTimer(kShowRowsTimer, kShowRowsMs);
  }
}

void CWatchDataDlg::ShowRows() {
  m_bShowPending = false;
  KillTimer(kShowRowsTimer);
  HWND list = m_list.Hwnd();
  const int shown = ListView_GetItemCount(list);
  const int rows = static_cast<int>(m_rows.size());
  // Rows only added keep what is in sight; a list that was emptied meanwhile is drawn afresh.
  ListView_SetItemCountEx(list, rows, rows >= shown ? LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL : 0);
  if (rows > shown) ListView_RedrawItems(list, shown, rows - 1);
  if (m_bScrollPending && rows > 0) ListView_EnsureVisible(list, rows - 1, FALSE);
  m_bScrollPending = false;
}

void CWatchDataDlg::OnTimer(UINT_PTR id) {
  if (id == kShowRowsTimer) ShowRows();
}

bool CWatchDataDlg::OnDisplayInfo(const NMHDR* header) {
  if (header->code == LVN_GETDISPINFOA) {
    LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header))->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return true;
    item.pszText[0] = '\0';
    if (item.iItem < 0 || item.iItem >= static_cast<int>(m_rows.size())) return true;
    const CListedPacket& row = m_rows[static_cast<size_t>(item.iItem)];
    lstrcpynA(item.pszText, PacketCellText(row.nNumber, row.info, item.iSubItem).c_str(), item.cchTextMax);
    return true;
  }
  if (header->code == LVN_GETDISPINFOW) {
    LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header))->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return true;
    item.pszText[0] = L'\0';
    if (item.iItem < 0 || item.iItem >= static_cast<int>(m_rows.size())) return true;
    const CListedPacket& row = m_rows[static_cast<size_t>(item.iItem)];
    const std::string text = PacketCellText(row.nNumber, row.info, item.iSubItem);
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, item.pszText, item.cchTextMax);
    if (n == 0) item.pszText[item.cchTextMax - 1] = L'\0';
    return true;
  }
  return false;
}

bool CWatchDataDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kPacketRowMessage) {
    // Ours from here on, whatever becomes of it: freed when this handler ends.
    const std::unique_ptr<CPacketRow> row = TakePayload<CPacketRow>(lParam);
    if (row) AddPacketRow(row->info);
    result = 0;
    return true;
  }
  if (message == kPacketClearMessage) {
    EmptyList(false);
    result = 0;
    return true;
  }
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_WATCH_PACKETS && OnDisplayInfo(header)) {
      result = 0;
      return true;
    }
    return false;
  }
  return CAutofrm::OnMessage(message, wParam, lParam, result);
}

void CWatchDataDlg::OnDestroy() { DropQueuedPayloads<CPacketRow>(m_hWnd, kPacketRowMessage); }
