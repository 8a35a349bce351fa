// The real main window under wine64, with and without the stand-in driver.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "common/resource.h"
#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"

namespace {

const char kQuestion[] = " 提示";
const char* const kWorkingWindows[] = {"监视数据", "被屏蔽IP列表", "网站保护配置", "系统资源情况"};

std::string Config(const char* section, const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, section, key);
}

const auto WaitFor = &WaitUntil;

// Ends the crash debugger that Wine starts for a program of the test that failed (with the
// heap trace on, it would write for minutes and keep the test's output open).
class CCrashDebuggerReaper {
 public:
  explicit CCrashDebuggerReaper(CChildProcess& child) : m_child(child) {}
  ~CCrashDebuggerReaper() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (entry.th32ParentProcessID != m_child.Pid() || lstrcmpiA(entry.szExeFile, "winedbg.exe") != 0) continue;
      if (HANDLE debugger = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
        TerminateProcess(debugger, 1);
        CloseHandle(debugger);
      }
    }
    CloseHandle(snapshot);
  }

 private:
  CChildProcess& m_child;
};

// A menu key, as the menu's own loop reads it from the program's queue.
void MenuKey(HWND menu, WPARAM key) {
  PostMessageA(menu, WM_KEYDOWN, key, 0);
  PostMessageA(menu, WM_KEYUP, key, 0);
  Sleep(100);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void StartProtectionByHand() {
    app.Click(IDC_START);
    EXPECT_EQ("防火墙启动成功!", app.Answer(kAppName, IDOK, 30000));
    ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 5000)) << app.Label(IDC_STATE);
  }

  CScratchDir dir;
  CTavrickSession app;
};

TEST_F(MainWindowTest, FirstStartWithoutDriverAsksAndNoChangesNothing) {
  RemoveDriverService();
  ASSERT_TRUE(app.Start(dir.Path()));
  EXPECT_EQ("关闭", app.Label(IDC_STATE));
  app.Click(IDC_START);
  EXPECT_EQ("第一次使用需安装NDIS驱动,安装后可能需重启您的服务器! \n请备份好您的数据,是否安装?",
            app.Answer(kQuestion, IDNO));
  Sleep(500);
  EXPECT_EQ("关闭", app.Label(IDC_STATE));
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("\\\\.\\FIREWALLDRIVER", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  for (const char* caption : kWorkingWindows) EXPECT_EQ(nullptr, app.FindWindowTitled(caption)) << caption;
  // Working windows need protection first.
  app.Click(IDC_DDOS);
  EXPECT_EQ("请先启动防火墙!", app.Answer(kAppName, IDOK));
}

TEST_F(MainWindowTest, StartInstallsTheDriverCreatesHiddenWindowsAndStopWaits) {
  RemoveDriverService();
  ASSERT_TRUE(app.Start(dir.Path()));
  EXPECT_EQ(TrayShield::Idle, ShownTrayShield());
  app.Click(IDC_START);
  app.Answer(kQuestion, IDYES);  // install the driver
  EXPECT_EQ("防火墙启动成功!", app.Answer(kAppName, IDOK, 30000));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 5000)) << app.Label(IDC_STATE);
  EXPECT_EQ(TrayShield::Protecting, ShownTrayShield());
  for (const char* caption : kWorkingWindows) {
    HWND window = app.FindWindowTitled(caption);
    ASSERT_NE(nullptr, window) << caption;
    EXPECT_FALSE(IsWindowVisible(window)) << caption;
  }

  app.Click(IDC_STOP);
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "正在停止防火墙:1秒", 5000)) << app.Label(IDC_STATE);
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "正在停止防火墙:2秒", 3000)) << app.Label(IDC_STATE);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(app.Main(), IDC_START)));
  EXPECT_EQ("防火墙停止成功!", app.Answer(kAppName, IDOK, 20000));
  EXPECT_EQ("停止", app.Label(IDC_STATE));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(app.Main(), IDC_START)));
  EXPECT_EQ(TrayShield::Idle, ShownTrayShield());
}

