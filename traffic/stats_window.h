#pragma once
// The statistics window of the chart page: when it ends, every address counted in it is held
// to the flood limits.
#include "config/settings.h"
#include "ipblock/flood_blocking.h"
#include "traffic/ip_stats.h"

// The window clock of the chart page: the window ends every (delay + 6) x 10 s.
class CStatsWindow {
 public:
  static int PeriodMs(int showDelayMs) { return (showDelayMs + 6) * 10000; }
  // The length the chart page's timer uses: PeriodMs, unless a test build set another length
  // before start-up (0 brings PeriodMs back).
  static int TimerMs(int showDelayMs);
  static void SetTimerOverrideMs(int milliseconds);
  void Reset() { m_nWindowSeconds = 0; m_bWindowDue = false; }
  void OnSecond() { ++m_nWindowSeconds; }
  void OnWindowEnd() { m_bWindowDue = true; }
  int Seconds() const { return m_nWindowSeconds; }
  bool Due() const { return m_bWindowDue; }
  // The 3-second evaluation: when the window is due, checks every slot of both tables in
  // table order, empties the tables and restarts the seconds. True when it evaluated.
  bool Evaluate(CIpStatTable& in, CIpStatTable& out, const CSettings& settings, const AutoBlock& block);

 private:
  int m_nWindowSeconds = 0;
  bool m_bWindowDue = false;
};
