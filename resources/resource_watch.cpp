#include "resources/resource_watch.h"

#include <cstdio>
#include <ctime>

#include "config/settings.h"

int64_t g_tLastResourceCheck = 0;

namespace {

const char kServerWord[] = "服务器";
const char kDiskText[] = "空间不足,请清理!";
const char kCpuText[] = "cpu利用率超过百分之";
const char kMemoryText[] = "内存利用率超过百分之";

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool RestartDue(int32_t secondsSinceStart, int localHour) { return secondsSinceStart > 86400 && localHour == 4; }

int64_t LocalTimeFromText(const char* text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6) return -1;
  if (year < 1900 || year > 9999) return -1;  // tm_year counts from 1900 in an int
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t moment = std::mktime(&local);
  // mktime carries fields out of their range over ("2024-2-30" becomes 1 March): such a text
  // names no moment.
  if (moment == static_cast<std::time_t>(-1) || local.tm_year != year - 1900 || local.tm_mon != month - 1 ||
      local.tm_mday != day || local.tm_hour != hour || local.tm_min != minute || local.tm_sec != second)
    return -1;
  return static_cast<int64_t>(moment);
}

void CResourceWatch::Reset() {
  m_nCpuHighCount = 0;
  m_nMemHighCount = 0;
  m_bCpuAlertSent = false;
  m_bMemAlertSent = false;
  m_bDiskAlertSent = false;
}

void CResourceWatch::CountUsage(int cpu, int memory) {
  if (cpu >= kHighUsagePercent) ++m_nCpuHighCount;
  if (memory >= kHighUsagePercent) ++m_nMemHighCount;
}

void CResourceWatch::CheckAlerts(int64_t now, int64_t& lastCheck, const CSettings& settings,
                                 const std::string& serverIp, const Dispatch& dispatch) {
  // A clock set back checks again rather than falling silent until it catches up.
  if (now >= lastCheck && now - lastCheck <= kResourceCheckSpacing) return;
  const std::string prefix = serverIp + kServerWord;
  const std::string low = Trimmed(m_strLowDrive);
  if (settings.diskchk && !low.empty() && m_strAlertedDrives.find(m_strLowDrive) == std::string::npos &&
      !m_bDiskAlertSent) {
    m_bDiskAlertSent = true;
    m_strAlertedDrives += m_strLowDrive + ",";
    dispatch(prefix + m_strLowDrive + kDiskText);
  }
  const std::string percent = std::to_string(kHighUsagePercent);
  if (settings.cpuchk && !m_bCpuAlertSent && m_nCpuHighCount > kHighUsageTicks) {
    m_bCpuAlertSent = true;
    dispatch(prefix + kCpuText + percent);
    m_nCpuHighCount = 0;
  }
  if (settings.memorychk && !m_bMemAlertSent && m_nMemHighCount > kHighUsageTicks) {
    m_bMemAlertSent = true;
    dispatch(prefix + kMemoryText + percent);
    m_nMemHighCount = 0;
  }
  lastCheck = now;
}

void CResourceWatch::Rearm() {
  m_strAlertedDrives.clear();
  m_bCpuAlertSent = false;
  m_bMemAlertSent = false;
  m_bDiskAlertSent = false;
}

bool CResourceWatch::TakeRestartTurn(int32_t secondsSinceStart, int localHour) {
  if (localHour != 4) m_bRestartTried = false;
  if (m_bRestartTried || !RestartDue(secondsSinceStart, localHour)) return false;
  m_bRestartTried = true;
  return true;
}
