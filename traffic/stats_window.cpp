#include "traffic/stats_window.h"

#include <mutex>

namespace {
int g_nStatsWindowOverrideMs = 0;
}  // namespace

int CStatsWindow::TimerMs(int showDelayMs) {
  return g_nStatsWindowOverrideMs > 0 ? g_nStatsWindowOverrideMs : PeriodMs(showDelayMs);
}

void CStatsWindow::SetTimerOverrideMs(int milliseconds) { g_nStatsWindowOverrideMs = milliseconds; }

bool CStatsWindow::Evaluate(CIpStatTable& in, CIpStatTable& out, const CSettings& settings,
                            const AutoBlock& block) {
  if (!m_bWindowDue) return false;
  m_bWindowDue = false;
  // Take the window's figures and empty the tables in one step, so the statistics thread
  // never counts into a half-cleared table; the blocks then run without the lock.
  CIpStatTable inCopy, outCopy;
  {
    std::lock_guard<std::mutex> lock(g_IpStatsLock);
    inCopy = in;
    outCopy = out;
    ClearIpStats(in);
    ClearIpStats(out);
  }
  for (int i = 0; i < kIpStatSlots; ++i) {
    CheckIpLimits(inCopy[i].nCount, 0, inCopy[i].szIp, "0", settings.sysicetimer, settings, block);
    CheckIpLimits(0, RoundMbLikePrintf(outCopy[i].fMb), outCopy[i].szIp, "0", settings.sysicetimer, settings, block);
  }
  m_nWindowSeconds = 0;
  return true;
}
