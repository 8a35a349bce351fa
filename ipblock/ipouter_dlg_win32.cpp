#include "ipblock/ipouter_dlg_win32.h"

#include <commctrl.h>

#include <cstdio>

#include "common/resource.h"

namespace {
// Enter in the address field, handled in the window's own handler (posted by the key rule).
constexpr UINT kEnterMessage = WM_APP + 14;
}  // namespace

std::string IpControlText(HWND control) {
  DWORD address = 0;
  SendMessageA(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(FIRST_IPADDRESS(address)),
                static_cast<unsigned>(SECOND_IPADDRESS(address)), static_cast<unsigned>(THIRD_IPADDRESS(address)),
                static_cast<unsigned>(FOURTH_IPADDRESS(address)));
  return text;
}

void ZeroIpControl(HWND control) { SendMessageA(control, IPM_SETADDRESS, 0, 0); }

Cipouterdlg::Cipouterdlg(HWND parent) : CWorkingWindow(IDD_IPOUTER, parent) {}

BOOL Cipouterdlg::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  IconButton(IDC_IPO_ADD).SetIcon(IDI_OUTER_ADD);
  IconButton(IDC_IPO_DELETE).SetIcon(IDI_OUTER_DELETE);
  m_list.Attach(Item(IDC_IPO_LIST));
  ZeroIpControl(Item(IDC_IPO_ADDRESS));
  m_control.Init();
  return TRUE;
}

void Cipouterdlg::ShowRows(const std::vector<CExceptionRow>& rows) {
  m_list.SetFullRowSelect();
  m_list.SetRedraw(false);
  m_list.Clear();
  m_list.DeleteColumns();
  for (int i = 0; i < kExceptionColumnCount; ++i) {
    const CListColumn& c = kExceptionColumns[i];
    m_list.AddColumn(c.szTitle, i == 1 ? AddressColumnWidth(kExceptionColumns, kExceptionColumnCount, m_list.ClientWidth())
                                       : c.nWidth);
  }
  for (const CExceptionRow& row : rows) m_list.AddRow(row.Cells());
  m_list.SetRedraw(true);
}

std::string Cipouterdlg::AddressText() { return IpControlText(Item(IDC_IPO_ADDRESS)); }
void Cipouterdlg::ZeroAddress() { ZeroIpControl(Item(IDC_IPO_ADDRESS)); }

bool Cipouterdlg::PreTranslateMessage(MSG* msg) {
  // The key rule swallows Enter; in the address field it also adds, in the window's handler.
  HWND address = Item(IDC_IPO_ADDRESS);
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN && address &&
      (msg->hwnd == address || IsChild(address, msg->hwnd)))
    PostMessageA(m_hWnd, kEnterMessage, 0, 0);
  return CWorkingWindow::PreTranslateMessage(msg);
}

bool Cipouterdlg::OnCommand(int id, int notifyCode) {
  if (notifyCode == BN_CLICKED && id == IDC_IPO_ADD) {
    m_control.Add();
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDC_IPO_DELETE) {
    m_control.Delete();
    return true;
  }
  return CWorkingWindow::OnCommand(id, notifyCode);
}

bool Cipouterdlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kEnterMessage) {
    m_control.Add();
    result = 0;
    return true;
  }
  return CWorkingWindow::OnMessage(message, wParam, lParam, result);
}
