#include "ipblock/ipfilter_dlg_win32.h"

#include <commctrl.h>

#include <ctime>

#include "alerts/service_host.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "driver/driver_link.h"
#include "ui/web_link_win32.h"

namespace {

constexpr UINT_PTR kTimerBase = 1;  // timer n of the window is kTimerBase + n
// Enter in a field, handled in the window's own handler (posted by the key rule); wParam is
// the BlockedField.
constexpr UINT kEnterMessage = WM_APP + 14;
constexpr int kDurationRadios[] = {IDC_IPF_1MIN,    IDC_IPF_5MIN,   IDC_IPF_10MIN,  IDC_IPF_1HOUR,
                                   IDC_IPF_24HOURS, IDC_IPF_1MONTH, IDC_IPF_FOREVER};
constexpr int kComboItemHeight = 17;

int ControlOf(BlockedField field) {
  switch (field) {
    case BlockedField::kAddress: return IDC_IPF_ADDRESS;
    case BlockedField::kPort: return IDC_IPF_PORT;
    case BlockedField::kDuration: return IDC_IPF_DURATION;
    case BlockedField::kAdd: return IDC_IPF_ADD;
    case BlockedField::kCount: return IDC_IPF_COUNT;
    case BlockedField::kMb: return IDC_IPF_MB;
    case BlockedField::kOther: break;
  }
  return 0;
}

CBlockedIpServices WindowServices(IProfileStore& store) {
  CBlockedIpServices services;
  services.pSettings = &g_Settings;
  services.pStore = &store;
  services.sendPingRule = [](const _CPingRule& rule) { return SetPingRule(&rule); };
  services.dispatchAlert = DispatchAlert;
  services.now = [] { return static_cast<int64_t>(std::time(nullptr)); };
  return services;
}

}  // namespace

Cipfilterdlg::Cipfilterdlg(HWND owner)
    : CWorkingWindow(IDD_IPFILTER, owner), m_control(*this, WindowServices(m_store)) {}

BOOL Cipfilterdlg::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  m_list.Attach(Item(IDC_IPF_LIST));
  const HANDLE picture = LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDB_IP_AND_PORT), IMAGE_BITMAP, 0, 0,
                                    LR_LOADMAP3DCOLORS | LR_SHARED);
  SendMessageA(Item(IDC_IPF_PICTURE), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
  m_control.Init();
  for (int n = 0; n < kIpFilterTimerCount; ++n)
    SetTimer(kTimerBase + n, IpFilterTimerMs(n));
  return TRUE;
}

void Cipfilterdlg::OnDestroy() {
  for (int n = 0; n < kIpFilterTimerCount; ++n) KillTimer(kTimerBase + n);
}

void Cipfilterdlg::OnTimer(UINT_PTR id) {
  if (id < kTimerBase || id >= kTimerBase + kIpFilterTimerCount) return;
  m_control.OnTimer(static_cast<int>(id - kTimerBase));
}

BlockedField Cipfilterdlg::FieldOf(HWND window) const {
  for (BlockedField field : {BlockedField::kAddress, BlockedField::kPort, BlockedField::kCount, BlockedField::kMb}) {
    HWND control = Item(ControlOf(field));
    if (control && (window == control || IsChild(control, window))) return field;
  }
  return BlockedField::kOther;
}

bool Cipfilterdlg::PreTranslateMessage(MSG* msg) {
  // The key rule swallows Enter; in the address, port and access fields it also acts, in the
  // window's own handler (a message box may follow, and the window must outlive it).
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
    PostMessageA(m_hWnd, kEnterMessage, static_cast<WPARAM>(FieldOf(msg->hwnd)), 0);
  return CWorkingWindow::PreTranslateMessage(msg);
}

bool Cipfilterdlg::OnCommand(int id, int notifyCode) {
  if (notifyCode != BN_CLICKED) return CWorkingWindow::OnCommand(id, notifyCode);
  switch (id) {
    case IDC_IPF_ADD:
      m_control.ManualBlock();
      return true;
    case IDC_IPF_RELEASE:
      m_control.ReleaseSelected();
      return true;
    case IDC_IPF_RELEASE_ALL:
      m_control.ReleaseAll();
      return true;
    case IDC_IPF_SAVE:
      m_control.SaveSettings();
      return true;
    case IDC_IPF_OUTER:
      ShowOuterDialog();
      return true;
    case IDC_IPF_HELP:
      OpenWebLink(m_hWnd, ServiceUrl(service_path::kHomePage) + "#ipfilter");
      return true;
    case IDC_IPF_CHOOSE_IP:
    case IDC_IPF_CHOOSE_PORT:
      m_control.ManualChoiceChanged();
      return true;
    case IDC_IPF_AUTOSCROLL:
      m_control.AutoScrollChanged();
      return true;
    default:
      return CWorkingWindow::OnCommand(id, notifyCode);
  }
}

bool Cipfilterdlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kEnterMessage) {
    m_control.EnterPressed(static_cast<BlockedField>(wParam));
    result = 0;
    return true;
  }
  if (message == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header->idFrom == IDC_IPF_LIST && FillCell(header)) {
      result = 0;
      return true;
    }
    if (header->idFrom == IDC_IPF_LIST && header->code == static_cast<UINT>(NM_CLICK)) m_control.RowClicked();
    return false;
  }
  return CWorkingWindow::OnMessage(message, wParam, lParam, result);
}

