#include "ipblock/blocked_ip_host_win32.h"

#include "alerts/vendor_service_win32.h"
#include "app/process_state.h"
#include "app/resource.h"
#include "common/clock.h"
#include "config/profile_store_win32.h"
#include "driver/driver_link.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_tables.h"

namespace {
enum : UINT_PTR { kPingTimer = 1, kAlertTimer = 2 };
}

CBlockedIpHost::CBlockedIpHost(HWND owner) : CWorkingWindow(IDD_IPFILTER, owner) {}

BOOL CBlockedIpHost::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  SetTimer(kPingTimer, 20000);
  SetTimer(kAlertTimer, 40000);
  return TRUE;
}

void CBlockedIpHost::OnTimer(UINT_PTR id) {
  if (id == kPingTimer) {
    CWin32ProfileStore store;
    ApplyPingPolicy(g_Settings, g_saLocalIp, [](const _CPingRule& rule) { return SetPingRule(&rule); }, store);
  } else if (id == kAlertTimer) {
    ReportBlockedIps(BlockedRowsFromTable(), CSystemClock().Now(), g_Settings.ipfilterchk, DispatchAlert);
  }
}
