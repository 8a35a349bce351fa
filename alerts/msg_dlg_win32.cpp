#include "alerts/msg_dlg_win32.h"

#include <utility>

#include "alerts/alert_settings.h"
#include "alerts/service_host.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "config/profile_store_win32.h"
#include "ui/web_link_win32.h"

namespace {
constexpr UINT_PTR kBalanceTimer = 1;
constexpr UINT kBalanceSeconds = 60;
}  // namespace

CMSGDLG::CMSGDLG(HWND owner, std::function<void()> onAlertsSaved)
    : CModelessDialog(IDD_ALERTS, owner), m_onAlertsSaved(std::move(onAlertsSaved)) {}

BOOL CMSGDLG::OnInitDialog() {
  CModelessDialog::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  IconButton(IDC_MSG_HELP).SetIcon(IDI_HELP);
  IconButton(IDC_MSG_CREDIT).SetIcon(IDI_CREDIT);
  IconButton(IDC_MSG_SAVE).SetIcon(IDI_SAVE);
  IconButton(IDC_MSG_CLOSE).SetIcon(IDI_EXIT);
  for (const CAlertSwitch& entry : kAlertSwitches) SetChecked(entry.nControl, g_Settings.*entry.pFlag);
  SetItemText(IDC_MSG_EMAIL, g_Settings.strEmail);
  SetItemText(IDC_MSG_PHONE, g_Settings.strPhone);
  SetItemText(IDC_MSG_SERVICE_HOST, g_Settings.strServiceHost);
  SendMessageA(Item(IDC_MSG_SERVICE_HOST), EM_LIMITTEXT, kMaxServiceHostName + 6, 0);
  SetChecked(IDC_MSG_EMAIL_ON, !g_Settings.strEmail.empty());
  SetChecked(IDC_MSG_SMS_ON, !g_Settings.strPhone.empty());
  // An unticked channel's field is locked from the start, as after unticking it.
  SendMessageA(Item(IDC_MSG_EMAIL), EM_SETREADONLY, g_Settings.strEmail.empty(), 0);
  SendMessageA(Item(IDC_MSG_PHONE), EM_SETREADONLY, g_Settings.strPhone.empty(), 0);
  SetTimer(kBalanceTimer, kBalanceSeconds * 1000);
  RefreshBalance();
  return TRUE;
}

void CMSGDLG::OnDestroy() { KillTimer(kBalanceTimer); }

void CMSGDLG::OnTimer(UINT_PTR id) {
  if (id == kBalanceTimer) RefreshBalance();
}

// The user-interface thread only tries the status lock: while a request holds it the label
// keeps what it shows until the next tick.
void CMSGDLG::RefreshBalance() {
  CWin32StatusLock lock;
  if (!lock.TryLock()) return;
  std::string count;
  try {
    count = g_strSmsCount;
  } catch (...) {
  }
  lock.Unlock();
  SetItemText(IDC_MSG_SMS_COUNT, SmsBalanceLabel(count));
}

void CMSGDLG::ChannelToggled(int box, int field) {
  const bool on = IsChecked(box);
  SendMessageA(Item(field), EM_SETREADONLY, !on, 0);
  if (!on) SetItemText(field, "");
}

void CMSGDLG::Save() {
  CAlertForm form;
  for (size_t i = 0; i < kAlertSwitches.size(); ++i) form.switches[i] = IsChecked(kAlertSwitches[i].nControl);
  form.bEmail = IsChecked(IDC_MSG_EMAIL_ON);
  form.strEmail = ItemText(IDC_MSG_EMAIL);
  form.bSms = IsChecked(IDC_MSG_SMS_ON);
  form.strPhone = ItemText(IDC_MSG_PHONE);
  form.strServiceHost = ItemText(IDC_MSG_SERVICE_HOST);
  CWin32ProfileStore store;
  // Only blocks made after the alert is switched on are alerted.
  const std::string message = SaveAlertSettings(
      form, g_Settings, store,
      [this] {
        if (m_onAlertsSaved) m_onAlertsSaved();
      },
      [] { VendorServiceHostChanged(g_Settings.strServiceHost); });
  m_prompt.Show(message);
}

bool CMSGDLG::OnCommand(int id, int notifyCode) {
  switch (id) {
    case IDC_MSG_EMAIL_ON:
      if (notifyCode == BN_CLICKED) ChannelToggled(IDC_MSG_EMAIL_ON, IDC_MSG_EMAIL);
      return true;
    case IDC_MSG_SMS_ON:
      if (notifyCode == BN_CLICKED) ChannelToggled(IDC_MSG_SMS_ON, IDC_MSG_PHONE);
      return true;
    case IDC_MSG_SAVE:
      Save();
      return true;
    case IDC_MSG_CLOSE:
      Destroy();
      return true;
    case IDC_MSG_HELP:
      OpenWebLink(m_hWnd, ServiceUrl(service_path::kHomePage) + "#msg");
      return true;
    case IDC_MSG_CREDIT:
      OpenWebLink(m_hWnd, ServiceUrl(service_path::kHomePage) + "#credit");
      return true;
    default:
      return CModelessDialog::OnCommand(id, notifyCode);
  }
}
