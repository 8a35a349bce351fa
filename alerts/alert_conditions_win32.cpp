#include "alerts/alert_conditions_win32.h"

#include "alerts/service_status.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/local_users_win32.h"

CAdminBaseline g_aAdminUsers;

namespace {

class CBackgroundAlertSender : public IAlertSender {
 public:
  void Send(const CAlert& alert) override { SendAlert(alert); }
};

}  // namespace

IAlertSender& BackgroundAlertSender() {
  static CBackgroundAlertSender sender;
  return sender;
}

void FillAdminBaselineFromSystem() {
  CWin32LocalUsers users;
  FillAdminBaseline(g_aAdminUsers, users);
}

void CheckNewAdminNow(bool& checking) {
  CWin32LocalUsers users;
  CheckNewAdmin(checking, g_aAdminUsers, g_Settings, g_saLocalIp, users, BackgroundAlertSender());
}

void CheckClockAlertNow(const std::string& clockSkew) {
  CheckClockAlert(g_Settings, clockSkew, g_saLocalIp, BackgroundAlertSender());
}
