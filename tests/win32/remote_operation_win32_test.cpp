// Remote operation in the real program (the test build tavrick_hooked.exe, whose remote check
// runs every 1.5 s instead of 120 s and whose reboot ends nothing and reboots nothing but writes
// down what it would do), against the stand-in driver and the stand-in vendor service.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "alerts/machine_id_win32.h"
#include "alerts/service_client.h"
#include "alerts/service_status.h"
#include "alerts/status_mutex_win32.h"
#include "alerts/wininet_http_win32.h"
#include "common/resource.h"
#include "common/version.h"
#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "config/settings.h"
#include "remote/md5.h"
#include "remote/remote_settings.h"
#include "process_driver_win32.h"
#include "remote_list_view_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"

namespace {

const char kLoaded[] = "1.1.1.1|0|永远,2.2.2.2|0|永远,3.3.3.3|0|永远";
const char kPortsLog[] = "remote-ports.log";

std::string Config(const char* section, const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, section, key);
}

size_t DriverBlocks() {
  CDriverCounters counters;
  return ReadCounters(&counters) ? counters.blocked.size() : 999;
}

// The program's machine id: the same call with the same first own address it uses.
std::string ProgramMachineId() {
  std::string first = "127.0.0.1";
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  char name[256] = {};
  if (gethostname(name, sizeof(name)) == 0)
    if (const hostent* host = gethostbyname(name))
      if (host->h_addr_list[0]) {
        in_addr address;
        std::memcpy(&address, host->h_addr_list[0], sizeof(address));
        first = inet_ntoa(address);
      }
  WSACleanup();
  return ReadMachineId(first);
}

class RemoteOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = StandInBase();
    ASSERT_FALSE(base.empty()) << "the stand-in vendor service is not running (ctest fixture VendorServiceStart)";
    ASSERT_TRUE(EnsureDriverLoaded());
    ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // protection starts by itself
    WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", kLoaded);
    // The service hands a request only to a poll from the address the machine's heartbeats
    // come from: this test beats for the program (same machine, same address).
    CreateStatusMutex();
    g_strMachineId = ProgramMachineId();
    mac = g_strMachineId.substr(0, g_strMachineId.find('\n'));
  }
  void TearDown() override { ResetDriver(kResetPackets | kResetTables); }

  void StartProtecting() {
    ASSERT_TRUE(app.Start(dir.Path(), "", ExeDir() + "\\tavrick_hooked.exe"));
    ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
    app.Click(IDC_DDOS);
    blocked = app.FindWindowTitled("被屏蔽IP列表");
    ASSERT_NE(nullptr, blocked);
    ASSERT_TRUE(WaitUntil([&] { return Rows() == 3 && DriverBlocks() == 3; }, 10000));
  }
  int Rows() const { return CRemoteListView(GetDlgItem(blocked, IDC_IPF_LIST)).Count(); }

  // A request entered on the service's remote page.
  void Request(const std::string& password, bool reboot, bool release) {
    CServiceClient client(http, clock, lock, settings, base);
    client.Heartbeat(client.Contact());
    std::string form = "mac=" + mac + "&password=" + password + "&replace=1";
    if (reboot) form += "&reboot=1";
    if (release) form += "&release=1";
    const StandInAnswer page = StandInAdmin("/tavrick/user/index.jsp", form);
    ASSERT_EQ(200u, page.status) << page.body;
  }
  // The request was handed to a poll: the service has none left for this machine.
  bool Taken() { return http.FetchUrl(base + "/tavrick/user/code.jsp?mac=" + mac + "&rad=1").empty(); }
  std::string PortsLog() {
    std::ifstream in(dir.Path() + "\\" + kPortsLog);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string base, mac;
  CScratchDir dir;
  CEnvironmentWord host{"TAVRICK_SERVICE_HOST", StandInHost()};
  CEnvironmentWord period{"TAVRICK_HOOK_REMOTE_MS", "1500"};
  CEnvironmentWord ports{"TAVRICK_HOOK_REMOTE_PORTS", kPortsLog};
  CTavrickSession app;
  HWND blocked = nullptr;
  CWinInetHttp http;
  CSystemClock clock;
  CWin32StatusLock lock;
  CSettings settings;
};

TEST_F(RemoteOperationTest, PasswordSetInTheWindowThenReleaseAllFromThePage) {
  StartProtecting();
  app.Click(IDC_REMOTE);
  HWND window = WaitForWindow(app.Process().Pid(), "#32770", "远程操作", 5000);
  ASSERT_NE(nullptr, window);
  char address[256] = {};
  GetDlgItemTextA(window, IDC_REMOTE_ADDRESS, address, sizeof(address));
  EXPECT_EQ(base + "/tavrick/user/index.jsp", address);
  auto save = [&](const char* password, const char* repeated) {
    SetDlgItemTextA(window, IDC_REMOTE_PASSWORD, password);
    SetDlgItemTextA(window, IDC_REMOTE_REPEAT, repeated);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_REMOTE_SAVE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_REMOTE_SAVE)));
    return app.Answer(kAppName, IDOK);
  };
  EXPECT_EQ(remotemsg::kNotEnabled, save("secret one", "secret one"));
  PostMessageA(GetDlgItem(window, IDC_REMOTE_ENABLE), BM_CLICK, 0, 0);
  EXPECT_EQ(remotemsg::kTooShort, save(" abcd ", " abcd "));
  EXPECT_EQ(remotemsg::kMismatch, save("secret one", "secret 1"));
  EXPECT_EQ("", Config("remote", "remotepassw"));
  EXPECT_EQ(remotemsg::kSaved, save("secret one", "secret one"));
  EXPECT_EQ(MD5Text("secret one"), Config("remote", "remotepassw"));

  Request("secret%20one", false, true);
  // Polled on one tick, carried out on the next.
  EXPECT_TRUE(WaitUntil([&] { return Rows() == 0 && DriverBlocks() == 0 && Config("ipfilter", "ipfilterlst").empty(); },
                      20000))
      << Rows() << " rows, " << DriverBlocks() << " in the driver";
  EXPECT_EQ("", PortsLog());  // nothing asked for a reboot
}

