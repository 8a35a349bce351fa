#include "alerts/service_status.h"

#include "alerts/service_ports.h"
#include "common/version.h"

std::string g_strMachineId;
std::string g_strVersion = kVersionNumber;
std::string g_strAlertTitle;
std::string g_strSmsCount = "0";
std::string g_strMailDays = "0";
std::string g_strClockSkew;
std::vector<std::string> g_saSoftList;
std::vector<std::string> g_saRemoteCmd;

IStatusLock& RemoteCommandLock() {
  static CShortLock lock;
  return lock;
}

void ResetServiceStatus() {
  g_strMachineId.clear();
  g_strVersion = kVersionNumber;
  g_strAlertTitle.clear();
  g_strSmsCount = "0";
  g_strMailDays = "0";
  g_strClockSkew.clear();
  g_saSoftList.clear();
  g_saRemoteCmd.clear();
}

std::string MakeAlertTitle(const std::string& firstLocalIp) { return firstLocalIp + "Tavrick提醒您!"; }
