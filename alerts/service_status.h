#pragma once
// Process-wide figures that the vendor service client keeps. Everything except
// g_strMachineId and g_strAlertTitle (set once at start-up) is guarded by the status lock.
#include <string>
#include <vector>

extern std::string g_strMachineId;   // twelve hex digits and a line feed, or the fallback
extern std::string g_strVersion;     // the version number sent with the heartbeat
extern std::string g_strAlertTitle;  // title of every alert
extern std::string g_strSmsCount;    // last SMS balance, "0" until the service answers
extern std::string g_strMailDays;    // last e-mail service days, "0" until the service answers
extern std::string g_strClockSkew;   // minutes of clock difference once found, else ""
extern std::vector<std::string> g_saSoftList;   // text, link, text, link, ...
extern std::vector<std::string> g_saRemoteCmd;  // reboot flag, release flag, check code

class IStatusLock;
// Guards g_saRemoteCmd alone: the remote check reads it without waiting for any request.
IStatusLock& RemoteCommandLock();

// Back to the values of a fresh start (tests and start-up).
void ResetServiceStatus();

// The alert title: the server's first own address followed by "Tavrick提醒您!".
std::string MakeAlertTitle(const std::string& firstLocalIp);
