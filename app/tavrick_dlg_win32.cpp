#include "app/tavrick_dlg_win32.h"

#include <winsock2.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "alerts/alert_conditions_win32.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/vendor_service_win32.h"
#include "app/filter_devices_win32.h"
#include "app/handover_win32.h"
#include "app/startup.h"
#include "app/process_mutexes_win32.h"
#include "common/process_state.h"
#include "config/settings.h"
#include "ipblock/ip_tables.h"
#include "app/protect_time.h"
#include "common/resource.h"
#include "common/version.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "config/config_keeper.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "ipblock/blocked_list.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_tables.h"
#include "ipblock/ip_tables_win32.h"
#include "logonguard/logon_guard_win32.h"
#include "remote/remote_operation_win32.h"
#include "remote/restart_program_win32.h"
#include "ui/message_pump_win32.h"
#include "ui/web_link_win32.h"
#include "ui/window_post_win32.h"
#include "update/upgrade_handover.h"
#include "update/upgrade_win32.h"
#include "update/version_state.h"
#include "webguard/webguard_ports_win32.h"

namespace {

constexpr UINT_PTR kTimerBase = 1000;  // timer n of the main window is kTimerBase + n
constexpr int kTimerSeconds[7] = {20, 600, 30, 86400, 60, 1, 1};
constexpr UINT kAutoStartMessage = WM_APP + 1;
constexpr UINT kHandOverMessage = WM_APP + 2;  // an administrator's copy asks for protection
const char kHandedOverText[] = "防护已交给管理员启动的Tavrick";
constexpr UINT_PTR kAutoStartRetryTimer = 2000;  // a failed automatic start is tried again
constexpr UINT kAutoStartRetrySeconds = 300;
const char kAutoStartFailedText[] = "自动启动防护失败:";

const char kStartFirstText[] = "请先启动防火墙!";
const char kTrayQuestion[] = "最小化到右下角托盘吗?";
const char kStatusBarPrefix[] = "当前软件最新版本:";

struct ButtonIcon {
  int id;
  int icon;
};
constexpr ButtonIcon kButtonIcons[] = {
    {IDC_START, IDI_START},     {IDC_STOP, IDI_STOP},     {IDC_DDOS, IDI_DDOS},         {IDC_MONITOR, IDI_MONITOR},
    {IDC_WEBSITE, IDI_WEBSITE}, {IDC_RESOURCES, IDI_RESOURCES}, {IDC_ALERTS, IDI_ALERTS}, {IDC_REMOTE, IDI_REMOTE},
    {IDC_HELP_CENTER, IDI_HELP},       {IDC_EXIT, IDI_EXIT},     {IDC_CREDIT, IDI_CREDIT},     {IDC_QUESTION, IDI_QUESTION_PAGE},
    {IDC_RELATED_LINK, IDI_RELATED}, {IDC_LOGON_GUARD, IDI_LOGON_GUARD},
};

IProfileStore& Config() {
  static CWin32ProfileStore store;
  return store;
}

void WriteConfig(const char* section, const char* key, const std::string& value) {
  WriteIni(Config(), kConfigFile, section, key, value);
}

}  // namespace

