// The boot service tavricksvc.exe, registered with the prefix's service manager by its own
// "install" and started by the manager as at boot, in a scratch folder that holds the program,
// with the stand-in driver loaded. Wine starts a service that is not interactive on the desktop
// "Default" of its own window station "__wineservice_winstation", as Windows keeps services
// apart from the logged-on user's desktop; the copy the service starts is there too, and the
// test reads its windows on that desktop.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/resource.h"
#include "common/version.h"
#include "config/daily_log.h"
#include "config/daily_log_win32.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "process_driver_win32.h"
#include "scratch_dir_win32.h"
#include "service/boot_guard.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"

namespace {

const char kServiceName[] = "TavrickGuard";
const char kBlocked[] = "198.51.100.9|0|永远";
const char kServiceStation[] = "__wineservice_winstation";

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

// Top-level windows of the process on the services' desktop with this class and caption.
std::vector<HWND> ServiceDesktopWindows(DWORD pid, const char* className, const char* caption) {
  std::vector<HWND> all, found;
  const HWINSTA own = GetProcessWindowStation();
  const HWINSTA station = OpenWindowStationA(kServiceStation, FALSE, WINSTA_ENUMDESKTOPS);
  if (!station) return found;
  HDESK desktop = nullptr;
  if (SetProcessWindowStation(station)) {  // a desktop is opened in the process's station
    desktop = OpenDesktopA("Default", 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    SetProcessWindowStation(own);
  }
  if (desktop) {
    EnumDesktopWindows(desktop, CollectWindow, reinterpret_cast<LPARAM>(&all));
    CloseDesktop(desktop);
  }
  CloseWindowStation(station);
  for (HWND window : all) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[32] = {}, text[128] = {};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    if (owner == pid && lstrcmpA(name, className) == 0 && lstrcmpA(text, caption) == 0) found.push_back(window);
  }
  return found;
}

void EndProcessById(DWORD pid) {
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}

std::string Label(HWND main, int id) {
  char text[128] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(GetDlgItem(main, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000,
                      &result);
  return text;
}

// Message boxes of the process on either desktop: the program's have the caption " 提示" or
// its name.
std::vector<std::string> MessageBoxesOf(DWORD pid) {
  std::vector<std::string> texts;
  for (const char* caption : {" 提示", kAppName}) {
    for (HWND box : WindowsOf(pid, "#32770", caption)) texts.push_back(MessageBoxText(box));
    for (HWND box : ServiceDesktopWindows(pid, "#32770", caption)) texts.push_back(MessageBoxText(box));
  }
  return texts;
}

DWORD ServiceState() {
  SERVICE_STATUS status = {};
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return 0;
  const SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
  if (service && !QueryServiceStatus(service, &status)) status.dwCurrentState = 0;
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service ? status.dwCurrentState : 0;
}

bool StartBootService() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return false;
  const SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_START);
  const bool started = service && StartServiceA(service, 0, nullptr);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return started && WaitUntil([] { return ServiceState() == SERVICE_RUNNING; }, 20000);
}

bool StopBootService() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return false;
  const SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_STOP);
  SERVICE_STATUS status = {};
  if (service) ControlService(service, SERVICE_CONTROL_STOP, &status);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return WaitUntil([] { const DWORD s = ServiceState(); return s == SERVICE_STOPPED || s == 0; }, 60000);
}

// Reads the stand-in driver's counters every 10 ms on a thread of its own and keeps the longest
// stretch in which it did not filter with the configured blocked entry.
class CFilterGapWatch {
 public:
  CFilterGapWatch() : m_thread([this] { Watch(); }) {}
  ~CFilterGapWatch() { Stop(); }
  CFilterGapWatch(const CFilterGapWatch&) = delete;
  CFilterGapWatch& operator=(const CFilterGapWatch&) = delete;
  // The longest gap in ms, once stopped.
  ULONGLONG Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_longest;
  }
  int Readings() const { return m_readings; }

 private:
  void Watch() {
    ULONGLONG gapStart = 0;
    while (!m_stop) {
      CDriverCounters counters;
      const bool read = ReadCounters(&counters);
      const ULONGLONG now = GetTickCount64();
      if (read) ++m_readings;
      if (read && counters.dwFiltering == 1 && counters.blocked.size() == 1) {
        if (gapStart != 0) m_longest = std::max(m_longest, now - gapStart);
        gapStart = 0;
      } else if (gapStart == 0) {
        gapStart = now;
      }
      Sleep(10);
    }
    if (gapStart != 0) m_longest = std::max(m_longest, GetTickCount64() - gapStart);
  }

  std::atomic<bool> m_stop{false};
  ULONGLONG m_longest = 0;
  int m_readings = 0;
  std::thread m_thread;
};

