#include "logonguard/guard_settings.h"

#include <cstdlib>

#include "common/ip_entries.h"  // g_BlockTimes: the labels a block can last

const char kLogonGuardSection[] = "logonguard";

namespace {

const char kDefaultDuration[] = "1小时";
const char kDefaultFtpFolder[] = "C:\\inetpub\\logs\\LogFiles";

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

// Only "1" and "0" mean something; anything else keeps the default.
bool ReadSwitch(const std::string& text, bool defaultValue) {
  const std::string value = Trim(text);
  if (value == "1") return true;
  if (value == "0") return false;
  return defaultValue;
}

// Decimal digits with an optional sign, clamped to [low, high]; anything else is the default.
int ReadBounded(const std::string& text, int low, int high, int defaultValue) {
  const std::string value = Trim(text);
  size_t i = value.size() > 0 && (value[0] == '-' || value[0] == '+') ? 1 : 0;
  if (i == value.size()) return defaultValue;
  long long number = 0;
  for (; i < value.size(); ++i) {
    if (value[i] < '0' || value[i] > '9') return defaultValue;
    if (number < 1000000000) number = number * 10 + (value[i] - '0');
  }
  if (value[0] == '-') number = -number;
  if (number < low) return low;
  if (number > high) return high;
  return static_cast<int>(number);
}

// An absolute folder (drive letter or UNC), within MAX_PATH, no control characters, no "..";
// the follower lists it and reads files in it, nothing else.
bool IsAcceptableFolder(const std::string& folder) {
  if (folder.empty() || folder.size() > CLogonGuardSettings::kMaxFolderBytes) return false;
  for (char c : folder)
    if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|')
      return false;
  const bool drive = folder.size() >= 3 && ((folder[0] | 0x20) >= 'a' && (folder[0] | 0x20) <= 'z') &&
                     folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  const bool unc = folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\';
  if (!drive && !unc) return false;
  std::string part;
  for (size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '\\' || folder[i] == '/') {
      if (part == "..") return false;
      part.clear();
    } else {
      part += folder[i];
    }
  }
  return true;
}

}  // namespace

bool IsBlockDurationLabel(const std::string& label) {
  for (const CBlockTime& time : g_BlockTimes)
    if (label == time.szLabel) return true;
  return false;
}

CLogonGuardSettings::CLogonGuardSettings() : strDuration(kDefaultDuration), strFtpLogFolder(kDefaultFtpFolder) {}

CPolicyLimits CLogonGuardSettings::Limits() const {
  CPolicyLimits limits;
  limits.nThreshold = nThreshold;
  limits.nPeriodSeconds = static_cast<int64_t>(nPeriodMinutes) * 60;
  limits.bSourceOn[static_cast<int>(ELogonSource::kRemoteDesktop)] = bEnabled && bEventLog;
  limits.bSourceOn[static_cast<int>(ELogonSource::kWindowsNetwork)] = bEnabled && bEventLog;
  limits.bSourceOn[static_cast<int>(ELogonSource::kSqlServer)] = bEnabled && bSqlServer;
  limits.bSourceOn[static_cast<int>(ELogonSource::kFtp)] = bEnabled && bFtp;
  return limits;
}

CLogonGuardSettings ReadLogonGuardSettings(const std::function<std::string(const std::string& key)>& get) {
  CLogonGuardSettings s;
  s.bEnabled = ReadSwitch(get("enabled"), s.bEnabled);
  s.bEventLog = ReadSwitch(get("eventlog"), s.bEventLog);
  s.bSqlServer = ReadSwitch(get("sqlserver"), s.bSqlServer);
  s.bFtp = ReadSwitch(get("ftp"), s.bFtp);
  s.nThreshold = ReadBounded(get("threshold"), CLogonGuardSettings::kMinThreshold, CLogonGuardSettings::kMaxThreshold,
                             s.nThreshold);
  s.nPeriodMinutes = ReadBounded(get("period"), CLogonGuardSettings::kMinPeriodMinutes,
                                 CLogonGuardSettings::kMaxPeriodMinutes, s.nPeriodMinutes);
  const std::string duration = Trim(get("duration"));
  if (IsBlockDurationLabel(duration)) s.strDuration = duration;
  const std::string folder = Trim(get("ftplogfolder"));
  if (IsAcceptableFolder(folder)) s.strFtpLogFolder = folder;
  s.bBlockInternal = ReadSwitch(get("blockinternal"), s.bBlockInternal);
  return s;
}

std::vector<std::pair<std::string, std::string>> FormatLogonGuardSettings(const CLogonGuardSettings& s) {
  return {{"enabled", s.bEnabled ? "1" : "0"},
          {"eventlog", s.bEventLog ? "1" : "0"},
          {"sqlserver", s.bSqlServer ? "1" : "0"},
          {"ftp", s.bFtp ? "1" : "0"},
          {"threshold", std::to_string(s.nThreshold)},
          {"period", std::to_string(s.nPeriodMinutes)},
          {"duration", s.strDuration},
          {"ftplogfolder", s.strFtpLogFolder},
          {"blockinternal", s.bBlockInternal ? "1" : "0"}};
}