void Cipfilterdlg::ShowOuterDialog() {
  if (!m_pOuterDlg || !m_pOuterDlg->Hwnd()) {
    m_pOuterDlg = MakeDialog<Cipouterdlg>(m_hWnd);
    if (!m_pOuterDlg->Create()) {
      m_pOuterDlg.reset();
      return;
    }
  }
  m_pOuterDlg->ShowWindow(SW_SHOWNORMAL);
}

// ---- view ------------------------------------------------------------------------------------

void Cipfilterdlg::ShowRows(const std::vector<CBlockedListRow>& rows, bool scrollToLast) {
  m_list.SetFullRowSelect();
  m_list.SetRedraw(false);
  m_list.Clear();
  m_list.DeleteColumns();
  for (int i = 0; i < kBlockedColumnCount; ++i) {
    const CListColumn& c = kBlockedColumns[i];
    m_list.AddColumn(c.szTitle,
                     i == 1 ? AddressColumnWidth(kBlockedColumns, kBlockedColumnCount, m_list.ClientWidth()) : c.nWidth);
  }
  SetRowCount();
  if (scrollToLast && !rows.empty()) m_list.EnsureVisible(static_cast<int>(rows.size()) - 1);
  m_list.SetRedraw(true);
}

void Cipfilterdlg::InsertRow(int, const CBlockedListRow&) { SetRowCount(); }
void Cipfilterdlg::DeleteRow(int) { SetRowCount(); }
void Cipfilterdlg::DeleteAllRows() { SetRowCount(); }

void Cipfilterdlg::SetRowCount() {
  SendMessageA(m_list.Hwnd(), LVM_SETITEMCOUNT, m_control.Rows().size(), 0);
  InvalidateRect(m_list.Hwnd(), nullptr, TRUE);
}

bool Cipfilterdlg::FillCell(NMHDR* header) {
  const bool wide = header->code == static_cast<UINT>(LVN_GETDISPINFOW);
  if (!wide && header->code != static_cast<UINT>(LVN_GETDISPINFOA)) return false;
  // The A and W forms share the layout up to the text pointer's type.
  LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return true;
  std::string text;
  const std::vector<CBlockedListRow>& rows = m_control.Rows();
  if (item.iItem >= 0 && item.iItem < static_cast<int>(rows.size())) {
    const std::vector<std::string> cells = rows[static_cast<size_t>(item.iItem)].Cells();
    if (item.iSubItem >= 0 && item.iSubItem < static_cast<int>(cells.size()))
      text = cells[static_cast<size_t>(item.iSubItem)];
  }
  if (wide) {
    auto* out = reinterpret_cast<wchar_t*>(item.pszText);
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out,
                                      item.cchTextMax - 1);
    out[n > 0 ? n : 0] = L'\0';
  } else {
    lstrcpynA(item.pszText, text.c_str(), item.cchTextMax);
  }
  return true;
}

void Cipfilterdlg::FillDurations(const std::vector<std::string>& labels) {
  HWND combo = Item(IDC_IPF_DURATION);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& label : labels) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), kComboItemHeight);
}

std::string Cipfilterdlg::CheckedDuration() {
  for (int id : kDurationRadios)
    if (IsChecked(id)) return ItemText(id);
  return std::string();
}

void Cipfilterdlg::CheckDuration(const std::string& label) {
  for (int id : kDurationRadios) SetChecked(id, ItemText(id) == label);
}

std::string Cipfilterdlg::CountText() { return ItemText(IDC_IPF_COUNT); }
std::string Cipfilterdlg::MbText() { return ItemText(IDC_IPF_MB); }

void Cipfilterdlg::SetLimitTexts(const std::string& count, const std::string& mb) {
  SetItemText(IDC_IPF_COUNT, count);
  SetItemText(IDC_IPF_MB, mb);
}

bool Cipfilterdlg::PingBan() { return IsChecked(IDC_IPF_NOPING); }
void Cipfilterdlg::SetPingBan(bool on) { SetChecked(IDC_IPF_NOPING, on); }
bool Cipfilterdlg::AutoScroll() { return IsChecked(IDC_IPF_AUTOSCROLL); }
void Cipfilterdlg::SetAutoScroll(bool on) { SetChecked(IDC_IPF_AUTOSCROLL, on); }
bool Cipfilterdlg::AddressChosen() { return IsChecked(IDC_IPF_CHOOSE_IP); }
bool Cipfilterdlg::PortChosen() { return IsChecked(IDC_IPF_CHOOSE_PORT); }
std::string Cipfilterdlg::AddressText() { return IpControlText(Item(IDC_IPF_ADDRESS)); }
std::string Cipfilterdlg::PortText() { return ItemText(IDC_IPF_PORT); }

std::string Cipfilterdlg::ManualDuration() {
  HWND combo = Item(IDC_IPF_DURATION);
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::string();
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  return text;
}

void Cipfilterdlg::ZeroAddress() { ZeroIpControl(Item(IDC_IPF_ADDRESS)); }
void Cipfilterdlg::ZeroPort() { SetItemText(IDC_IPF_PORT, "0"); }

void Cipfilterdlg::Enable(BlockedField field, bool enable) { EnableWindow(Item(ControlOf(field)), enable ? TRUE : FALSE); }

void Cipfilterdlg::Focus(BlockedField field) {
  if (field == BlockedField::kAddress) SendMessageA(Item(IDC_IPF_ADDRESS), IPM_SETFOCUS, 0, 0);
  else SetFocus(Item(ControlOf(field)));
}

void Cipfilterdlg::ShowPicture(bool show) { ::ShowWindow(Item(IDC_IPF_PICTURE), show ? SW_SHOW : SW_HIDE); }
