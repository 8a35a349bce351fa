#pragma once
// What the system resource window decides on its timers: how long CPU and memory stay near
// saturation, the daily resource alerts (each kind at most once until the six-day re-arm, a
// drive at most once), and the daily self-restart.
#include <cstdint>
#include <functional>
#include <string>

#include "common/clock.h"

struct CSettings;

// The clock the window reads: the time and the local hour of the day.
class IResourceClock : public IClock {
 public:
  virtual int LocalHour() = 0;  // 0..23
};

constexpr int kHighUsagePercent = 98;       // counted from this figure up; also in the messages
constexpr int32_t kHighUsageTicks = 21600;  // 12 hours of 2-second display ticks
constexpr int64_t kResourceCheckSpacing = 86400;

// When the resources were last checked for alerts (0: never); one per process.
extern int64_t g_tLastResourceCheck;

// The program restarts itself at the first 4 o'clock hour after a full day of protection.
bool RestartDue(int32_t secondsSinceStart, int localHour);

// A local time written "Y-M-D h:m:s", in seconds since 1970; -1 when it is not one (a field
// out of its range, a year before 1900 or after 9999).
int64_t LocalTimeFromText(const char* text);

class CResourceWatch {
 public:
  using Dispatch = std::function<void(const std::string&)>;

  void Reset();  // counts and sent flags to 0
  // Display tick: a figure of 98 or more counts.
  void CountUsage(int cpu, int memory);
  // The drive the last table refresh found out of space, or "".
  void SetLowDrive(const std::string& drive) { m_strLowDrive = drive; }
  // Alert tick: at most once a day (the first tick checks at once). serverIp is the server's
  // first own address, which starts every message.
  void CheckAlerts(int64_t now, int64_t& lastCheck, const CSettings& settings, const std::string& serverIp,
                   const Dispatch& dispatch);
  void Rearm();  // six-day tick: every kind and every drive may be alerted again
  // Display tick: true when the program should restart itself now. Asked once per 4 o'clock
  // hour, so a restart that could not start a copy is not tried again on every tick.
  bool TakeRestartTurn(int32_t secondsSinceStart, int localHour);

  const std::string& AlertedDrives() const { return m_strAlertedDrives; }
  const std::string& LowDrive() const { return m_strLowDrive; }
  int32_t CpuHighCount() const { return m_nCpuHighCount; }
  int32_t MemoryHighCount() const { return m_nMemHighCount; }

 private:
  std::string m_strAlertedDrives;  // each followed by ","
  bool m_bCpuAlertSent = false;
  bool m_bMemAlertSent = false;
  bool m_bDiskAlertSent = false;
  std::string m_strLowDrive;
  int32_t m_nCpuHighCount = 0;
  int32_t m_nMemHighCount = 0;
  bool m_bRestartTried = false;
};
