// The logon guard's window in the real program, opened from the main window: without a guard
// (the settings of the configuration file) and with the hooked build's recording guard.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/resource.h"
#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "foreign_list_view_win32.h"
#include "scratch_dir_win32.h"
#include "tavrick_session_win32.h"

namespace {

std::string Config(const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, "logonguard", key);
}

class LogonGuardWindowTest : public ::testing::Test {
 protected:
  // Starts the program (protection off) and opens the window with its button.
  void Open(const std::string& exe = "") {
    ASSERT_TRUE(app.Start(dir.Path(), "", exe));
    app.Click(IDC_LOGON_GUARD);
    window = WaitForWindow(app.Process().Pid(), "#32770", "登录防护", 10000);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  }
  HWND Control(int id) const { return GetDlgItem(window, id); }
  std::string Text(int id) const {
    char text[512] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
  }
  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetText(int id, const std::string& text) {
    SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  // "保存" and the notice it gives.
  std::string Save() {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_LG_SAVE, BN_CLICKED), reinterpret_cast<LPARAM>(Control(IDC_LG_SAVE)));
    return app.Answer(kAppName, IDOK);
  }
  std::vector<std::vector<std::string>> Rows() const { return ForeignListRows(Control(IDC_LG_LIST), 6); }

  CScratchDir dir;
  CTavrickSession app;
  HWND window = nullptr;
};

TEST_F(LogonGuardWindowTest, WithoutAGuardShowsAndSavesTheConfigurationFile) {
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "logonguard", "enabled", "1");
  WriteIni(store, kConfigFile, "logonguard", "sqlserver", "0");
  WriteIni(store, kConfigFile, "logonguard", "threshold", "8");
  WriteIni(store, kConfigFile, "logonguard", "period", "20");
  WriteIni(store, kConfigFile, "logonguard", "duration", "5分钟");
  WriteIni(store, kConfigFile, "logonguard", "ftplogfolder", "E:\\ftp");
  Open();
  EXPECT_TRUE(Checked(IDC_LG_ENABLED));
  EXPECT_TRUE(Checked(IDC_LG_EVENTLOG));
  EXPECT_FALSE(Checked(IDC_LG_SQLSERVER));
  EXPECT_TRUE(Checked(IDC_LG_FTP));
  EXPECT_EQ("8", Text(IDC_LG_THRESHOLD));
  EXPECT_EQ("20", Text(IDC_LG_PERIOD));
  EXPECT_EQ("5分钟", Text(IDC_LG_DURATION));
  EXPECT_EQ(8, SendMessageA(Control(IDC_LG_DURATION), CB_GETCOUNT, 0, 0));
  EXPECT_EQ("E:\\ftp", Text(IDC_LG_FOLDER));
  EXPECT_EQ("未运行(启动防护后开始)", Text(IDC_LG_FTP_STATUS));
  EXPECT_TRUE(Rows().empty());

  SetText(IDC_LG_THRESHOLD, "1000");
  EXPECT_EQ("失败次数必须是2到100之间的数字!", Save());
  EXPECT_EQ("8", Config("threshold"));
  // Saved, and said so honestly: no guard runs before protection starts.
  EXPECT_FALSE(Checked(IDC_LG_BLOCKINTERNAL));
  SetText(IDC_LG_THRESHOLD, "9");
  SendMessageA(Control(IDC_LG_BLOCKINTERNAL), BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ("设置已保存,登录防护未运行(启动防护后开始)。", Save());
  EXPECT_EQ("9", Config("threshold"));
  EXPECT_EQ("0", Config("sqlserver"));
  EXPECT_EQ("5分钟", Config("duration"));
  EXPECT_EQ("1", Config("blockinternal"));
  SendMessageA(Control(IDC_LG_ENABLED), BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_EQ("设置已保存,登录防护未开启。", Save());
  EXPECT_EQ("0", Config("enabled"));
}

TEST_F(LogonGuardWindowTest, ShowsTheGuardsRowsAndStatesAndSavesOnlyGoodValues) {
  SetEnvironmentVariableA("TAVRICK_HOOK_LOGON_GUARD", "logon-guard.txt");  // in the program's folder
  Open(ExeDir() + "\\tavrick_hooked.exe");
  SetEnvironmentVariableA("TAVRICK_HOOK_LOGON_GUARD", nullptr);
  const std::string record = dir.File("logon-guard.txt");
  EXPECT_EQ("6", Text(IDC_LG_THRESHOLD));
  EXPECT_EQ("15", Text(IDC_LG_PERIOD));
  EXPECT_EQ("24小时", Text(IDC_LG_DURATION));
  EXPECT_EQ("D:\\ftplogs", Text(IDC_LG_FOLDER));
  EXPECT_FALSE(Checked(IDC_LG_SQLSERVER));
  ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 5; }, 5000));
  const auto rows = Rows();
  EXPECT_EQ((std::vector<std::string>{"203.0.113.50", "FTP", "administrator,admin", "5"}),
            std::vector<std::string>(rows[0].begin(), rows[0].begin() + 4));
  EXPECT_EQ("已封锁", rows[0][5]);
  EXPECT_EQ("例外未封锁", rows[1][5]);
  EXPECT_EQ("远程桌面", rows[1][1]);
  EXPECT_EQ("2001:db8::7", rows[2][0]);
  EXPECT_EQ("未封锁(IPv6)", rows[2][5]);
  EXPECT_EQ("未封锁", rows[3][5]);
  EXPECT_EQ("内网未封锁", rows[4][5]);
  EXPECT_EQ(19u, rows[0][4].size());  // "YYYY-MM-DD HH:MM:SS" in local time
  EXPECT_EQ("无法读取:事件日志不可用", Text(IDC_LG_EVENTLOG_STATUS));
  EXPECT_EQ("正在监视", Text(IDC_LG_FTP_STATUS));
  EXPECT_NE(std::string::npos, Text(IDC_LG_NOTE).find("IPv6"));

  // Hostile values: refused with a message, nothing reaches the guard.
  SetText(IDC_LG_THRESHOLD, "0");
  EXPECT_EQ("失败次数必须是2到100之间的数字!", Save());
  SetText(IDC_LG_THRESHOLD, "1000");
  EXPECT_EQ("失败次数必须是2到100之间的数字!", Save());
  SetText(IDC_LG_THRESHOLD, "7");
  SetText(IDC_LG_FOLDER, "C:\\inetpub\\..\\Windows");
  EXPECT_NE(std::string::npos, Save().find("FTP日志目录"));
  EXPECT_FALSE(FileExists(record));

  // A good save hands every value over, and the table follows the guard.
  SetText(IDC_LG_FOLDER, "C:\\inetpub\\logs\\LogFiles");
  SetText(IDC_LG_PERIOD, "30");
  SendMessageA(Control(IDC_LG_DURATION), CB_SETCURSEL, 7, 0);  // "永远"
  SendMessageA(Control(IDC_LG_SQLSERVER), BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ("保存成功!", Save());
  EXPECT_EQ(
      "save enabled=1 eventlog=1 sqlserver=1 ftp=1 threshold=7 period=30 duration=永远 "
      "ftplogfolder=C:\\inetpub\\logs\\LogFiles blockinternal=0\n",
      ReadWholeFile(record));
  EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 5 && Rows()[0][3] == "6"; }, 5000));
  // Nothing of the guard's settings went to the configuration file from the window itself.
  EXPECT_EQ("", Config("threshold"));
}

}  // namespace
