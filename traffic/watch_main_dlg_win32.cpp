#include "traffic/watch_main_dlg_win32.h"

#include <commctrl.h>

#include "common/resource.h"
#include "driver/driver_link.h"
#include "traffic/ip_stats.h"
#include "traffic/packet_pipeline.h"
#include "traffic/packet_threads_win32.h"

namespace {

// The pages sit inside the tab control's client area, inset by these pixels.
constexpr int kInsetLeft = 4, kInsetTop = 30, kInsetRight = 5, kInsetBottom = 8;
constexpr int kMinDelay = 1, kMaxDelay = 60;

}  // namespace

CWatchMainDlg::CWatchMainDlg(HWND owner) : CAutofrm(IDD_WATCHMAIN, owner) {}

BOOL CWatchMainDlg::OnInitDialog() {
  CAutofrm::OnInitDialog();
  AddAnchor(IDC_WATCH_FILTER_GROUP, 0, 0, 100, 0);
  AddAnchor(IDC_WATCH_ARRIVING, 0, 0, 3, 1);
  AddAnchor(IDC_WATCH_LEAVING, 10, 0, 3, 1);
  AddAnchor(IDC_WATCH_ALL, 20, 0, 3, 1);
  AddAnchor(IDC_WATCH_PAUSE, 98, 0, 3, 1);
  AddAnchor(IDC_WATCH_TAB, 0, 0, 100, 100);
  // Beyond the registered ones: the other controls of the row keep to the right of the filters.
  AddAnchor(IDC_WATCH_AUTOSCROLL, 30, 0, 0, 0);
  AddAnchor(IDC_WATCH_DELAY_LABEL, 40, 0, 0, 0);
  AddAnchor(IDC_WATCH_DELAY, 40, 0, 20, 0);
  AddAnchor(IDC_WATCH_BLANK, 60, 0, 0, 0);
  AddAnchor(IDC_WATCH_REFRESH, 95, 0, 0, 0);

  IconButton(IDC_WATCH_REFRESH).SetIcon(IDI_REFRESH);
  g_bDriverIdle = 1;
  g_bMonitorShown = false;
  ShowPauseFace();
  SetChecked(IDC_WATCH_ARRIVING, true);

  HWND tab = Item(IDC_WATCH_TAB);
  // The pages are children of the tab control: it must not paint over them, and keyboard
  // navigation reaches into them.
  SetWindowLongPtrA(tab, GWL_STYLE, GetWindowLongPtrA(tab, GWL_STYLE) | WS_CLIPCHILDREN);
  SetWindowLongPtrA(tab, GWL_EXSTYLE, GetWindowLongPtrA(tab, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  const char* titles[] = {"详细信息", "IP比例图"};
  for (int i = 0; i < 2; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(titles[i]);
    SendMessageA(tab, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
  }
  m_pDataPage = MakeDialog<CWatchDataDlg>(tab);
  m_pDataPage->Create();
  m_pDrawPage = MakeDialog<CWatachDrawDlg>(tab);
  m_pDrawPage->Create();
  PlacePages();
  TabCtrl_SetCurSel(tab, 0);
  ShowPage(0);

  g_nFilterMode = kFilterArriving;
  SetChecked(IDC_WATCH_AUTOSCROLL, g_bListAutoScroll);
  HWND slider = Item(IDC_WATCH_DELAY);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(kMinDelay, kMaxDelay));
  SendMessageA(slider, TBM_SETPOS, TRUE, g_nShowDelay.load());
  return TRUE;
}

void CWatchMainDlg::PlacePages() {
  HWND tab = Item(IDC_WATCH_TAB);
  RECT rc;
  GetClientRect(tab, &rc);
  const int width = rc.right - kInsetLeft - kInsetRight;
  const int height = rc.bottom - kInsetTop - kInsetBottom;
  for (CDialog* page : {static_cast<CDialog*>(m_pDataPage.get()), static_cast<CDialog*>(m_pDrawPage.get())}) {
    if (page && page->Hwnd()) MoveWindow(page->Hwnd(), kInsetLeft, kInsetTop, width, height, TRUE);
  }
}

void CWatchMainDlg::ShowPage(int tab) {
  if (m_pDataPage) m_pDataPage->ShowWindow(tab == 0 ? SW_SHOW : SW_HIDE);
  if (m_pDrawPage) m_pDrawPage->ShowWindow(tab == 1 ? SW_SHOW : SW_HIDE);
}

void CWatchMainDlg::ShowPauseFace() {
  const bool paused = g_bMonitorPaused != 0;
  SetItemText(IDC_WATCH_PAUSE, paused ? "开始监视" : "停止监视");
  IconButton(IDC_WATCH_PAUSE).SetIcon(paused ? IDI_START : IDI_STOP);
}

void CWatchMainDlg::OnShown(bool shown) {
  g_bMonitorShown = shown;
  // What was listed goes when the window does; the feeder empties it too, later.
  if (!shown && m_pDataPage) m_pDataPage->EmptyList(false);
  WakePacketConsumers();
}

bool CWatchMainDlg::OnCommand(int id, int notifyCode) {
  switch (id) {
    case IDC_WATCH_PAUSE:
      TogglePacketListPause();
      ShowPauseFace();
      return true;
    case IDC_WATCH_ARRIVING:
    case IDC_WATCH_LEAVING:
    case IDC_WATCH_ALL:
      if (notifyCode != BN_CLICKED) return true;
      if (m_pDataPage) m_pDataPage->EmptyList(true);
      g_nFilterMode = id == IDC_WATCH_ARRIVING ? kFilterArriving : id == IDC_WATCH_LEAVING ? kFilterLeaving : kFilterAll;
      return true;
    case IDC_WATCH_REFRESH:
      RefreshCache();
      return true;
    case IDC_WATCH_AUTOSCROLL:
      g_bListAutoScroll = IsChecked(IDC_WATCH_AUTOSCROLL);
      return true;
    default:
      return CAutofrm::OnCommand(id, notifyCode);
  }
}

bool CWatchMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDC_WATCH_TAB || header->code != TCN_SELCHANGE) return false;
      ShowPage(TabCtrl_GetCurSel(header->hwndFrom));
      result = 0;
      return true;
    }
    case WM_SIZE:
      CAutofrm::OnMessage(message, wParam, lParam, result);
      PlacePages();
      return true;
    case WM_HSCROLL: {
      HWND slider = Item(IDC_WATCH_DELAY);
      const int code = LOWORD(wParam);
      if (reinterpret_cast<HWND>(lParam) != slider || (code != TB_ENDTRACK && code != TB_THUMBPOSITION)) return false;
      int delay = static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
      if (delay < kMinDelay) delay = kMinDelay;
      if (delay > kMaxDelay) delay = kMaxDelay;
      g_nShowDelay = delay;  // the consumers' pace at once; the statistics window keeps its length
      result = 0;
      return true;
    }
    case WM_SHOWWINDOW:
      OnShown(wParam != FALSE);
      return false;
    case WM_CLOSE:
      ShowWindow(SW_HIDE);
      result = 0;
      return true;
    default:
      return CAutofrm::OnMessage(message, wParam, lParam, result);
  }
}

void CWatchMainDlg::OnDestroy() {
  g_bMonitorShown = false;
  WakePacketConsumers();
}