// What the hand-over to the vendor's driver may cost (it serves one client): the old copy
// stops it, the new one starts it and loads the lists again.
constexpr ULONGLONG kDriverHandOverGapMs = 5000;

class BootServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"tavrick.exe", "tavricksvc.exe", "setupdriver.dll", "scriptviruslib.dll",
                             "firewalldriver.sys", "netsf.inf", "netsf_m.inf"})
      ASSERT_TRUE(CopyFileA((ExeDir() + "\\" + name).c_str(), dir.File(name).c_str(), FALSE)) << name;
    ASSERT_TRUE(EnsureDriverLoaded());
    ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
    // Registered as the installer registers it: by the service's own command.
    CChildProcess install;
    ASSERT_TRUE(install.Start(dir.File("tavricksvc.exe"), "install", dir.Path()));
    ASSERT_TRUE(install.WaitExit(20000));
    ASSERT_EQ(0u, install.ExitCode());
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState());
    CWin32ProfileStore store;
    WriteIni(store, dir.File("tavrick.cfg"), "ipfilter", "ipfilterlst", kBlocked);
  }
  void TearDown() override {
    // Stopped and deleted by its own command, as the uninstaller does; copies left by a failed
    // check go too.
    CChildProcess uninstall;
    if (uninstall.Start(dir.File("tavricksvc.exe"), "uninstall", dir.Path())) {
      EXPECT_TRUE(uninstall.WaitExit(90000));
      EXPECT_EQ(0u, uninstall.ExitCode());
    }
    EXPECT_EQ(0u, ServiceState()) << "the service is still registered";
    for (DWORD pid : RunningProcessesOf(Program())) EndProcessById(pid);
    FreshDriverAndClosedLink();
  }

  std::string Program() const { return dir.File("tavrick.exe"); }
  void SetConfig(const char* key, const char* value) {
    CWin32ProfileStore store;
    WriteIni(store, dir.File("tavrick.cfg"), "sysice", key, value);
  }
  std::string ConfigValue(const char* section, const char* key) {
    CWin32ProfileFunctions store;
    return ReadIni(store, dir.File("tavrick.cfg"), section, key);
  }
  std::string ServiceLog() {
    CWin32LogFileSystem fs;
    return ReadWholeFile(dir.File("log\\" + LogFileName(kBootLogPrefix, fs.LocalNow())));
  }
  bool LogHas(const std::string& text) { return ServiceLog().find(text) != std::string::npos; }

  // One copy of this folder's program runs, its window says it protects, the driver filters
  // with the blocked entry of the configuration, and no message box came.
  void ExpectOneCopyProtecting(DWORD* pidOut) {
    std::vector<DWORD> pids;
    ASSERT_TRUE(WaitUntil([&] { return !(pids = RunningProcessesOf(Program())).empty(); }, 60000)) << ServiceLog();
    ASSERT_EQ(1u, pids.size());
    HWND main = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      const std::vector<HWND> found = ServiceDesktopWindows(pids[0], "#32770", kVersionTag);
      main = found.empty() ? nullptr : found[0];
      return main != nullptr;
    }, 30000)) << "no main window on the services' desktop";
    EXPECT_TRUE(WindowsOf(pids[0], "", "").empty()) << "a window of the service's copy on the test's desktop";
    EXPECT_TRUE(WaitUntil([&] { return Label(main, IDC_STATE) == "启动"; }, 40000)) << Label(main, IDC_STATE);
    CDriverCounters counters;
    ASSERT_TRUE(ReadCounters(&counters));
    EXPECT_EQ(1u, counters.dwFiltering);
    EXPECT_EQ(1u, counters.blocked.size());
    EXPECT_EQ(std::vector<std::string>{}, MessageBoxesOf(pids[0]));
    *pidOut = pids[0];
  }

  CScratchDir dir;
};