TEST_F(RemoteOperationTest, AWrongPasswordChangesNothingAndTheRebootGoesThroughThePorts) {
  {
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "remote", "remotepassw", MD5Text("secret one"));
  }
  StartProtecting();
  Request("secret%20two", true, true);
  ASSERT_TRUE(WaitUntil([&] { return Taken(); }, 20000));
  Sleep(3500);  // two more ticks: the request was checked and dropped
  EXPECT_EQ(3, Rows());
  EXPECT_EQ(3u, DriverBlocks());
  EXPECT_EQ(kLoaded, Config("ipfilter", "ipfilterlst"));
  EXPECT_EQ("", PortsLog());

  Request("%20secret%20one%20", true, false);  // blanks around it: trimmed before hashing
  ASSERT_TRUE(WaitUntil([&] { return PortsLog().find("reboot") != std::string::npos; }, 20000));
  const std::string log = PortsLog();
  EXPECT_EQ(log.size() - std::strlen("reboot\n"), log.rfind("reboot\n")) << log;  // the reboot comes last
  // Never this program, the shell, nor the system's and Wine's own processes.
  EXPECT_EQ(std::string::npos, log.find("end " + std::to_string(app.Process().Pid()) + " ")) << log;
  std::string lower = log;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(std::string::npos, lower.find("c:\\windows\\")) << log;
  EXPECT_EQ(std::string::npos, lower.find("tavrick_hooked.exe")) << log;
  EXPECT_EQ(std::string::npos, lower.find("explorer.exe")) << log;
  // This test is an ordinary program of the same administrator: the real reboot would end it.
  EXPECT_NE(std::string::npos, log.find("end " + std::to_string(GetCurrentProcessId()) + " ")) << log;
  EXPECT_TRUE(app.Process().Running());
  EXPECT_EQ(3, Rows());  // release was not asked for
  EXPECT_EQ(3u, DriverBlocks());
}

}  // namespace

namespace {

TEST_F(RemoteOperationTest, AlertWindowShowsTheBalanceChecksTheChannelsAndSaves) {
  ASSERT_EQ("25,30", StandInAdmin("/tavrick/admin/account", "mac=" + mac + "&sms=25&days=30").body);
  {
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "msg", "ipfilterchk", "1");
    WriteIni(store, kConfigFile, "msg", "emil", "old@example.com");
  }
  StartProtecting();
  app.Click(IDC_ALERTS);
  HWND window = WaitForWindow(app.Process().Pid(), "#32770", "即时提醒", 5000);
  ASSERT_NE(nullptr, window);
  auto text = [&](int id) {
    char value[256] = {};
    GetDlgItemTextA(window, id, value, sizeof(value));
    return std::string(value);
  };
  auto checked = [&](int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; };
  auto click = [&](int id) {
    const bool before = checked(id);
    PostMessageA(GetDlgItem(window, id), BM_CLICK, 0, 0);
    WaitUntil([&] { return checked(id) != before; }, 3000);
  };
  auto save = [&] {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MSG_SAVE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_MSG_SAVE)));
    return app.Answer(kAppName, IDOK);
  };
  auto readOnly = [&](int id) { return (GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & ES_READONLY) != 0; };

  EXPECT_TRUE(WaitUntil([&] { return text(IDC_MSG_SMS_COUNT) == "共25条"; }, 5000)) << text(IDC_MSG_SMS_COUNT);
  EXPECT_TRUE(checked(IDC_MSG_IPFILTER));
  EXPECT_FALSE(checked(IDC_MSG_CPU));
  EXPECT_TRUE(checked(IDC_MSG_EMAIL_ON));
  EXPECT_EQ("old@example.com", text(IDC_MSG_EMAIL));
  EXPECT_FALSE(checked(IDC_MSG_SMS_ON));
  EXPECT_TRUE(readOnly(IDC_MSG_PHONE));

  click(IDC_MSG_CPU);
  click(IDC_MSG_SMS_ON);
  EXPECT_FALSE(readOnly(IDC_MSG_PHONE));
  SetDlgItemTextA(window, IDC_MSG_PHONE, "1380013800");
  EXPECT_EQ("您输入的移动电话格式错误!", save());
  EXPECT_EQ("1", Config("msg", "cpuchk"));  // the switches are saved before the addresses
  EXPECT_EQ("", Config("msg", "phone"));
  SetDlgItemTextA(window, IDC_MSG_PHONE, "13800138000");
  EXPECT_EQ("保存成功!", save());
  EXPECT_EQ("13800138000", Config("msg", "phone"));
  EXPECT_EQ("old@example.com", Config("msg", "emil"));

  click(IDC_MSG_EMAIL_ON);  // unticked: emptied and locked; the save writes no address
  EXPECT_EQ("", text(IDC_MSG_EMAIL));
  EXPECT_TRUE(readOnly(IDC_MSG_EMAIL));
  EXPECT_EQ("保存成功!", save());
  EXPECT_EQ("", Config("msg", "emil"));
  EXPECT_TRUE(IsWindow(window));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_MSG_CLOSE, BN_CLICKED), 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 5000));
}

}  // namespace