TEST_F(MainWindowTest, WorkingWindowButtonsCloseTheLastShown) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(app.Start(dir.Path()));
  StartProtectionByHand();
  HWND blocked = app.FindWindowTitled("被屏蔽IP列表");
  HWND monitor = app.FindWindowTitled("监视数据");
  app.Click(IDC_DDOS);
  Sleep(500);
  EXPECT_TRUE(IsWindowVisible(blocked));
  app.Click(IDC_MONITOR);
  Sleep(500);
  EXPECT_FALSE(IsWindowVisible(blocked));
  EXPECT_TRUE(IsWindowVisible(monitor));
  app.Click(IDC_MONITOR);
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(monitor));
  app.Click(IDC_ALERTS);
  HWND alerts = WaitForWindow(app.Process().Pid(), "#32770", "即时提醒", 5000);
  EXPECT_NE(nullptr, alerts);
  EXPECT_FALSE(IsWindowVisible(monitor));
}

TEST_F(MainWindowTest, CarriedOverTimeStartsQuietlyAndCountsOn) {
  ASSERT_TRUE(EnsureDriverLoaded());
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "100");
  ASSERT_TRUE(app.Start(dir.Path()));
  EXPECT_EQ("0", Config("sysice", "onlinetime"));  // the load reset the marker
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
  // The first tick after the start shows the carried-over time plus one second.
  std::string first;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 5000) {
    first = app.Label(IDC_PROTECT_TIME);
    if (first != "0秒") break;
    Sleep(20);
  }
  EXPECT_EQ("1分41秒", first);
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 1500)) << "no success message for an automatic start";
  EXPECT_NE("0", Config("sysice", "onlinetime"));
}

TEST_F(MainWindowTest, ExitAsksFirstThenEndsAndClearsTheMarkers) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(app.Start(dir.Path()));
  StartProtectionByHand();
  ASSERT_TRUE(app.WaitLabel(IDC_PROTECT_TIME, "2秒", 5000));
  EXPECT_EQ("2", Config("sysice", "onlinetime"));
  app.Click(IDC_EXIT);
  EXPECT_EQ("是否真的要停止防护吗?", app.Answer(kQuestion, IDNO));
  Sleep(1500);
  EXPECT_TRUE(app.Process().Running());
  EXPECT_EQ("启动", app.Label(IDC_STATE));
  app.Click(IDC_EXIT);
  app.Answer(kQuestion, IDYES);
  ASSERT_TRUE(app.Process().WaitExit(30000));
  EXPECT_EQ(0u, app.Process().ExitCode());
  EXPECT_EQ("0", Config("sysice", "runtray"));
  EXPECT_EQ("0", Config("sysice", "onlinetime"));
}

TEST_F(MainWindowTest, CloseAsksAndHidesToTheTray) {
  ASSERT_TRUE(app.Start(dir.Path()));
  app.SysClose();
  EXPECT_EQ("最小化到右下角托盘吗?", app.Answer(kQuestion, IDNO));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(app.Main()));
  EXPECT_EQ("0", Config("sysice", "runtray"));
  app.SysClose();
  app.Answer(kQuestion, IDYES);
  Sleep(500);
  EXPECT_FALSE(IsWindowVisible(app.Main()));
  EXPECT_EQ("1", Config("sysice", "runtray"));
  // A double click on the tray icon brings it back.
  PostMessageA(app.Main(), WM_USER + 2, 0, WM_LBUTTONDBLCLK);
  Sleep(500);
  EXPECT_TRUE(IsWindowVisible(app.Main()));
  EXPECT_EQ("0", Config("sysice", "runtray"));
}

TEST_F(MainWindowTest, EscapeAndEnterDoNotCloseTheWindow) {
  RemoveDriverService();  // so that a press of "启动防护" would ask at once
  ASSERT_TRUE(app.Start(dir.Path()));
  // An owner-drawn button is never the dialog's default: make "启动防护" the default, so that
  // Enter, were it not swallowed, would press it.
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutA(app.Main(), DM_SETDEFID, IDC_START, 0, SMTO_ABORTIFHUNG, 5000, &result));
  for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
    PostMessageA(app.Main(), WM_KEYDOWN, key, 0);
    PostMessageA(GetDlgItem(app.Main(), IDC_STOP), WM_KEYDOWN, key, 0);
  }
  EXPECT_EQ(nullptr, app.WaitBox(kQuestion, 1000)) << "Enter must not press the default button";
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 0));
  EXPECT_TRUE(app.Process().Running());
  EXPECT_TRUE(IsWindowVisible(app.Main()));
}