TEST_F(BootServiceTest, CarriedOverProtectionComesBackRestartsAfterACrashAndEndsWithTheService) {
  SetConfig("onlinetime", "3600");  // the last run ended while protecting (a reboot)
  ASSERT_TRUE(StartBootService());
  DWORD first = 0;
  ExpectOneCopyProtecting(&first);
  EXPECT_TRUE(LogHas("上次运行结束时正在防护(已防护3600秒),启动Tavrick(rebootup)")) << ServiceLog();

  // The copy dies while protecting (its time is in the file again): the service starts another
  // after its pause, which protects as quietly.
  ASSERT_TRUE(WaitUntil([&] { return ConfigValue("sysice", "onlinetime") != "0"; }, 10000));
  EndProcessById(first);
  DWORD second = 0;
  ExpectOneCopyProtecting(&second);
  EXPECT_NE(first, second);
  EXPECT_TRUE(LogHas("Tavrick已结束(退出码99")) << ServiceLog();

  // Stopping the service ends its copy through the exit command: filtering stops and the exit
  // is recorded, so the next start of the service leaves protection off.
  ASSERT_TRUE(StopBootService());
  EXPECT_TRUE(RunningProcessesOf(Program()).empty());
  CDriverCounters counters;
  ASSERT_TRUE(ReadCounters(&counters));
  EXPECT_EQ(0u, counters.dwFiltering);
  EXPECT_FALSE(LogHas("强行结束")) << ServiceLog();
  EXPECT_EQ("0", ConfigValue("sysice", "onlinetime"));
  EXPECT_EQ("1", ConfigValue("sysice", "adminstop"));
  EXPECT_EQ(kBlocked, ConfigValue("ipfilter", "ipfilterlst"));
}

TEST_F(BootServiceTest, APauseHoldsAcrossABootAndProtectionAtEveryBootStartsOnceItIsLifted) {
  // An earlier exit, and protection carried over from a later run.
  SetConfig("onlinetime", "3600");
  SetConfig("adminstop", "1");
  {
    CTavrickSession app;  // the administrator's own copy starts protecting by itself
    ASSERT_TRUE(app.Start(dir.Path(), "", Program()));
    ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 40000)) << app.Label(IDC_STATE);
    EXPECT_EQ("0", ConfigValue("sysice", "adminstop"));  // a start lifts the stop
    // The protection time is in the file again (written every second of protection).
    ASSERT_TRUE(WaitUntil([&] { return ConfigValue("sysice", "onlinetime") != "0"; }, 10000));
    app.Click(IDC_STOP);  // "暂停防护"
    EXPECT_EQ("防火墙停止成功!", app.Answer(kAppName, IDOK, 30000));
    EXPECT_TRUE(WaitUntil([&] { return ConfigValue("sysice", "adminstop") == "1"; }, 5000));
    ASSERT_TRUE(app.Process().End(10000));  // the server goes down
  }
  EXPECT_NE("0", ConfigValue("sysice", "onlinetime"));
  SetConfig("bootprotect", "1");
  ASSERT_TRUE(StartBootService());
  ASSERT_TRUE(WaitUntil([&] { return LogHas("管理员已停止防护或退出软件,不启动Tavrick"); }, 30000)) << ServiceLog();
  EXPECT_TRUE(RunningProcessesOf(Program()).empty());
  ASSERT_TRUE(StopBootService());

  // No protection time to carry over, but protection at every boot: as quiet.
  SetConfig("onlinetime", "0");
  SetConfig("adminstop", "0");
  ASSERT_TRUE(StartBootService());
  DWORD pid = 0;
  ExpectOneCopyProtecting(&pid);
  EXPECT_TRUE(LogHas("已设置开机防护(bootprotect=1),启动Tavrick(rebootup)")) << ServiceLog();
}

