// The real main window under wine64, with and without the stand-in driver.
#include <gtest/gtest.h>

#include "app/resource.h"
#include "app/version.h"
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
  ASSERT_TRUE(app.Start(dir.Path()));
  for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
    PostMessageA(app.Main(), WM_KEYDOWN, key, 0);
    PostMessageA(GetDlgItem(app.Main(), IDC_STOP), WM_KEYDOWN, key, 0);
  }
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 1000)) << "Enter must not press the default button";
  EXPECT_TRUE(app.Process().Running());
  EXPECT_TRUE(IsWindowVisible(app.Main()));
}

}  // namespace
