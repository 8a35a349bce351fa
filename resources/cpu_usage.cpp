#include "resources/cpu_usage.h"

namespace {

int64_t Le64(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return static_cast<int64_t>(value);
}

int64_t Difference(int64_t now, int64_t before) {
  return static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(before));
}

}  // namespace

double CountAsDouble(int64_t count) {
  const uint64_t bits = static_cast<uint64_t>(count);
  const int32_t high = static_cast<int32_t>(bits >> 32);
  const uint32_t low = static_cast<uint32_t>(bits);
  return high * 4294967296.0 + low;
}

int CpuUsageFigure(int64_t idleDelta, int64_t systemDelta, unsigned processors, double* real) {
  const double system = CountAsDouble(systemDelta);
  if (system <= 0 || processors == 0) return -1;
  const double usage = 100.0 - CountAsDouble(idleDelta) / system * 100.0 / processors + 0.5;
  if (real) *real = usage;
  // Idle time and system time are read a moment apart, so an idle machine can come out a
  // little below 0 and a busy one a little above 100.
  if (usage < 0) return 0;
  if (usage >= 100) return 100;
  return static_cast<int>(usage);
}

CCpuSampler::CCpuSampler(ISystemInformation& info, const CSystemInfoLayout& layout) : m_info(info), m_layout(layout) {
  if (m_layout.nBasicSize > m_basic.size() || m_layout.nProcessorsOffset >= m_layout.nBasicSize)
    m_layout = kBuildLayout;
}

bool CCpuSampler::Begin() {
  if (!m_info.Available()) return false;
  m_nStatus = m_info.Query(kBasicInformation, m_basic.data(), m_layout.nBasicSize);
  return m_nStatus == 0;
}

int CCpuSampler::Sample() {
  m_nStatus = m_info.Query(kTimeOfDayInformation, m_timeOfDay.data(), kTimeOfDayInfoSize);
  if (m_nStatus != 0) return 0;
  m_nStatus = m_info.Query(kPerformanceInformation, m_performance.data(), kPerformanceInfoSize);
  if (m_nStatus != 0) return 0;
  const int64_t idle = Le64(m_performance.data());
  const int64_t system = Le64(m_timeOfDay.data() + 8);
  if (m_llOldIdleTime != 0) {
    const int64_t systemDelta = Difference(system, m_llOldSystemTime);
    m_dSystemDelta = CountAsDouble(systemDelta);
    const int figure = CpuUsageFigure(Difference(idle, m_llOldIdleTime), systemDelta, Processors(), &m_dCpuUsage);
    if (figure >= 0) m_nCpuUsage = figure;
  }
  m_llOldIdleTime = idle;
  m_llOldSystemTime = system;
  return 0;
}
