#include "traffic/packet_waits.h"

void CPacedWaits::HoldFineTimer(bool hold) {
  // A high-resolution timer keeps the pace by itself: the process-wide resolution is not
  // raised at all then.
  if (hold == m_bHeld || (hold && m_timers.HasHighResolutionTimer())) return;
  if (hold) {
    m_bHeld = m_timers.BeginFinePeriod();
  } else {
    m_timers.EndFinePeriod();
    m_bHeld = false;
  }
}

void CPacedWaits::Pause(int milliseconds) {
  if (m_timers.HasHighResolutionTimer()) m_timers.WaitHighResolution(milliseconds);
  else m_timers.Sleep(milliseconds);
}
