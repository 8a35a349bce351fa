#include "webguard/watchfile_dlg_win32.h"

#include <commctrl.h>
#include <shlobj.h>

#include "alerts/alert_conditions_win32.h"
#include "alerts/vendor_service_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "common/resource.h"
#include "alerts/service_host.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "driver/driver_link.h"
#include "ui/prompt_win32.h"
#include "ui/web_link_win32.h"
#include "ui/window_post_win32.h"
#include "webguard/watchfile_form.h"

namespace {

constexpr int kTypeBoxes[kWatchTypeCount] = {IDC_WF_ASP, IDC_WF_ASA, IDC_WF_ASPX, IDC_WF_PHP, IDC_WF_JSP};
constexpr UINT kTimerSeconds[4] = {30, 600, 1, 5};
constexpr COLORREF kProgressColour = RGB(108, 175, 0);
constexpr int kListRoomForOtherColumns = 190;

IProfileStore& Config() {
  static CWin32ProfileStore store;
  return store;
}

// A themed progress bar keeps the theme's colour; without a theme it takes its own. A theme
// class list that names no class leaves the control without one (an empty one is not honoured
// everywhere).
void DropTheme(HWND control) {
  using SetWindowThemeFunction = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static const HMODULE uxtheme = LoadLibraryA("uxtheme.dll");
  if (!uxtheme) return;
  const auto setTheme =
      reinterpret_cast<SetWindowThemeFunction>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")));
  if (setTheme) setTheme(control, L" ", L" ");
}

int CALLBACK PreselectFolder(HWND window, UINT message, LPARAM, LPARAM start) {
  if (message == BFFM_INITIALIZED && start) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, start);
  return 0;
}

}  // namespace

CWatchfileDlg::CWatchfileDlg(HWND owner) : CWorkingWindow(IDD_WATCHFILE, owner) {}

BOOL CWatchfileDlg::OnInitDialog() {
  CWorkingWindow::OnInitDialog();
  m_guard.Create(m_hWnd);
  m_list.Attach(Item(IDC_WF_LIST));
  m_list.SetFullRowSelect();
  m_bAutoScroll = true;
  m_nBlink = 0;
  m_bBlinkWaited = false;

  SetItemText(IDC_WF_LOG_LIMIT, std::to_string(g_Settings.watchfilelogcount));
  EnableWindow(Item(IDC_WF_PATH), FALSE);
  RECT client = {};
  GetClientRect(m_list.Hwnd(), &client);
  m_list.AddColumn("ID", 30);
  // The rest of the width, less a vertical scroll bar, so that a long list scrolls only down.
  m_list.AddColumn("文件名", client.right - kListRoomForOtherColumns - GetSystemMetrics(SM_CXVSCROLL));
  m_list.AddColumn("类型", 50);
  m_list.AddColumn("时间", 110);
  SetItemText(IDC_WF_PATH, g_Settings.watchfilepath);
  const std::array<bool, kWatchTypeCount> checked = BoxesFromTypeSlots(g_Settings.watchfileext);
  for (int i = 0; i < kWatchTypeCount; ++i) SetChecked(kTypeBoxes[i], checked[i]);
  EnableInputs(true);
  m_nAlertedRows = m_list.Count();

  for (UINT n = 0; n < 4; ++n) SetTimer(kWatchfileTimerBase + n, kTimerSeconds[n] * 1000);
  if (g_Settings.watchfileon == "on") ToggleUploadProtection();

  IconButton(IDC_WF_HELP).SetIcon(IDI_HELP);
  IconButton(IDC_WF_CLEAR).SetIcon(IDI_CLEAR_LIST);
  RefreshCaptions();
  DropTheme(Item(IDC_WF_PROGRESS));
  SendMessageA(Item(IDC_WF_PROGRESS), PBM_SETRANGE32, 0, 100);
  SendMessageA(Item(IDC_WF_PROGRESS), PBM_SETSTEP, 1, 0);
  SendMessageA(Item(IDC_WF_PROGRESS), PBM_SETBARCOLOR, 0, kProgressColour);
  SendMessageA(Item(IDC_WF_PROGRESS), PBM_SETPOS, 0, 0);
  SetChecked(IDC_WF_AUTOSCROLL, true);
  return TRUE;
}

std::array<bool, kWatchTypeCount> CWatchfileDlg::TypeBoxes() const {
  std::array<bool, kWatchTypeCount> checked{};
  for (int i = 0; i < kWatchTypeCount; ++i) checked[i] = IsChecked(kTypeBoxes[i]);
  return checked;
}