// An administrator opens Tavrick while the service's copy protects: their copy takes over
// (no "already running"), the service's copy ends, the filter lapses no longer than the
// driver's hand-over costs. Killed (the administrator did not stop it), the service's copy
// is back after the settle; stopped by the administrator, nothing comes back.
TEST_F(BootServiceTest, AnAdministratorsCopyTakesOverAndTheServicesComesBackUnlessTheAdministratorStopped) {
  SetConfig("onlinetime", "3600");
  ASSERT_TRUE(StartBootService());
  DWORD serviceCopy = 0;
  ExpectOneCopyProtecting(&serviceCopy);

  const auto takeOver = [&](CTavrickSession& admin, ULONGLONG* gapMs) {
    CFilterGapWatch watch;
    ASSERT_TRUE(admin.Start(dir.Path(), "", Program()));
    ASSERT_TRUE(admin.WaitLabel(IDC_STATE, "启动", 40000)) << admin.Label(IDC_STATE);
    ASSERT_TRUE(WaitUntil([&] { return RunningProcessesOf(Program()).size() == 1; }, 20000));
    *gapMs = watch.Stop();
    EXPECT_GT(watch.Readings(), 0);
    EXPECT_EQ(std::vector<DWORD>{admin.Process().Pid()}, RunningProcessesOf(Program()));
    EXPECT_EQ(std::vector<std::string>{}, MessageBoxesOf(admin.Process().Pid()));
    CDriverCounters counters;
    ASSERT_TRUE(ReadCounters(&counters));
    EXPECT_EQ(1u, counters.dwFiltering);
    EXPECT_EQ(1u, counters.blocked.size());
  };

  ULONGLONG gapMs = 0;
  {
    CTavrickSession admin;
    takeOver(admin, &gapMs);
    if (HasFatalFailure()) return;
    std::printf("hand-over to the administrator's copy: filter off for %llu ms\n", gapMs);
    EXPECT_LE(gapMs, kDriverHandOverGapMs);
    ASSERT_TRUE(WaitUntil([&] { return LogHas("Tavrick已把防护交给管理员启动的Tavrick"); }, 10000)) << ServiceLog();
    Sleep(static_cast<DWORD>(CBootGuard::kSettleSeconds) * 1000 / 2);
    EXPECT_EQ(std::vector<DWORD>{admin.Process().Pid()}, RunningProcessesOf(Program()));  // no second copy
    ASSERT_TRUE(WaitUntil([&] { return ConfigValue("sysice", "onlinetime") != "0"; }, 10000));
    ASSERT_TRUE(admin.Process().End(10000));  // killed (or its administrator logged off)
  }
  const ULONGLONG killed = GetTickCount64();
  DWORD back = 0;
  ExpectOneCopyProtecting(&back);
  const ULONGLONG backMs = GetTickCount64() - killed;
  std::printf("the service's copy protects again %llu ms after the administrator's ended\n", backMs);
  EXPECT_LE(backMs, static_cast<ULONGLONG>(CBootGuard::kSettleSeconds + CRestartBackoff::kFirstDelay) * 1000 + 30000);

  {
    CTavrickSession admin;
    takeOver(admin, &gapMs);
    if (HasFatalFailure()) return;
    EXPECT_LE(gapMs, kDriverHandOverGapMs);
    admin.Click(IDC_STOP);  // "暂停防护"
    EXPECT_EQ("防火墙停止成功!", admin.Answer(kAppName, IDOK, 30000));
    EXPECT_TRUE(WaitUntil([&] { return ConfigValue("sysice", "adminstop") == "1"; }, 5000));
    ASSERT_TRUE(admin.Process().End(10000));
  }
  ASSERT_TRUE(WaitUntil([&] { return LogHas("管理员已停止防护或退出软件,不启动Tavrick"); }, 30000)) << ServiceLog();
  Sleep(2000);
  EXPECT_TRUE(RunningProcessesOf(Program()).empty());
}

}  // namespace
