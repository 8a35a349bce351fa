#include "traffic/watch_draw_dlg_win32.h"

#include <commctrl.h>

#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "ipblock/ip_tables.h"
#include "traffic/packet_pipeline.h"

namespace {

enum : UINT_PTR { kRankingTimer = 1, kWindowEndTimer = 2, kSecondTimer = 3 };
constexpr int kChartSeries = 11;
constexpr COLORREF kSeriesColors[kChartSeries] = {
    RGB(255, 0, 0),   RGB(0, 255, 144), RGB(255, 0, 222), RGB(192, 255, 0), RGB(198, 0, 255), RGB(42, 255, 0),
    RGB(54, 0, 255), RGB(248, 248, 248), RGB(0, 174, 255), RGB(0, 255, 144), RGB(255, 240, 0)};

}  // namespace

CWatachDrawDlg::CWatachDrawDlg(HWND parent) : CAutofrm(IDD_WATCHDRAW, parent) {}

BOOL CWatachDrawDlg::OnInitDialog() {
  CAutofrm::OnInitDialog();
  for (int id : {IDC_DRAW_CHART_GROUP, IDC_DRAW_CHART}) AddAnchor(id, 0, 0, 100, 100);
  for (int id : {IDC_DRAW_RANKING, IDC_DRAW_RANK_GROUP}) AddAnchor(id, 100, 0, 0, 100);
  for (int id : {IDC_DRAW_MODE_GROUP, IDC_DRAW_BY_COUNT, IDC_DRAW_BY_MB}) AddAnchor(id, 100, 100, 0, 0);
  m_list.Attach(Item(IDC_DRAW_RANKING));
  FillRankCopy(m_rankCopy, 0);
  SetChecked(IDC_DRAW_BY_COUNT, true);
  ListView_SetExtendedListViewStyle(m_list.Hwnd(), LVS_EX_FULLROWSELECT);
  if (m_chart.Attach(Item(IDC_DRAW_CHART))) {
    m_chart.SetRange(10000);
    m_chart.SetGridStep(500);
    m_chart.SetScroll(30);
    for (COLORREF color : kSeriesColors) m_chart.AddSeries(color);
    if (!m_bChartReady) {
      m_chart.Reset();
      m_bChartReady = true;
    }
  }
  InsertColumns(0);
  m_window.Reset();
  // The window's length is fixed by the display delay as it stands now.
  SetTimer(kRankingTimer, 3000);
  SetTimer(kWindowEndTimer, static_cast<UINT>(CStatsWindow::TimerMs(g_nShowDelay)));
  SetTimer(kSecondTimer, 1000);
  return TRUE;
}

void CWatachDrawDlg::InsertColumns(int32_t mode) {
  RECT rc;
  GetClientRect(m_list.Hwnd(), &rc);
  m_list.AddColumn("ID", 20);
  m_list.AddColumn("IP地址", rc.right - 80);
  m_list.AddColumn(RankValueTitle(mode), 60);
}

bool CWatachDrawDlg::OnCommand(int id, int notifyCode) {
  if (id == IDC_DRAW_BY_COUNT || id == IDC_DRAW_BY_MB) {
    g_nRankMode = id == IDC_DRAW_BY_MB ? 1 : 0;  // shown from the next ranking refresh
    return true;
  }
  return CAutofrm::OnCommand(id, notifyCode);
}

void CWatachDrawDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kRankingTimer:
      RefreshRanking();
      EvaluateWindow();
      break;
    case kWindowEndTimer:
      m_window.OnWindowEnd();
      break;
    case kSecondTimer:
      m_window.OnSecond();
      SetItemText(IDC_DRAW_RANK_GROUP, WindowCaption(g_nRankMode, m_window.Seconds()));
      break;
    default:
      break;
  }
}

void CWatachDrawDlg::RefreshRanking() {
  const int32_t mode = g_nRankMode;
  FillRankCopy(m_rankCopy, mode);
  const std::vector<CRankRow> rows = RankingRows(m_rankCopy, mode);
  for (size_t i = 0; i < rows.size(); ++i) m_chart.SetValue(static_cast<int>(i), rows[i].nChartValue);
  // The list is rebuilt only while someone can see it; hidden, it keeps its last rows.
  if (g_bMonitorShown) {
    HWND list = m_list.Hwnd();
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    m_list.Clear();
    for (int n = Header_GetItemCount(ListView_GetHeader(list)); n > 0; --n) ListView_DeleteColumn(list, 0);
    m_list = CListView();
    m_list.Attach(list);
    InsertColumns(mode);
    for (const CRankRow& row : rows) m_list.AddRow({row.strId, row.strIp, row.strValue});
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    const int selected = FindRankRow(rows, m_strSelKey);
    if (selected >= 0) {
      ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    InvalidateRect(list, nullptr, TRUE);
  }
  m_chart.Step();
}

void CWatachDrawDlg::EvaluateWindow() {
  m_window.Evaluate(g_IpInTable, g_IpOutTable, g_Settings,
                    [](const std::string& ip, const std::string& port, const std::string& label, int type) {
                      BlockIp(ip, port, label, type);  // refusals leave no trace
                    });
}

bool CWatachDrawDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_DRAW_RANKING && header->code == NM_CLICK) {
      const int mark = ListView_GetSelectionMark(m_list.Hwnd());
      if (mark >= 0) m_strSelKey = m_list.Text(mark, 1);
      result = 0;
      return true;
    }
    return false;
  }
  return CAutofrm::OnMessage(message, wParam, lParam, result);
}

void CWatachDrawDlg::OnDestroy() { m_chart.RemoveAllSeries(); }
