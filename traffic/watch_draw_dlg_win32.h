#pragma once
// The chart page of the traffic monitor (dialog 130): the ranking of remote addresses with its
// line chart, and the statistics window clock of automatic flood blocking, whose timers run
// from protection start whether the monitor is ever shown or not.
#include <string>

#include "ipblock/flood_blocking.h"
#include "traffic/stats_window.h"
#include "traffic/line_chart_ctrl_win32.h"
#include "traffic/ranking.h"
#include "ui/custfrm_win32.h"
#include "ui/list_view_win32.h"

class CWatachDrawDlg : public CAutofrm {
 public:
  explicit CWatachDrawDlg(HWND parent);
  const CStatsWindow& Window() const { return m_window; }
  CLineChartCtrl& Chart() { return m_chart; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void InsertColumns(int32_t mode);
  void RefreshRanking();
  void EvaluateWindow();

  CLineChartCtrl m_chart;  // registers the chart's window class before the template needs it
  CListView m_list;
  CRankCopy m_rankCopy = {};
  std::string m_strSelKey;  // address of the ranking row last clicked
  CStatsWindow m_window;
  bool m_bChartReady = false;
};
