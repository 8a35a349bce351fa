#include "logonguard/logon_guard_form.h"

#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "logonguard/logon_guard.h"

namespace guardmsg {
const char kThreshold[] = "失败次数必须是2到100之间的数字!";
const char kPeriod[] = "统计时间必须是1到1440之间的分钟数!";
const char kDuration[] = "请选择屏蔽时间!";
const char kFolder[] = "FTP日志目录必须是完整路径(如C:\\inetpub\\logs\\LogFiles),不能含有\"..\"、通配符或控制字符!";
}  // namespace guardmsg

const char kIpv6Note[] = "IPv6地址只记录显示,不会被屏蔽(驱动只过滤IPv4)。";

namespace {

const char kBlocked[] = "已封锁";
const char kNotBlocked[] = "未封锁";
const char kException[] = "例外未封锁";
const char kOwnAddress[] = "本机未封锁";
const char kServiceHost[] = "服务地址未封锁";
const char kDriverRefused[] = "驱动拒绝封锁";
const char kInternal[] = "内网未封锁";

const char kSavedNotRunning[] = "设置已保存,登录防护未运行(启动防护后开始)。";
const char kSavedSwitchedOff[] = "设置已保存,登录防护未开启。";
const char kSwitchedOffNote[] = "登录防护未开启。";
const char kSaveFailed[] = "保存失败,配置文件无法写入!";
const char kIpv6NotBlocked[] = "未封锁(IPv6)";

// Digits only, within [low, high]; ParseDigits stops very long numbers at the int limit.
bool BoundedNumber(const std::string& text, int low, int high, int* value) {
  return ParseDigits(text, value) && *value >= low && *value <= high;
}

}  // namespace

CGuardFormCheck CheckGuardForm(const CGuardForm& form) {
  CGuardFormCheck check;
  CLogonGuardSettings& s = check.settings;
  if (!BoundedNumber(form.strThreshold, CLogonGuardSettings::kMinThreshold, CLogonGuardSettings::kMaxThreshold,
                     &s.nThreshold)) {
    check.strMessage = guardmsg::kThreshold;
    check.eFocus = EGuardField::kThreshold;
    return check;
  }
  if (!BoundedNumber(form.strPeriod, CLogonGuardSettings::kMinPeriodMinutes, CLogonGuardSettings::kMaxPeriodMinutes,
                     &s.nPeriodMinutes)) {
    check.strMessage = guardmsg::kPeriod;
    check.eFocus = EGuardField::kPeriod;
    return check;
  }
  if (!IsBlockDurationLabel(form.strDuration)) {
    check.strMessage = guardmsg::kDuration;
    check.eFocus = EGuardField::kDuration;
    return check;
  }
  // The folder is accepted exactly when the configuration reader keeps it as typed.
  const CLogonGuardSettings readBack = ReadLogonGuardSettings([&](const std::string& key) {
    return key == "ftplogfolder" ? form.strFtpLogFolder : std::string();
  });
  if (form.strFtpLogFolder.empty() || readBack.strFtpLogFolder != form.strFtpLogFolder) {
    check.strMessage = guardmsg::kFolder;
    check.eFocus = EGuardField::kFolder;
    return check;
  }
  s.bEnabled = form.bEnabled;
  s.bEventLog = form.bEventLog;
  s.bSqlServer = form.bSqlServer;
  s.bFtp = form.bFtp;
  s.bBlockInternal = form.bBlockInternal;
  s.strDuration = form.strDuration;
  s.strFtpLogFolder = form.strFtpLogFolder;
  check.bAccepted = true;
  return check;
}

CGuardForm FormFromSettings(const CLogonGuardSettings& s) {
  CGuardForm form;
  form.bEnabled = s.bEnabled;
  form.bEventLog = s.bEventLog;
  form.bSqlServer = s.bSqlServer;
  form.bFtp = s.bFtp;
  form.bBlockInternal = s.bBlockInternal;
  form.strThreshold = std::to_string(s.nThreshold);
  form.strPeriod = std::to_string(s.nPeriodMinutes);
  form.strDuration = s.strDuration;
  form.strFtpLogFolder = s.strFtpLogFolder;
  return form;
}

std::string SaveGuardSettings(ILogonGuard* guard, IProfileStore& store, const CLogonGuardSettings& settings) {
  const auto formatted = FormatLogonGuardSettings(settings);
  if (guard != nullptr) {
    std::string text = guard->Save(settings);
    // Taken (the guard applies what it accepted, written or not) but switched off: say so.
    if (!settings.bEnabled && FormatLogonGuardSettings(guard->Settings()) == formatted) text += kSwitchedOffNote;
    return text;
  }
  bool written = true;
  for (const auto& entry : formatted)
    written = WriteIni(store, kConfigFile, kLogonGuardSection, entry.first, entry.second) != 0 && written;
  if (!written) return kSaveFailed;
  return settings.bEnabled ? kSavedNotRunning : kSavedSwitchedOff;
}

const std::vector<std::string>& FailureColumnTitles() {
  static const std::vector<std::string> titles = {"地址", "来源", "尝试的用户名", "次数", "最后时间", "状态"};
  return titles;
}

const char* LogonSourceLabel(ELogonSource source) {
  switch (source) {
    case ELogonSource::kRemoteDesktop:
      return "远程桌面";
    case ELogonSource::kWindowsNetwork:
      return "网络登录";
    case ELogonSource::kSqlServer:
      return "SQL Server";
    case ELogonSource::kFtp:
      return "FTP";
  }
  return "";
}

std::string FailureRowState(const CFailureRow& row) {
  if (row.bIpv6) return kIpv6NotBlocked;
  if (row.bBlocked) return kBlocked;
  if (!row.bRefused) return kNotBlocked;
  switch (row.eRefusal) {
    case EBlockRefusal::kException: return kException;
    case EBlockRefusal::kOwnAddress: return kOwnAddress;
    case EBlockRefusal::kServiceHost: return kServiceHost;
    case EBlockRefusal::kDriverRefused: return kDriverRefused;
    case EBlockRefusal::kInternal: return kInternal;
    case EBlockRefusal::kHeldBackPattern:
    case EBlockRefusal::kNone: break;
  }
  return kNotBlocked;
}

std::vector<std::string> FailureRowCells(const CFailureRow& row, const std::function<std::string(int64_t)>& formatTime) {
  std::string users;
  for (const std::string& user : row.users) users += (users.empty() ? "" : ",") + user;
  return {row.strAddress,       LogonSourceLabel(row.eSource), users, std::to_string(row.nTotal),
          formatTime(row.tLast), FailureRowState(row)};
}