CTavrickDlg::CTavrickDlg(HWND owner)
    : Ccustfrm(IDD_TAVRICK_DIALOG, owner),
      m_hIcon(LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_prompt(nullptr),
      m_control(*this) {}

BOOL CTavrickDlg::OnInitDialog() {
  Ccustfrm::OnInitDialog();
  m_prompt.SetOwner(m_hWnd);
  SetWindowTextA(m_hWnd, kVersionTag);
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  m_strBusyText.clear();
  m_bBusy = false;
  m_nBusySeconds = 0;
  SetStateColors(false);
  EnableButtons(true);

  m_tray.Init(m_hWnd, m_hIcon, kVersionTag);
  m_tray.Add(kTrayIconStopped);

  BuildLocalAddressList();
  FillAdminBaselineFromSystem();
  std::memset(&g_PacketBuffer, 0, sizeof(g_PacketBuffer));
  SetDevicePort(&Win32Device());
  UseSystemPortsForIpTables();
  g_tStartTime = CSystemClock().Now();
  g_tLastBlockAlert = g_tStartTime;

  for (int id = 0; id < 7; ++id) SetTimer(kTimerBase + id, kTimerSeconds[id] * 1000);

  static CSystemClock clock;
  LoadConfiguration(Config(), clock, g_Settings, g_pIpFilterList, g_pIpOuterList);
  g_llProtectSeconds = g_Settings.llProtectSeconds;
  m_strRunTray = g_Settings.runtray;
  m_bCheckingUsers = false;

  // The mutexes exist before the first service thread can wait on one.
  CreateProcessMutexes();
  VendorServiceInit(g_Settings, g_saLocalIp.front());
  VendorServiceStartupPolls();
  InstallRemoteCommandCheck();
  // Hand-overs and self-restarts end the program through the command guard.
  SetProgramEndGuard([this](CProtectionControl::EndForSuccessorFn end, std::function<void()> refused) {
    m_control.EndForSuccessor(std::move(end), std::move(refused));
  });
  if (g_bServiceCopy) SetHandOverWindow(m_hWnd, kHandOverMessage);

  g_strLatestVersion = kVersionNumber;
  m_hStatusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd, nullptr,
                                 ResourceModule(), nullptr);
  // The version on the left; on the right, while protection runs, which filter protects.
  RECT client{};
  GetClientRect(m_hWnd, &client);
  int parts[2] = {client.right > 60 ? static_cast<int>(client.right) - 48 : -1, -1};
  SendMessageA(m_hStatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
  SendMessageA(m_hStatusBar, WM_SETFONT, reinterpret_cast<WPARAM>(CommonDialogFont()), TRUE);
  SetStatusBarVersion(g_strLatestVersion);
  // Once the status bar and the tray icon exist: the check may report on the one and remove the other.
  StartUpgradeCheck({kVersionNumber, kBuildBits, [this](const std::string& text) { SetStatusBarText(text); },
                     [this] { m_tray.Remove(); }});

  StageDriverFiles();
  uint32_t serviceIp = 0;
  if (ResolveServiceIp(serviceIp)) g_dwServiceIp = serviceIp;
  MarkStopped();
  return TRUE;
}

void CTavrickDlg::SetStatusBarVersion(const std::string& version) { SetStatusBarText(kStatusBarPrefix + version); }

void CTavrickDlg::SetStatusBarText(const std::string& text) {
  SendMessageA(m_hStatusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CTavrickDlg::BuildLocalAddressList() {
  g_saLocalIp.clear();
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  char name[256] = {};
  if (gethostname(name, sizeof(name)) == 0) {
    if (hostent* host = gethostbyname(name)) {
      for (int i = 0; host->h_addr_list[i]; ++i) {
        in_addr address;
        std::memcpy(&address, host->h_addr_list[i], sizeof(address));
        g_saLocalIp.push_back(inet_ntoa(address));
      }
    }
  }
  // Without a resolvable own name the loopback address stands first, so the alert title
  // and the ping rule still have an address to use.
  g_saLocalIp.push_back("127.0.0.1");
  g_saLocalIp.push_back("0.0.0.0");
  g_saLocalIp.push_back("255.255.255.255");
}

// ---- face ---------------------------------------------------------------------------------

void CTavrickDlg::EnableButtons(bool enable) {
  for (const ButtonIcon& b : kButtonIcons) {
    IconButton(b.id).SetIcon(b.icon);
    EnableWindow(Item(b.id), enable ? TRUE : FALSE);
  }
}

void CTavrickDlg::SetStateColors(bool running) {
  m_crStateText = running ? RGB(3, 128, 23) : RGB(255, 0, 0);
  m_crStartText = running ? RGB(42, 40, 40) : RGB(0, 0, 0);
  IconButton(IDC_START).SetTextColor(m_crStartText);
  for (int id : {IDC_STATE, IDC_START}) {
    HWND item = Item(id);
    UpdateWindow(item);
    RedrawWindow(item, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW);
  }
}

void CTavrickDlg::SetStateFace(bool running, const std::string& label) {
  SetStateColors(running);
  SetItemText(IDC_STATE, label);
}

void CTavrickDlg::SetBusy(const std::string& text) {
  m_strBusyText = text;
  m_bBusy = !text.empty();
}

void CTavrickDlg::SetTrayIcon(int iconId) { m_tray.SetIcon(iconId); }

void CTavrickDlg::UpdateRelatedSoftware() {
  std::string text;
  std::vector<std::string> list;
  if (!VendorSoftList(list)) return;  // a request holds the list: keep the box as it is
  PickRelatedSoftware(list, text, m_strAdLink);
  SetItemText(IDC_RELATED_TEXT, text);
}

void CTavrickDlg::PaintMinimized() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, m_hIcon);
  EndPaint(m_hWnd, &ps);
}

// ---- protection ports ----------------------------------------------------------------------

void CTavrickDlg::Show(const std::string& text) { m_prompt.Show(text); }
bool CTavrickDlg::Ask(const std::string& text) { return m_prompt.Ask(text); }
bool CTavrickDlg::Protecting() { return g_bProtecting != 0; }
FilterDeviceSetting CTavrickDlg::FilterSetting() { return ParseFilterDeviceSetting(g_Settings.filterdevice); }
CFilterFacts CTavrickDlg::FilterFacts() { return ProbeFilterFacts(FilterSetting()); }
void CTavrickDlg::UseFilterRoute(FilterRoute route) { UseFilterDevice(route); }
std::string CTavrickDlg::EngineUnusableReason() { return ::EngineUnusableReason(); }
void CTavrickDlg::SetFilterName(const std::string& name) {
  SendMessageA(m_hStatusBar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(name.c_str()));
}
bool CTavrickDlg::ProbeDevice() { return ::ProbeDevice(); }
int CTavrickDlg::InstallDriver() { return ::InstallDriver(); }
int CTavrickDlg::StartDriverFiltering() { return ::StartDriverFiltering(); }
void CTavrickDlg::LoadListsIntoDriver() {
  // A block that would cut off the server's own side, or that the driver would read as a
  // pattern, stays in the list but out of the driver, and the administrator finds why in the log.
  LoadTablesIntoDriver(PumpMessagesAndWait, [](const _CIPFilter& entry) {
    CWin32LogFileSystem fs;
    AppendLog(fs,
              LogClock(fs.LocalNow()) + InetNtoa(entry.dwIp) + " 端口 " +
                  std::to_string(Ntohs(static_cast<uint16_t>(entry.dwPort))) + " 未载入驱动:" +
                  HeldBackReason(entry) + "\r\n",
              kLogFolder, kConfigLogPrefix);
  });
}
int CTavrickDlg::StopDriverSequence() {
  const int stopped = ::StopDriverSequence();
  FlushIpFilterList();
  WakeWatchFileChecker();  // an idle website checker sees the stop now
  if (stopped == 1) StopProgramLogonGuard();
  return stopped;
}
void CTavrickDlg::MarkRunning() {
  ::MarkRunning();
  WriteConfig("sysice", "adminstop", "0");  // protecting again: the boot service may bring it back
}
long long CTavrickDlg::ProtectSeconds() { return g_llProtectSeconds; }

void CTavrickDlg::WriteCarryOver(bool resume) {
  FlushIpFilterList();  // the successor loads the list from the file
  if (resume) WriteConfig("sysice", "onlinetime", std::to_string(static_cast<uint32_t>(g_llProtectSeconds)));
  SaveWaitingAlerts();  // the successor sends them
}

void CTavrickDlg::CreateWorkingWindows() {
  m_pShownLast = nullptr;
  m_windows.CreateAll(m_hWnd);
  StartProgramLogonGuard();  // blocks through the tables the start has just loaded
}

void CTavrickDlg::WaitPumping(int seconds) {
  for (int i = 0; i < seconds; ++i) PumpMessagesAndWait(1000);
}

// The driver's restart question: administrators' programs end first, as for a remote reboot.
void CTavrickDlg::RebootServer() { RemoteReboot(); }

void CTavrickDlg::EndProcess() {
  m_tray.Remove();
  for (int id = 0; id < 6; ++id) KillTimer(kTimerBase + id);
  StopProgramLogonGuard();  // keeps the event log positions
  FlushIpFilterList();
  WriteConfig("sysice", "runtray", "0");
  WriteConfig("sysice", "onlinetime", "0");
  WriteConfig("sysice", "adminstop", "1");  // the administrator left: the boot service starts nothing
  TerminateProcess(GetCurrentProcess(), 0);
}

void CTavrickDlg::ProtectionStarted() {
  KillTimer(kAutoStartRetryTimer);
  if (g_bTookOver) SignalHandOverTaken();
  ConfirmProtectingStart(kVersionNumber);
}

// Nobody may be there to answer (a start at logon, after a reboot, by the updater): the reason
// goes to the log and out as an alert, and the start is tried again later.
void CTavrickDlg::AutomaticStartFailed(const std::string& text) {
  const std::string line = kAutoStartFailedText + text;
  CWin32LogFileSystem fs;
  AppendLog(fs, LogClock(fs.LocalNow()) + line + "\r\n", kLogFolder, kConfigLogPrefix);
  DispatchAlert(line);
  if (UpdaterAwaitsProtection()) {
    // The updater puts the old build back when this one ends before it confirms.
    m_tray.Remove();
    TerminateProcess(GetCurrentProcess(), kRollBackExitCode);
  }
  SetTimer(kAutoStartRetryTimer, kAutoStartRetrySeconds * 1000);
}

// ---- commands -------------------------------------------------------------------------------

bool CTavrickDlg::OnCommand(int id, int notifyCode) {
  switch (id) {
    case IDC_START:
      m_control.StartCommand();
      return true;
    case IDC_STOP:
      m_control.StopCommand();
      // Stopped by the administrator: the boot service leaves it stopped until a start.
      if (!Protecting()) WriteConfig("sysice", "adminstop", "1");
      return true;
    case IDC_DDOS:
      ShowWorkingWindow(m_windows.pIpFilterDlg.get());
      return true;
    case IDC_MONITOR:
      ShowWorkingWindow(m_windows.pWatchMainDlg.get());
      return true;
    case IDC_WEBSITE:
      ShowWorkingWindow(m_windows.pWatchfileDlg.get());
      return true;
    case IDC_RESOURCES:
      ShowWorkingWindow(m_windows.pSysInfoDlg.get());
      return true;
    case IDC_ALERTS:
      OpenDialog(m_alertsDialog);
      return true;
    case IDC_REMOTE:
      OpenDialog(m_remoteDialog);
      return true;
    case IDC_LOGON_GUARD:
      // Its settings can be set before protection starts; the guard runs with protection.
      OpenDialog(m_logonGuardDialog, false);
      return true;
    case IDC_HELP_CENTER:
      OpenLink(ServiceUrl("/tavrick/index.jsp"));
      return true;
    case IDC_QUESTION:
      OpenLink(ServiceUrl("/tavrick/question.html"));
      return true;
    case IDC_CREDIT:
      OpenLink(ServiceUrl("/tavrick/index.jsp") + "#credit");
      return true;
    case IDC_RELATED_LINK:
      OpenLink(m_strAdLink);
      return true;
    case IDC_EXIT:
    case ID_TRAY_EXIT:
      m_control.ExitCommand();
      return true;
    case ID_TRAY_RESTORE:
      ShowFromTray();
      return true;
    default:
      return Ccustfrm::OnCommand(id, notifyCode);
  }
}

void CTavrickDlg::ShowWorkingWindow(CDialog* window) {
  if (!Protecting() || !window) {
    Show(kStartFirstText);
    return;
  }
  if (m_pShownLast && m_pShownLast != window && m_pShownLast->Hwnd())
    SendMessageA(m_pShownLast->Hwnd(), WM_CLOSE, 0, 0);
  m_pShownLast = window;
  window->ShowWindow(SW_SHOWNORMAL);
}

void CTavrickDlg::OpenDialog(CDialogSlot& slot, bool needsProtection) {
  if (needsProtection && !Protecting()) {
    Show(kStartFirstText);
    return;
  }
  if (m_pShownLast && m_pShownLast->Hwnd()) SendMessageA(m_pShownLast->Hwnd(), WM_CLOSE, 0, 0);
  m_pShownLast = nullptr;
  slot.Open(m_hWnd);
}

// Only web addresses: the related-software link comes from the service; failures stay silent.
void CTavrickDlg::OpenLink(const std::string& url) { OpenWebLink(m_hWnd, url); }

void CTavrickDlg::ShowFromTray() {
  ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
  SetForegroundWindow(m_hWnd);
  WriteConfig("sysice", "runtray", "0");
}

void CTavrickDlg::OnSysClose() {
  if (!Ask(kTrayQuestion)) return;
  ::ShowWindow(m_hWnd, SW_HIDE);
  WriteConfig("sysice", "runtray", "1");
}

void CTavrickDlg::OnTrayNotify(LPARAM mouseMessage) {
  if (mouseMessage == WM_LBUTTONDBLCLK) {
    ShowFromTray();
    return;
  }
  if (mouseMessage != WM_RBUTTONDOWN) return;
  HMENU menu = LoadMenuA(ResourceModule(), MAKEINTRESOURCEA(IDR_TRAYMENU));
  HMENU popup = GetSubMenu(menu, 0);
  if (IsWindowVisible(m_hWnd) && !IsIconic(m_hWnd)) EnableMenuItem(popup, ID_TRAY_RESTORE, MF_BYCOMMAND | MF_GRAYED);
  SetForegroundWindow(m_hWnd);
  POINT cursor;
  GetCursorPos(&cursor);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
  DestroyMenu(menu);
}

void CTavrickDlg::OnShowWindow() {
  RECT work, mine;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(m_hWnd, &mine);
  SetWindowPos(m_hWnd, nullptr, work.right - (mine.right - mine.left), work.bottom - (mine.bottom - mine.top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Runs after the show completes, exactly like a click on the start button (the command
  // guard holds it back while another command runs).
  if (m_control.AutoStartDue() && !m_bAutoStartPosted) {
    // A post refused (message queue full) leaves it unasked, so the next show asks again.
    m_bAutoStartPosted = PostToWindow(m_hWnd, kAutoStartMessage);
  }
}

// The boot service's copy hands protection to an administrator's copy, which waits until the
// lists and the carried-over state are written (the command guard's end for a successor).
// The vendor's driver serves one client: it is let go first, and the new copy loads it again
// (the gap the hand-over has). On the user-mode filter each copy has its own engine session:
// ours, with its filters, stays until the new copy protects, so the filters never lapse.
void CTavrickDlg::OnHandOverRequest() {
  m_control.EndForSuccessor(
      [this](bool) {
        m_tray.Remove();
        const bool userMode = UserModeFilterInUse();
        if (!userMode && g_hDevice.load() != kInvalidDevice) ::StopDriverSequence();
        CWin32LogFileSystem fs;
        AppendLog(fs, LogClock(fs.LocalNow()) + kHandedOverText + "\r\n", kLogFolder, kConfigLogPrefix);
        SignalHandOverReleased();
        if (userMode && Protecting()) {
          // Pumping meanwhile: the new copy's start may send to this copy's windows (a
          // broadcast), and would wait for a thread that does not answer.
          const ULONGLONG deadline = GetTickCount64() + kHandOverWaitSeconds * 1000ULL;
          while (!WaitHandOverTaken(0) && GetTickCount64() < deadline) PumpMessagesAndWait(50);
        }
        TerminateProcess(GetCurrentProcess(), kHandedOverExitCode);
        return true;
      },
      nullptr);
}

// ---- timers ---------------------------------------------------------------------------------

void CTavrickDlg::OnTimer(UINT_PTR id) {
  if (id == kAutoStartRetryTimer) {
    KillTimer(kAutoStartRetryTimer);
    if (m_control.AutoStartDue() && !m_bAutoStartPosted) m_bAutoStartPosted = PostToWindow(m_hWnd, kAutoStartMessage);
    return;
  }
  if (id < kTimerBase || id > kTimerBase + 6) return;
  const int n = static_cast<int>(id - kTimerBase);
  if (n == 6) {
    if (m_bBusy) {
      ++m_nBusySeconds;
      char text[32];
      std::snprintf(text, sizeof(text), ":%d秒", m_nBusySeconds);
      SetItemText(IDC_STATE, m_strBusyText + text);
    }
    // The blocked list's changes of this second go to the file in one write.
    FlushIpFilterList();
    if (m_strRunTray == "1" && Protecting()) {
      m_strRunTray = "0";
      ::ShowWindow(m_hWnd, SW_HIDE);
    }
    return;
  }
  if (!Protecting()) return;
  try {
    TimerDuty(n);
  } catch (...) {
    m_bCheckingUsers = false;  // a failed duty must not leave the guard set
  }
}

void CTavrickDlg::TimerDuty(int n) {
  switch (n) {
    case 0: {
      CStatusFigures figures;
      if (VendorServiceTimer0(figures)) {  // a request holds the lock: the labels stay as they are
        SetItemText(IDC_SMS_COUNT, figures.strSmsCount + "条");
        SetItemText(IDC_MAIL_DAYS, figures.strMailDays + "天");
        m_strClockSkew = figures.strClockSkew;  // for the daily clock alert, read without waiting
      }
      SetItemText(IDC_FILTER_COUNT, g_strFilterCount + "个");  // kept by the blocked-IP list
      if (Protecting()) ExpireIpFilters();  // saved by the next second's flush
      break;
    }
    case 1:
      VendorServiceTimer1();
      break;
    case 2:
      UpdateRelatedSoftware();
      CheckNewAdminNow(m_bCheckingUsers);
      break;
    case 3:
      DailyHousekeeping();
      break;
    case 4:
      VendorServiceTimer4();
      UpdateRelatedSoftware();
      break;
    case 5:
      TickProgramLogonGuard();
      SetItemText(IDC_PROTECT_TIME, FormatProtectTime(g_llProtectSeconds, g_nSecondsSinceStart));
      WriteConfig("sysice", "onlinetime", std::to_string(static_cast<uint32_t>(g_llProtectSeconds)));
      break;
    default:
      break;
  }
}

void CTavrickDlg::DailyHousekeeping() {
  CheckNewVersion();
  VendorServiceTimer3();  // clock check
  CheckClockAlertNow(m_strClockSkew);
  CWin32LogFileSystem fs;
  DeleteOldFiles(fs, LogCleanupFolder(ProgramFolder()), g_Settings.logday);
}

// ---- messages -------------------------------------------------------------------------------

bool CTavrickDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (m_tray.OnShellRestart(message)) return true;
  switch (message) {
    case kAutoStartMessage:
      m_bAutoStartPosted = false;
      m_control.AutoStart();
      return true;
    case kHandOverMessage:
      OnHandOverRequest();
      return true;
    case kTrayCallbackMessage:
      OnTrayNotify(lParam);
      return true;
    case WM_SHOWWINDOW:
      OnShowWindow();
      return false;  // default handling too
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        OnSysClose();
        return true;
      }
      return false;
    case WM_SIZE:
      if (m_hStatusBar) SendMessageA(m_hStatusBar, WM_SIZE, 0, 0);
      return false;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Item(IDC_STATE)) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, m_crStateText);
        SetBkMode(dc, TRANSPARENT);
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        return true;
      }
      return false;
    case WM_PAINT:
      if (!IsIconic(m_hWnd)) return false;
      PaintMinimized();
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<LRESULT>(m_hIcon);
      return true;
    default:
      return false;
  }
}