void CWatchfileDlg::EnableInputs(bool enable) {
  for (int id : kTypeBoxes) EnableWindow(Item(id), enable ? TRUE : FALSE);
  EnableWindow(Item(IDC_WF_BROWSE), enable ? TRUE : FALSE);
  EnableWindow(Item(IDC_WF_LOG_LIMIT), enable ? TRUE : FALSE);
}

void CWatchfileDlg::SaveSettings() {
  WriteIni(Config(), kConfigFile, ini::kWatch, "watchfileon", g_Settings.watchfileon);
  WriteIni(Config(), kConfigFile, ini::kWatch, "watchfilepath", g_Settings.watchfilepath);
  WriteIni(Config(), kConfigFile, ini::kWatch, "watchfileext", EncodeWatchTypes(g_Settings.watchfileext));
  WriteIni(Config(), kConfigFile, ini::kWatch, "watchfilelogcount", std::to_string(g_Settings.watchfilelogcount));
}

void CWatchfileDlg::SetButtonFace(int id, const char* caption, int icon, int& shownIcon) {
  if (ItemText(id) != caption) SetItemText(id, caption);
  if (icon && icon != shownIcon) {
    IconButton(id).SetIcon(icon);
    shownIcon = icon;
  }
}

// The switch shows what it would do; the scan button keeps its blinking icon while a scan runs.
void CWatchfileDlg::RefreshCaptions() {
  // On only while the folder is really watched: a folder that cannot be opened shows off.
  const bool protecting = m_guard.Watching();
  SetButtonFace(IDC_WF_PROTECT, ProtectCaption(protecting), protecting ? IDI_STOP : IDI_START, m_nProtectIcon);
  EnableInputs(!protecting);
  SetButtonFace(IDC_WF_SCAN, ScanButtonCaption(g_bScanning != 0), g_bScanning ? 0 : kScanRestIcon, m_nScanIcon);
}

void CWatchfileDlg::ToggleUploadProtection() {
  if (m_guard.Watching()) {
    m_guard.StopUploadProtection();
    g_Settings.watchfileon = "off";
    EnableInputs(true);
    SaveSettings();
  } else {
    const CSwitchOnCheck check = CheckSwitchOn(ItemText(IDC_WF_PATH), TypeBoxes(), ItemText(IDC_WF_LOG_LIMIT));
    if (!check.strMessage.empty()) {
      AppMessageBox(m_hWnd, check.strMessage);
      if (check.bFocusLogLimit) SetFocus(Item(IDC_WF_LOG_LIMIT));
      RefreshCaptions();
      return;
    }
    g_Settings.watchfileext = check.slots;
    g_Settings.watchfilelogcount = check.nLogLimit;
    // Switched on while its folder could not be watched (the window shows it off, with the
    // fields open): it starts afresh on what the fields say now.
    m_guard.StartUploadProtection();
    g_Settings.watchfileon = "on";
    SaveSettings();
    EnableInputs(false);
  }
  RefreshCaptions();
}

void CWatchfileDlg::ToggleFolderScan() {
  m_guard.ToggleFolderScan(ItemText(IDC_WF_PATH));
  RefreshCaptions();
  ShowResults();
}

void CWatchfileDlg::PickFolder() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  char start[MAX_PATH] = {};
  lstrcpynA(start, g_Settings.watchfilepath.c_str(), MAX_PATH);
  BROWSEINFOA info = {};
  info.hwndOwner = m_hWnd;
  info.lpszTitle = kFolderPickerPrompt;
  info.ulFlags = 0;
  info.lpfn = PreselectFolder;
  info.lParam = start[0] ? reinterpret_cast<LPARAM>(start) : 0;
  if (LPITEMIDLIST chosen = SHBrowseForFolderA(&info)) {
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, path) && path[0]) {
      g_Settings.watchfilepath = path;
      SetItemText(IDC_WF_PATH, path);
    }
    CoTaskMemFree(chosen);
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

// Empties the list of the rows it shows (or the log took); rows the checker added meanwhile
// stay and are shown at once, so none goes unseen. Only the administrator's clearing lets the
// same paths be listed again at once; after the log's, they stay quiet for a while.
void CWatchfileDlg::ClearResults(size_t rows, bool byAdministrator) {
  if (CGuardResults* results = m_guard.Results()) {
    if (byAdministrator) {
      results->ClearFirst(rows);
    } else {
      results->RemoveFirst(rows);
    }
  }
  m_list.Clear();
  m_nAlertedRows = 0;
  ShowResults();
}