TEST_F(MainWindowTest, HidingDuringTheStopWaitEndsWithLabelTrayAndDriverAgreeing) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(app.Start(dir.Path()));
  StartProtectionByHand();
  ASSERT_TRUE(app.WaitLabel(IDC_PROTECT_TIME, "1秒", 5000));  // a protection time to carry over
  app.Click(IDC_STOP);
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "正在停止防火墙:1秒", 5000)) << app.Label(IDC_STATE);
  app.SysClose();  // hidden to the tray while the stop waits: that asks for an automatic start
  app.Answer(kQuestion, IDYES);
  EXPECT_EQ("防火墙停止成功!", app.Answer(kAppName, IDOK, 20000));
  // The automatic start waited for the stop to end, then ran (quietly: the time carries over).
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 15000)) << app.Label(IDC_STATE);
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 1000));
  CDriverCounters counters;
  ASSERT_TRUE(ReadCounters(&counters));
  EXPECT_EQ(1u, counters.dwFiltering);
  EXPECT_EQ(TrayShield::Protecting, ShownTrayShield());
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(app.Main(), IDC_START)));
}

// The configuration logs of the scratch folder, read whole.
std::string ConfigLogs(const CScratchDir& dir) {
  std::string text;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(dir.File("log\\cfg*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return text;
  do {
    text += ReadWholeFile(dir.File(std::string("log\\") + found.cFileName));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return text;
}

// After a reboot nobody is there to answer: the automatic start asks nothing (before, it asked
// to install the driver and held the command guard until someone did), says why in the log, and
// a later show asks nothing either.
TEST_F(MainWindowTest, RebootUpAsksNothingAndLogsWhyProtectionDidNotStart) {
  RemoveDriverService();
  ASSERT_TRUE(app.Start(dir.Path(), "rebootup"));
  EXPECT_EQ(nullptr, app.WaitBox(kQuestion, 10000)) << "the automatic start asked";
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 1000));
  EXPECT_TRUE(WaitFor([&] { return ConfigLogs(dir).find("自动启动防护失败:第一次使用需安装NDIS驱动") != std::string::npos; },
                      10000))
      << ConfigLogs(dir);
  EXPECT_EQ("关闭", app.Label(IDC_STATE));
  app.SysClose();
  app.Answer(kQuestion, IDYES);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 5000));
  PostMessageA(app.Main(), WM_USER + 2, 0, WM_LBUTTONDBLCLK);  // shown again from the tray
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000));
  EXPECT_EQ(nullptr, app.WaitBox(kQuestion, 2000)) << "a retried automatic start asked";
  EXPECT_EQ("关闭", app.Label(IDC_STATE));
}

TEST_F(MainWindowTest, AlertAndRemoteDialogsOpenAndCloseTwiceUnderTheDebugHeap) {
  ASSERT_TRUE(EnsureDriverLoaded());
  // Wine's checking heap: with its heap trace channel on, the whole heap is validated at every
  // allocation and free, and a write to a freed block stops the program at the next one.
  char previous[256] = {};
  GetEnvironmentVariableA("WINEDEBUG", previous, sizeof previous);
  SetEnvironmentVariableA("WINEDEBUG", "trace+heap");
  const bool started = app.Start(dir.Path());
  SetEnvironmentVariableA("WINEDEBUG", previous[0] ? previous : nullptr);
  const CCrashDebuggerReaper reaper(app.Process());
  ASSERT_TRUE(started);
  StartProtectionByHand();
  for (int round = 0; round < 2; ++round) {
    for (const auto& dialog : {std::make_pair(IDC_ALERTS, "即时提醒"), std::make_pair(IDC_REMOTE, "远程操作")}) {
      app.Click(dialog.first);
      HWND window = WaitForWindow(app.Process().Pid(), "#32770", dialog.second, 10000);
      ASSERT_NE(nullptr, window) << dialog.second;
      ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));
      PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the title bar's close button
      ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }, 10000)) << dialog.second;
    }
  }
  // Still alive and answering; the heap survives more work (the clicks allocate and free).
  for (int i = 0; i < 3; ++i) {
    app.Click(IDC_ALERTS);
    ASSERT_NE(nullptr, WaitForWindow(app.Process().Pid(), "#32770", "即时提醒", 10000));
  }
  EXPECT_TRUE(app.Process().Running());
  DWORD_PTR result = 0;
  EXPECT_TRUE(SendMessageTimeoutA(app.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result));
  EXPECT_EQ(1u, WindowsOf(app.Process().Pid(), "#32770", "即时提醒").size());  // one of the kind, however often opened
}

