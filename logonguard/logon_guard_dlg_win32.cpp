#include "logonguard/logon_guard_dlg_win32.h"

#include <ctime>

#include "common/ip_entries.h"
#include "common/resource.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 1000;
constexpr int kComboItemHeight = 17;
const char kNotRunning[] = "未运行(启动防护后开始)";
const int kColumnWidths[] = {100, 62, 120, 40, 112, 72};

struct CSourceControls {
  EGuardSource eSource;
  int nStatus;
};
constexpr CSourceControls kSourceControls[] = {
    {EGuardSource::kEventLog, IDC_LG_EVENTLOG_STATUS},
    {EGuardSource::kSqlServer, IDC_LG_SQLSERVER_STATUS},
    {EGuardSource::kFtp, IDC_LG_FTP_STATUS},
};

std::string LocalTimeText(int64_t t) {
  if (t <= 0) return std::string();
  const time_t value = static_cast<time_t>(t);
  struct tm local = {};
  if (localtime_s(&local, &value) != 0) return std::string();
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

CLogonGuardSettings SavedSettings() {
  CWin32ProfileStore store;
  return ReadLogonGuardSettings(
      [&](const std::string& key) { return ReadIni(store, kConfigFile, kLogonGuardSection, key); });
}

}  // namespace

CLogonGuardDlg::CLogonGuardDlg(HWND owner) : CModelessDialog(IDD_LOGON_GUARD, owner) {}

BOOL CLogonGuardDlg::OnInitDialog() {
  CModelessDialog::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  IconButton(IDC_LG_SAVE).SetIcon(IDI_SAVE);
  HWND combo = Item(IDC_LG_DURATION);
  for (const CBlockTime& time : g_BlockTimes)
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(time.szLabel));
  SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), kComboItemHeight);
  SendMessageA(Item(IDC_LG_THRESHOLD), EM_LIMITTEXT, 9, 0);
  SendMessageA(Item(IDC_LG_PERIOD), EM_LIMITTEXT, 9, 0);
  SendMessageA(Item(IDC_LG_FOLDER), EM_LIMITTEXT, CLogonGuardSettings::kMaxFolderBytes, 0);
  m_list.Attach(Item(IDC_LG_LIST));
  m_list.SetFullRowSelect();
  const std::vector<std::string>& titles = FailureColumnTitles();
  for (size_t i = 0; i < titles.size(); ++i) m_list.AddColumn(titles[i], kColumnWidths[i]);
  SetItemText(IDC_LG_NOTE, kIpv6Note);
  ILogonGuard* guard = TheLogonGuard();
  ShowForm(FormFromSettings(guard ? guard->Settings() : SavedSettings()));
  Refresh();
  SetTimer(kRefreshTimer, kRefreshMs);
  return TRUE;
}

void CLogonGuardDlg::OnDestroy() { KillTimer(kRefreshTimer); }

void CLogonGuardDlg::OnTimer(UINT_PTR id) {
  if (id == kRefreshTimer) Refresh();
}

void CLogonGuardDlg::ShowForm(const CGuardForm& form) {
  SetChecked(IDC_LG_ENABLED, form.bEnabled);
  SetChecked(IDC_LG_EVENTLOG, form.bEventLog);
  SetChecked(IDC_LG_SQLSERVER, form.bSqlServer);
  SetChecked(IDC_LG_FTP, form.bFtp);
  SetChecked(IDC_LG_BLOCKINTERNAL, form.bBlockInternal);
  SetItemText(IDC_LG_THRESHOLD, form.strThreshold);
  SetItemText(IDC_LG_PERIOD, form.strPeriod);
  SetItemText(IDC_LG_FOLDER, form.strFtpLogFolder);
  HWND combo = Item(IDC_LG_DURATION);
  const LRESULT at = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(form.strDuration.c_str()));
  SendMessageA(combo, CB_SETCURSEL, at == CB_ERR ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(at), 0);
}

CGuardForm CLogonGuardDlg::ReadForm() const {
  CGuardForm form;
  form.bEnabled = IsChecked(IDC_LG_ENABLED);
  form.bEventLog = IsChecked(IDC_LG_EVENTLOG);
  form.bSqlServer = IsChecked(IDC_LG_SQLSERVER);
  form.bFtp = IsChecked(IDC_LG_FTP);
  form.bBlockInternal = IsChecked(IDC_LG_BLOCKINTERNAL);
  form.strThreshold = ItemText(IDC_LG_THRESHOLD);
  form.strPeriod = ItemText(IDC_LG_PERIOD);
  form.strDuration = ItemText(IDC_LG_DURATION);
  form.strFtpLogFolder = ItemText(IDC_LG_FOLDER);
  return form;
}

void CLogonGuardDlg::Save() {
  const CGuardFormCheck check = CheckGuardForm(ReadForm());
  if (!check.bAccepted) {
    m_prompt.Show(check.strMessage);
    const int focus[] = {0, IDC_LG_THRESHOLD, IDC_LG_PERIOD, IDC_LG_DURATION, IDC_LG_FOLDER};
    if (check.eFocus != EGuardField::kNone && m_hWnd) SetFocus(Item(focus[static_cast<int>(check.eFocus)]));
    return;
  }
  // Without a guard yet, the section is written for the guard to read when it is made.
  CWin32ProfileStore store;
  m_prompt.Show(SaveGuardSettings(TheLogonGuard(), store, check.settings));
}

void CLogonGuardDlg::Refresh() {
  ILogonGuard* guard = TheLogonGuard();
  for (const CSourceControls& source : kSourceControls) {
    std::string& shown = m_shownStatus[static_cast<int>(source.eSource)];
    const std::string text = guard ? guard->Source(source.eSource).strText : std::string(kNotRunning);
    if (text != shown || ItemText(source.nStatus) != text) SetItemText(source.nStatus, shown = text);
  }
  std::vector<std::vector<std::string>> rows;
  if (guard)
    for (const CFailureRow& row : guard->Rows()) rows.push_back(FailureRowCells(row, LocalTimeText));
  if (rows == m_shownRows) return;
  m_shownRows = std::move(rows);
  m_list.SetRedraw(false);
  m_list.Clear();
  for (const auto& cells : m_shownRows) m_list.AddRow(cells);
  m_list.SetRedraw(true);
}

bool CLogonGuardDlg::OnCommand(int id, int notifyCode) {
  if (id == IDC_LG_SAVE && notifyCode == BN_CLICKED) {
    Save();
    return true;
  }
  return CModelessDialog::OnCommand(id, notifyCode);
}
