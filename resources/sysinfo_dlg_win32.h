#pragma once
// The system resource window (dialog 158, "系统资源情况"): CPU and memory bars, the fixed
// disks with their totals, and on its timers the high-usage counts, the daily resource
// alerts and the daily self-restart. Created hidden at protection start; runs while hidden.
#include <memory>

#include "resources/cpu_usage_win32.h"
#include "resources/resource_ports_win32.h"
#include "resources/resource_watch.h"
#include "resources/scale_rect_ctrl_win32.h"
#include "ui/working_window_win32.h"

class CSYSINFODLG : public CWorkingWindow {
 public:
  explicit CSYSINFODLG(const CResourcePorts& ports = ResourcePorts());

  // Rebuilds the table from the disk list and totals, then empties the list.
  void FillDiskTable();

 protected:
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;

 private:
  void ShowUsage();  // timer 0

  CScalerectctrl m_cpuBar;
  CScalerectctrl m_memBar;
  std::unique_ptr<CCpuUsage> m_pCpuUsage;
  CResourceWatch m_watch;
  HWND m_hDiskTable = nullptr;
  CResourcePorts m_ports;
};