TEST_F(MainWindowTest, TrayMenuGreysRestoreWhileShownAndEndsThroughTheExitQuestion) {
  ASSERT_TRUE(app.Start(dir.Path()));
  const auto openMenu = [&] {
    HWND shown = nullptr;  // the visible pop-up menu
    // Right after another program of the session went away, Wine now and then drops a pop-up
    // menu of a hidden window before it shows: the icon is clicked again, as a person would.
    // Each click gets long enough for a busy machine: a second click while the first menu is
    // only slow would open a second menu after it, which would take the next keys.
    for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
      PostMessageA(app.Main(), WM_USER + 2, 0, WM_RBUTTONDOWN);
      WaitFor([&] {
        for (HWND menu : WindowsOf(app.Process().Pid(), "#32768", ""))
          if (IsWindowVisible(menu)) shown = menu;
        return shown != nullptr;
      }, 10000);
    }
    // A menu is drawn before its loop takes keys: keys posted in between are dropped.
    if (shown) Sleep(300);
    return shown;
  };
  CWin32ProfileStore store;
  // Shown: "还原" is greyed, so choosing it does nothing (it would write runtray=0).
  WriteIni(store, kConfigFile, "sysice", "runtray", "1");
  HWND menu = openMenu();
  ASSERT_NE(nullptr, menu);
  MenuKey(menu, VK_DOWN);
  MenuKey(menu, VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }, 5000));
  Sleep(300);
  EXPECT_EQ("1", Config("sysice", "runtray"));
  // The item after the separator is "退出": it asks first; No keeps everything.
  menu = openMenu();
  ASSERT_NE(nullptr, menu);
  MenuKey(menu, VK_DOWN);
  MenuKey(menu, VK_DOWN);
  MenuKey(menu, VK_RETURN);
  EXPECT_EQ("是否真的要停止防护吗?", app.Answer(kQuestion, IDNO));
  EXPECT_TRUE(app.Process().Running());
  // Hidden: "还原" shows the window again.
  app.SysClose();
  app.Answer(kQuestion, IDYES);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(app.Main()); }, 5000));
  // A menu that closed without taking its keys (a busy machine) is opened again.
  bool restored = false;
  for (int attempt = 0; attempt < 3 && !restored; ++attempt) {
    menu = openMenu();
    ASSERT_NE(nullptr, menu);
    MenuKey(menu, VK_DOWN);
    MenuKey(menu, VK_RETURN);
    restored = WaitFor([&] { return IsWindowVisible(app.Main()) != FALSE; }, 5000);
    if (!restored && IsWindowVisible(menu)) MenuKey(menu, VK_ESCAPE);
  }
  EXPECT_TRUE(restored);
  EXPECT_EQ("0", Config("sysice", "runtray"));
}

TEST_F(MainWindowTest, TheShellRestartNoticeKeepsOneIconInItsState) {
  ASSERT_TRUE(EnsureDriverLoaded());
  // Wine cannot hand the icon's id to another process, so the program's test build takes its
  // own icon away when asked, as a restarting shell loses it.
  const std::string eventName = "TavrickTrayDrop" + std::to_string(GetCurrentProcessId());
  HANDLE drop = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
  ASSERT_NE(nullptr, drop);
  CEnvironmentWord word("TAVRICK_HOOK_TRAY_DROP", eventName);
  ASSERT_TRUE(app.Start(dir.Path(), "", ExeDir() + "\\tavrick_hooked.exe"));
  StartProtectionByHand();
  ASSERT_TRUE(WaitFor([] { return TrayIconCount() == 1; }, 5000));
  SetEvent(drop);
  ASSERT_TRUE(WaitFor([] { return TrayIconCount() == 0; }, 5000)) << "the icon did not go";
  // The notice brings the icon back in its current state, once.
  PostMessageA(app.Main(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([] { return TrayIconCount() == 1; }, 5000)) << "the notice did not bring the icon back";
  Sleep(500);
  EXPECT_EQ(1, TrayIconCount());
  EXPECT_EQ(TrayShield::Protecting, ShownTrayShield());
  PostMessageA(app.Main(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);  // with the icon there: still one
  Sleep(500);
  EXPECT_EQ(1, TrayIconCount());
  EXPECT_TRUE(app.Process().Running());
  CloseHandle(drop);
}

}  // namespace
