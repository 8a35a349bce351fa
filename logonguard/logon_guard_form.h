#pragma once
// What the logon guard's window decides without Win32: the check of its form before a save, and
// the texts of a row of its table.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "logonguard/failure_policy.h"
#include "logonguard/guard_settings.h"

class ILogonGuard;
class IProfileStore;

// The fields as the window holds them (GBK texts).
struct CGuardForm {
  bool bEnabled = false;
  bool bEventLog = false;
  bool bSqlServer = false;
  bool bFtp = false;
  bool bBlockInternal = false;
  std::string strThreshold;
  std::string strPeriod;
  std::string strDuration;
  std::string strFtpLogFolder;
};

enum class EGuardField { kNone, kThreshold, kPeriod, kDuration, kFolder };

struct CGuardFormCheck {
  bool bAccepted = false;
  std::string strMessage;  // why it was refused; empty when accepted
  EGuardField eFocus = EGuardField::kNone;
  CLogonGuardSettings settings;  // the values to save when accepted
};

// Refuses what the configuration file would not read back as typed: a number with anything but
// digits or out of its bounds, a label that is not a block duration, a folder that is not an
// absolute one without ".." and wildcards.
CGuardFormCheck CheckGuardForm(const CGuardForm& form);
CGuardForm FormFromSettings(const CLogonGuardSettings& settings);

// The save of checked settings: through the program's guard when there is one (it writes the
// section and applies it at once), else into the section of the file for the guard to read when
// protection starts. The text says what happened: whether the file took it, and that a guard not
// running, or switched off, acts on nothing yet.
std::string SaveGuardSettings(ILogonGuard* guard, IProfileStore& store, const CLogonGuardSettings& settings);

// The table: column titles, and one row's cells in the same order.
const std::vector<std::string>& FailureColumnTitles();
const char* LogonSourceLabel(ELogonSource source);
// Blocked, not blocked, or refused with its reason (an exception, an own address, the service
// host, the driver, an internal address); an IPv6 address says why it is never blocked, and an
// automatic entry the driver would read as a pattern is just "未封锁".
std::string FailureRowState(const CFailureRow& row);
std::vector<std::string> FailureRowCells(const CFailureRow& row, const std::function<std::string(int64_t)>& formatTime);
// Below the table: why IPv6 rows are never blocked.
extern const char kIpv6Note[];
