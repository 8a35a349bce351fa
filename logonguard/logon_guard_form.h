#pragma once
// What the logon guard's window decides without Win32: the check of its form before a save, and
// the texts of a row of its table.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "logonguard/failure_policy.h"
#include "logonguard/guard_settings.h"

// The fields as the window holds them (GBK texts).
struct CGuardForm {
  bool bEnabled = false;
  bool bEventLog = false;
  bool bSqlServer = false;
  bool bFtp = false;
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

// The table: column titles, and one row's cells in the same order.
const std::vector<std::string>& FailureColumnTitles();
const char* LogonSourceLabel(ELogonSource source);
// Blocked, refused by the protection checks, or not blocked (an IPv6 address says why).
std::string FailureRowState(const CFailureRow& row);
std::vector<std::string> FailureRowCells(const CFailureRow& row, const std::function<std::string(int64_t)>& formatTime);
// Below the table: why IPv6 rows are never blocked.
extern const char kIpv6Note[];
