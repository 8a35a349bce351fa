#pragma once
// Process-wide state owned by the main window for the life of the process.
#include "config/settings.h"
#include "ipblock/ip_tables.h"  // g_pIpFilterList, g_pIpOuterList, g_saLocalIp, g_dwServiceIp

extern CSettings g_Settings;

extern int64_t g_llProtectSeconds;    // seconds of protection, carried over through onlinetime
extern int32_t g_nSecondsSinceStart;  // seconds of protection since this process started
extern int64_t g_tStartTime;          // when the main window started
