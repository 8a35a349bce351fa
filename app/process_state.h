#pragma once
// Process-wide state owned by the main window for the life of the process.
#include "config/settings.h"
#include "ipblock/ip_entries.h"

extern CSettings g_Settings;
extern CIpFilterList g_pIpFilterList;
extern CIpOuterList g_pIpOuterList;
