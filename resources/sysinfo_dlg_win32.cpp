#include "resources/sysinfo_dlg_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "driver/driver_link.h"
#include "ipblock/flood_blocking.h"

namespace {

constexpr UINT_PTR kTimerBase = 100;  // timer n of the window is kTimerBase + n
enum : int { kDisplayTimer = 0, kTableTimer = 1, kAlertTimer = 2, kRearmTimer = 3 };
constexpr UINT kDisplayMs = 2000;
constexpr UINT kRearmMs = 518400000;  // six days

struct Column {
  const char* title;
  int width;  // 0: what the others leave of the table's width, at least kMinRestWidth
};
// With the dialog font the table is about 300 pixels wide, which would leave the total
// column a sliver; it keeps room for "9999.99G" and the table scrolls instead.
constexpr int kMinRestWidth = 70;
constexpr Column kColumns[] = {{"ID", 30}, {"盘符", 70}, {"总容量", 0}, {"可用空间", 90}, {"可用比例", 90}};

std::string Percent(const char* format, int value) {
  char text[64];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

}  // namespace

CSYSINFODLG::CSYSINFODLG(const CResourcePorts& ports) : CWorkingWindow(IDD_SYSINFO, nullptr), m_ports(ports) {}

BOOL CSYSINFODLG::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  m_hDiskTable = Item(IDC_SYSINFO_DISKS);
  m_cpuBar.Attach(Item(IDC_SYSINFO_CPU_BAR));
  m_memBar.Attach(Item(IDC_SYSINFO_MEM_BAR));
  GetDiskInfo(*m_ports.pDisks, g_pDiskList, g_pDiskTotal);
  FillDiskTable();
  m_pCpuUsage = std::make_unique<CCpuUsage>(*m_ports.pSystem, *m_ports.pMemory);
  SetTimer(kTimerBase + kDisplayTimer, kDisplayMs);
  SetTimer(kTimerBase + kTableTimer, m_ports.nTableMs);
  SetTimer(kTimerBase + kAlertTimer, m_ports.nAlertMs);
  SetTimer(kTimerBase + kRearmTimer, kRearmMs);
  m_watch.Reset();
  // So that the first automatic-block alert after a start is not held back by its spacing.
  g_tLastBlockAlert = LocalTimeFromText("1976-11-15 00:00:00");
  return TRUE;
}

void CSYSINFODLG::FillDiskTable() {
  HWND list = m_hDiskTable;
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  while (ListView_DeleteColumn(list, 0)) {
  }
  RECT client = {};
  GetClientRect(list, &client);
  int column = 0;
  for (const Column& c : kColumns) {
    LVCOLUMNA lvc = {};
    lvc.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    lvc.fmt = LVCFMT_LEFT;
    lvc.cx = c.width ? c.width : std::max<int>(client.right - 280, kMinRestWidth);
    lvc.pszText = const_cast<char*>(c.title);
    SendMessageA(list, LVM_INSERTCOLUMNA, column++, reinterpret_cast<LPARAM>(&lvc));
  }

  const CDiskTable table = DiskTableRows(g_pDiskList, g_pDiskTotal, m_watch.AlertedDrives());
  m_watch.SetLowDrive(table.strLowDrive);
  g_pDiskList.clear();
  int row = 0;
  for (const auto& cells : table.rows) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(cells[0].c_str());
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    for (size_t i = 1; i < cells.size(); ++i) {
      LVITEMA sub = {};
      sub.iSubItem = static_cast<int>(i);
      sub.pszText = const_cast<char*>(cells[i].c_str());
      SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
    }
    ++row;
  }
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void CSYSINFODLG::ShowUsage() {
  const int cpu = m_pCpuUsage ? m_pCpuUsage->GetCpuUsage() : 0;
  const int memory = m_pCpuUsage ? m_pCpuUsage->GetMemoryUsage() : 0;
  m_cpuBar.m_nValue = cpu;
  m_cpuBar.Redraw();
  m_memBar.m_nValue = memory;
  m_memBar.Redraw();
  SetItemText(IDC_SYSINFO_CPU_TEXT, Percent("CPU使用率:%d%%", cpu));
  SetItemText(IDC_SYSINFO_MEM_TEXT, Percent("内存使用率:%d%%", memory));
  m_watch.CountUsage(cpu, memory);
  if (m_watch.TakeRestartTurn(g_nSecondsSinceStart, m_ports.pClock->LocalHour())) RestartProgram(*m_ports.pProcess);
}

void CSYSINFODLG::OnTimer(UINT_PTR id) {
  switch (static_cast<int>(id - kTimerBase)) {
    case kDisplayTimer:
      ShowUsage();
      break;
    case kTableTimer:
      if (!g_bProtecting) break;  // stopped: the table keeps what it shows
      GetDiskInfo(*m_ports.pDisks, g_pDiskList, g_pDiskTotal);
      FillDiskTable();
      break;
    case kAlertTimer:
      m_watch.CheckAlerts(m_ports.pClock->Now(), g_tLastResourceCheck, g_Settings,
                          g_saLocalIp.empty() ? std::string() : g_saLocalIp.front(), DispatchAlert);
      break;
    case kRearmTimer:
      m_watch.Rearm();
      break;
    default:
      break;
  }
}

void CSYSINFODLG::OnDestroy() {
  for (UINT_PTR n = 0; n < 4; ++n) KillTimer(kTimerBase + n);
  if (m_pCpuUsage) m_pCpuUsage->Stop();
  m_pCpuUsage.reset();
}
