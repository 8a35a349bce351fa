#pragma once
// The "[logonguard]" section of the configuration file: read with defaults and bounds (a value
// that is not a plain number, or a label that is not a block duration, gives the default; a
// number out of range is brought to the nearest bound), and written back as key/value texts.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "logonguard/failure_policy.h"

extern const char kLogonGuardSection[];  // "logonguard"

struct CLogonGuardSettings {
  static constexpr int kMinThreshold = 2, kMaxThreshold = 100;
  static constexpr int kMinPeriodMinutes = 1, kMaxPeriodMinutes = 1440;
  static constexpr size_t kMaxFolderBytes = 259;

  bool bEnabled = false;   // "enabled": the guard as a whole
  bool bEventLog = true;   // "eventlog": Security log (remote desktop and network logons)
  bool bSqlServer = true;  // "sqlserver"
  bool bFtp = true;        // "ftp"
  int nThreshold = 5;      // "threshold"
  int nPeriodMinutes = 10; // "period"
  std::string strDuration; // "duration": one of the eight block duration labels
  std::string strFtpLogFolder;  // "ftplogfolder"
  // "blockinternal": also block private, link-local, shared (CGNAT) addresses and the server's
  // own subnets and gateway. Off: behind NAT, an RD Gateway or a load balancer every guess
  // seems to come from one such address, and blocking it cuts off everybody behind it.
  bool bBlockInternal = false;

  CLogonGuardSettings();
  CPolicyLimits Limits() const;
};

// Reads every key through get (the value, "" when missing).
CLogonGuardSettings ReadLogonGuardSettings(const std::function<std::string(const std::string& key)>& get);
// Every key with its text, in a fixed order.
std::vector<std::pair<std::string, std::string>> FormatLogonGuardSettings(const CLogonGuardSettings& settings);
// The eight labels a block can last, the same texts as the blocked-IP table's.
bool IsBlockDurationLabel(const std::string& label);
