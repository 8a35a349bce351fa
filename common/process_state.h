#pragma once
// Process-wide state shared by the working windows: how long protection has run, the server's own
// addresses and the vendor service host. The main window fills it in; the others read it.
#include <cstdint>
#include <string>
#include <vector>

extern int64_t g_llProtectSeconds;    // seconds of protection, carried over through onlinetime
extern int32_t g_nSecondsSinceStart;  // seconds of protection since this process started
extern int64_t g_tStartTime;          // when the main window started

extern std::vector<std::string> g_saLocalIp;  // the server's own addresses, dotted
extern uint32_t g_dwServiceIp;                // vendor service host, network order; 100000 until resolved
