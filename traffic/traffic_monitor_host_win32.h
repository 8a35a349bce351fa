#pragma once
// The traffic monitor window (dialog 131) as it stands before its pages exist: created hidden
// at protection start, it starts the packet threads and carries the statistics window clock.
#include "ipblock/flood_blocking.h"
#include "ui/working_window_win32.h"

class CTrafficMonitorHost : public CWorkingWindow {
 public:
  explicit CTrafficMonitorHost(HWND owner);
  const CStatsWindow& Window() const { return m_window; }

 protected:
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  CStatsWindow m_window;
};
