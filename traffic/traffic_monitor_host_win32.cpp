#include "traffic/traffic_monitor_host_win32.h"

#include "app/process_state.h"
#include "app/resource.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "traffic/ip_stats.h"
#include "traffic/packet_pipeline.h"
#include "traffic/packet_threads_win32.h"
#include "ui/window_post_win32.h"

namespace {
enum : UINT_PTR { kRankingTimer = 1, kWindowEndTimer = 2, kSecondTimer = 3 };
}

CTrafficMonitorHost::CTrafficMonitorHost(HWND owner) : CWorkingWindow(IDD_WATCHMAIN, owner) {}

BOOL CTrafficMonitorHost::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  g_bDriverIdle = 1;
  {
    std::lock_guard<std::mutex> lock(g_IpStatsLock);
    ClearIpStats(g_IpInTable);
    ClearIpStats(g_IpOutTable);
  }
  StartPacketThreads(m_hWnd);
  m_window.Reset();
  // The window length is fixed by the display delay at the moment the page starts.
  SetTimer(kRankingTimer, 3000);
  SetTimer(kWindowEndTimer, static_cast<UINT>(CStatsWindow::PeriodMs(g_nShowDelay)));
  SetTimer(kSecondTimer, 1000);
  return TRUE;
}

void CTrafficMonitorHost::OnTimer(UINT_PTR id) {
  switch (id) {
    case kRankingTimer:
      m_window.Evaluate(g_IpInTable, g_IpOutTable, g_Settings,
                        [](const std::string& ip, const std::string& port, const std::string& label, int type) {
                          BlockIp(ip, port, label, type);  // refusals leave no trace
                        });
      break;
    case kWindowEndTimer:
      m_window.OnWindowEnd();
      break;
    case kSecondTimer:
      m_window.OnSecond();
      break;
    default:
      break;
  }
}

// Until the packet list page exists, this window is the page: posted rows are taken and freed.
bool CTrafficMonitorHost::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kPacketRowMessage) {
    TakePayload<_CPacketInfo>(lParam);
    return true;
  }
  if (message == kPacketClearMessage) return true;
  return CWorkingWindow::OnMessage(message, wParam, lParam, result);
}

void CTrafficMonitorHost::OnDestroy() { DropQueuedPayloads<_CPacketInfo>(m_hWnd, kPacketRowMessage); }
