#include "recording_logon_guard.h"

#include <cstdio>
#include <vector>

#include "logonguard/logon_guard.h"

namespace {

CFailureRow Row(const char* address, ELogonSource source, std::vector<std::string> users, int64_t total) {
  CFailureRow row;
  row.strAddress = address;
  row.eSource = source;
  row.users = std::move(users);
  row.nRecent = static_cast<int>(total);
  row.nTotal = total;
  row.tLast = 1767225600;  // 2026-01-01 00:00:00 UTC
  return row;
}

class CRecordingLogonGuard : public ILogonGuard {
 public:
  explicit CRecordingLogonGuard(std::string file) : m_file(std::move(file)) {
    m_settings.bEnabled = true;
    m_settings.bSqlServer = false;
    m_settings.nThreshold = 6;
    m_settings.nPeriodMinutes = 15;
    m_settings.strDuration = "24小时";
    m_settings.strFtpLogFolder = "D:\\ftplogs";
    m_rows.push_back(Row("203.0.113.50", ELogonSource::kFtp, {"administrator", "admin"}, 5));
    m_rows.back().bBlocked = true;
    m_rows.push_back(Row("198.51.100.9", ELogonSource::kRemoteDesktop, {"sa"}, 20));
    m_rows.back().bRefused = true;
    m_rows.back().eRefusal = EBlockRefusal::kException;
    m_rows.push_back(Row("2001:db8::7", ELogonSource::kWindowsNetwork, {"guest"}, 9));
    m_rows.back().bIpv6 = true;
    m_rows.push_back(Row("192.0.2.33", ELogonSource::kSqlServer, {"sa", "root"}, 4));
    m_rows.push_back(Row("10.0.0.8", ELogonSource::kRemoteDesktop, {"administrator"}, 6));
    m_rows.back().bRefused = true;
    m_rows.back().eRefusal = EBlockRefusal::kInternal;
  }
  CLogonGuardSettings Settings() const override { return m_settings; }
  std::string Save(const CLogonGuardSettings& settings) override {
    std::string line = "save";
    for (const auto& entry : FormatLogonGuardSettings(settings)) line += " " + entry.first + "=" + entry.second;
    if (FILE* out = std::fopen(m_file.c_str(), "ab")) {
      std::fputs((line + "\n").c_str(), out);
      std::fclose(out);
    }
    m_settings = settings;
    ++m_rows.front().nTotal;
    return "保存成功!";
  }
  std::vector<CFailureRow> Rows() override { return m_rows; }
  CGuardSourceStatus Source(EGuardSource source) override {
    CGuardSourceStatus status;
    status.bOn = true;
    status.bAvailable = source != EGuardSource::kEventLog;
    status.strText = source == EGuardSource::kEventLog ? "无法读取:事件日志不可用" : "正在监视";
    return status;
  }

 private:
  std::string m_file;
  CLogonGuardSettings m_settings;
  std::vector<CFailureRow> m_rows;
};

}  // namespace

void InstallRecordingLogonGuard(const std::string& file) {
  static CRecordingLogonGuard guard(file);
  SetTheLogonGuard(&guard);
}
