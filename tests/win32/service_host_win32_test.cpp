// The vendor service found by its setting, end to end: the real program pointed at one stand-in
// service by tavrick.cfg, moved in the alert settings window to another that really delivers
// (ctest fixture DeliveryServiceStart: a real SMTP server, an SMS gateway), then a block by the
// logon guard whose alert must arrive at both as the administrator's mail and SMS.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/resource.h"
#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"

namespace {

// The fixture's folder beside bin/: service/ (the stand-in's data), mail/ and sms/ (what arrived).
const char kDeliveryService[] = "vendor-delivery\\service";
const char kGuesser[] = "203.0.113.60";
const char kPhone[] = "13800138000";
const char kBlockText[] = "IP地址：203.0.113.60,被Tavrick屏蔽，原因:登录失败次数过多(FTP)";

std::string Config(const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, "msg", key);
}

// Every decoded file of a folder the fixture writes (mail\NNN.txt, sms\NNN.txt), joined.
std::string Arrived(const char* folder) {
  return ReadFilesMatching(StandInData("vendor-delivery") + "\\" + folder, "*.txt", "\n--\n");
}

std::string FtpFailures(int count) {
  std::string lines =
      "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n#Date: 2026-12-09 00:00:00\r\n"
      "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method cs-uri-stem sc-status sc-win32-status "
      "sc-substatus x-session x-fullpath\r\n";
  for (int i = 0; i < count; ++i)
    lines += std::string("2026-12-09 01:02:03 ") + kGuesser + " 50123 admin 192.0.2.10 21 PASS *** 530 1326 41 5a8e0c2d-1 -\r\n";
  return lines;
}

TEST(ServiceHostEndToEnd, HostChangedInTheWindowCarriesTheNextBlockAlertToRealMailAndSms) {
  const std::string first = StandInHost();
  const std::string delivering = StandInHost(kDeliveryService);
  ASSERT_FALSE(first.empty()) << "the stand-in vendor service is not running (VendorServiceStart)";
  ASSERT_FALSE(delivering.empty()) << "the delivering stand-in is not running (DeliveryServiceStart)";
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", nullptr);  // the setting alone names the host

  CScratchDir dir;
  const std::string logs = dir.File("ftplogs");
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((logs + "\\FTPSVC2").c_str(), nullptr));
  const std::string mail = "host-" + std::to_string(GetTickCount()) + "@example.com";
  {
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // starts protection by itself
    WriteIni(store, kConfigFile, "msg", "ipfilterchk", "1");
    WriteIni(store, kConfigFile, "msg", "emil", mail);
    WriteIni(store, kConfigFile, "msg", "phone", kPhone);
    WriteIni(store, kConfigFile, "msg", "servicehost", first);
    WriteIni(store, kConfigFile, "logonguard", "enabled", "1");
    WriteIni(store, kConfigFile, "logonguard", "ftp", "1");
    WriteIni(store, kConfigFile, "logonguard", "ftplogfolder", logs);
  }
  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path()));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);

  app.Click(IDC_ALERTS);
  HWND window = WaitForWindow(app.Process().Pid(), "#32770", "即时提醒", 5000);
  ASSERT_NE(nullptr, window);
  char shown[300] = {};
  GetDlgItemTextA(window, IDC_MSG_SERVICE_HOST, shown, sizeof(shown));
  EXPECT_EQ(first, shown);
  auto save = [&](const std::string& host) {
    SetDlgItemTextA(window, IDC_MSG_SERVICE_HOST, host.c_str());
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MSG_SAVE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_MSG_SAVE)));
    return app.Answer(kAppName, IDOK);
  };
  EXPECT_EQ("您输入的服务地址格式错误!", save("127.0.0.1:99999\r\nX: y"));
  EXPECT_EQ(first, Config("servicehost"));
  EXPECT_EQ("保存成功!", save(" " + delivering + " "));
  EXPECT_EQ(delivering, Config("servicehost"));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MSG_CLOSE, BN_CLICKED), 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 5000));

  // No restart: the guard's block of now is alerted through the host just saved.
  const std::string log = logs + "\\FTPSVC2\\u_ex261209.log";
  ASSERT_TRUE(AppendToFile(log, FtpFailures(5)));
  ASSERT_TRUE(WaitUntil([] { return SavedBlockedList().find(kGuesser) != std::string::npos; }, 10000))
      << "blocked list: " << SavedBlockedList();

  // The SMTP server took the mail; its headers and text decode (UTF-8, base64, RFC 2047) to the
  // program's GBK text, Chinese intact.
  std::string mails;
  EXPECT_TRUE(WaitUntil([&] { return (mails = Arrived("mail")).find(mail) != std::string::npos; }, 60000)) << mails;
  EXPECT_NE(std::string::npos, mails.find(std::string("To: ") + mail)) << mails;
  EXPECT_NE(std::string::npos, mails.find("Tavrick提醒您")) << mails;  // the subject: the alert title
  EXPECT_NE(std::string::npos, mails.find(kBlockText)) << mails;
  EXPECT_NE(std::string::npos, mails.find("From: Tavrick 提醒 <alerts@example.com>")) << mails;
  // The gateway took the SMS: the number and "title_text".
  std::string sms;
  EXPECT_TRUE(WaitUntil([&] { return (sms = Arrived("sms")).find(kBlockText) != std::string::npos; }, 60000)) << sms;
  EXPECT_NE(std::string::npos, sms.find(std::string("phone=") + kPhone)) << sms;
  EXPECT_NE(std::string::npos, sms.find("Tavrick提醒您!_IP地址：203.0.113.60")) << sms;
  // The service before the change never heard of it.
  EXPECT_EQ(std::string::npos, StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body.find(mail));
  EXPECT_TRUE(IsWindow(app.Main()));
}

// A value written into the file by hand that is no host: the program talks to the build-time
// host and the day's configuration log says which value was passed over and why.
TEST(ServiceHostEndToEnd, AHostileHostInTheFileFallsBackToTheBuiltInHostAndSaysWhy) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", nullptr);
  CScratchDir dir;
  {
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");
    WriteIni(store, kConfigFile, "msg", "servicehost", "evil_host/x:99999");
  }
  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path()));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
  app.Click(IDC_REMOTE);
  HWND window = WaitForWindow(app.Process().Pid(), "#32770", "远程操作", 5000);
  ASSERT_NE(nullptr, window);
  char address[256] = {};
  GetDlgItemTextA(window, IDC_REMOTE_ADDRESS, address, sizeof(address));
  EXPECT_EQ(std::string("http://127.0.0.1:8086/tavrick/user/index.jsp"), address);

  const std::string log = ConfigLogOf(dir.Path());
  EXPECT_NE(std::string::npos, log.find("服务地址\"evil_host/x:99999\"不可用(端口无效)，使用默认地址127.0.0.1:8086")) << log;
}

}  // namespace
