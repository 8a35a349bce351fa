#pragma once
// The alert conditions in the program: the administrator baseline, the main window's checks,
// and alerts sent by the vendor client on threads of their own.
#include <string>

#include "alerts/alert_conditions.h"

extern CAdminBaseline g_aAdminUsers;

// Hands each alert to the outbox (e-mail, then SMS, each signed afresh, on its worker), so a
// slow or silent service never holds up a window. The addresses travel with the alert.
IAlertSender& BackgroundAlertSender();

// Main window: the baseline at start-up, timer 2's administrator check, timer 3's clock alert.
void FillAdminBaselineFromSystem();
void CheckNewAdminNow(bool& checking);
void CheckClockAlertNow(const std::string& clockSkew);
