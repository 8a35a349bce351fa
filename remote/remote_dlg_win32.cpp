#include "remote/remote_dlg_win32.h"

#include "alerts/service_host.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "config/profile_store_win32.h"
#include "remote/remote_settings.h"

CREMOTE::CREMOTE(HWND owner) : CModelessDialog(IDD_REMOTE, owner) {}

BOOL CREMOTE::OnInitDialog() {
  CModelessDialog::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  IconButton(IDC_REMOTE_SAVE).SetIcon(IDI_SAVE);
  SetItemText(IDC_REMOTE_ADDRESS, ServiceUrl(service_path::kUserPage));
  return TRUE;
}

void CREMOTE::Save() {
  CWin32ProfileStore store;
  const CRemoteSaveResult result = SaveRemotePassword(IsChecked(IDC_REMOTE_ENABLE), ItemText(IDC_REMOTE_PASSWORD),
                                                      ItemText(IDC_REMOTE_REPEAT), g_Settings, store);
  m_prompt.Show(result.szMessage);
  if (result.focus == RemoteField::kEnable) SetFocus(Item(IDC_REMOTE_ENABLE));
  if (result.focus == RemoteField::kPassword) SetFocus(Item(IDC_REMOTE_PASSWORD));
}

bool CREMOTE::OnCommand(int id, int notifyCode) {
  if (id == IDC_REMOTE_SAVE && notifyCode == BN_CLICKED) {
    Save();
    return true;
  }
  return CModelessDialog::OnCommand(id, notifyCode);
}