// The results as the workers left them: new rows, the scan's line, counter and progress.
void CWatchfileDlg::ShowResults() {
  CGuardResults* results = m_guard.Results();
  if (!results) return;
  results->Seen();
  const int shown = m_list.Count();
  const std::vector<CGuardResults::CRow> rows = results->RowsFrom(static_cast<size_t>(shown));
  for (const CGuardResults::CRow& row : rows) m_list.AddRow({row.strId, row.strFile, row.strType, row.strTime});
  const int total = m_list.Count();
  if (!rows.empty() && m_bAutoScroll && total > 0) ListView_EnsureVisible(m_list.Hwnd(), total - 1, FALSE);
  const CScanFace face = results->Face();
  if (ItemText(IDC_WF_STATUS) != face.strStatus) SetItemText(IDC_WF_STATUS, face.strStatus);
  if (ItemText(IDC_WF_COUNTER) != face.strCounter) SetItemText(IDC_WF_COUNTER, face.strCounter);
  const HWND progress = Item(IDC_WF_PROGRESS);
  if (SendMessageA(progress, PBM_GETPOS, 0, 0) != face.nProgress) SendMessageA(progress, PBM_SETPOS, face.nProgress, 0);
  RefreshCaptions();
}

void CWatchfileDlg::DumpLog() {
  CGuardResults* results = m_guard.Results();
  if (!results) return;
  const std::vector<CGuardResults::CRow> rows = results->Rows();
  if (!WatchLogDue(rows.size(), g_Settings.watchfilelogcount)) return;
  // Rows found since the last alert tick would leave the list unalerted: they go now.
  UploadAlert(rows);
  std::vector<std::vector<std::string>> cells;
  cells.reserve(rows.size());
  for (const CGuardResults::CRow& row : rows) cells.push_back({row.strId, row.strFile, row.strType, row.strTime});
  CWin32LogFileSystem files;
  AppendLog(files, WatchLogText(cells), kLogFolder, kWatchLogPrefix);
  ClearResults(rows.size(), false);
}

void CWatchfileDlg::UploadAlert(const std::vector<CGuardResults::CRow>& rows) {
  std::vector<CResultRowView> views;
  views.reserve(rows.size());
  for (const CGuardResults::CRow& row : rows) views.push_back({row.strFile, row.strType});
  CheckUploadAlert(g_Settings, views, m_nAlertedRows, BackgroundAlertSender());
}

void CWatchfileDlg::Blink() {
  if (!g_bScanning || g_bStopped) return;
  // The first change comes a second after the scan started.
  if (m_nBlink == 0 && !m_bBlinkWaited) {
    m_bBlinkWaited = true;
    return;
  }
  m_nScanIcon = ScanBlinkIcon(m_nBlink);
  IconButton(IDC_WF_SCAN).SetIcon(m_nScanIcon);
  ++m_nBlink;
}

bool CWatchfileDlg::OnCommand(int id, int notifyCode) {
  switch (id) {
    case IDC_WF_PROTECT:
      ToggleUploadProtection();
      return true;
    case IDC_WF_SCAN:
      ToggleFolderScan();
      return true;
    case IDC_WF_BROWSE:
      PickFolder();
      return true;
    case IDC_WF_CLEAR:
      ClearResults(static_cast<size_t>(m_list.Count()), true);
      return true;
    case IDC_WF_AUTOSCROLL:
      m_bAutoScroll = IsChecked(IDC_WF_AUTOSCROLL);
      if (m_guard.Results()) m_guard.Results()->SetAutoScroll(m_bAutoScroll);
      return true;
    case IDC_WF_HELP:
      OpenWebLink(m_hWnd, ServiceUrl(service_path::kHomePage) + kWatchHelpAnchor);
      return true;
    default:
      return CWorkingWindow::OnCommand(id, notifyCode);
  }
}

void CWatchfileDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kUploadAlertTimer:
      if (m_guard.Results()) UploadAlert(m_guard.Results()->Rows());
      break;
    case kLogDumpTimer:
      DumpLog();
      break;
    case kScanBlinkTimer:
      Blink();
      break;
    case kCheckerTimer:
      m_guard.StartCheckerOnce();
      break;
    default:
      break;
  }
}

void CWatchfileDlg::OnDestroy() {
  m_guard.Destroy();
  DropQueuedPayloads<std::string>(m_hWnd, kGuardTextMessage);
}

bool CWatchfileDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case kGuardChangedMessage:
      ShowResults();
      result = 0;
      return true;
    case kGuardTextMessage: {
      const std::unique_ptr<std::string> text = TakePayload<std::string>(lParam);
      AppMessageBox(m_hWnd, *text);
      RefreshCaptions();
      result = 0;
      return true;
    }
    case WM_SHOWWINDOW:
      if (wParam) RefreshCaptions();
      return false;
    default:
      return CWorkingWindow::OnMessage(message, wParam, lParam, result);
  }
}
