// The blocked-IP window and its exception window in the real program, against the stand-in
// driver: the controls as an administrator uses them, every message, and what the driver holds.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>

#include "common/resource.h"
#include "common/version.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "process_driver_win32.h"
#include "remote_list_view_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"

namespace {

const char kLoaded[] = "1.1.1.1|0|永远,2.2.2.2|0|永远,3.3.3.3|0|永远,4.4.4.4|0|永远,5.5.5.5|0|永远";
const int kRadios[] = {IDC_IPF_1MIN,    IDC_IPF_5MIN,   IDC_IPF_10MIN,  IDC_IPF_1HOUR,
                       IDC_IPF_24HOURS, IDC_IPF_1MONTH, IDC_IPF_FOREVER};

std::string Config(const char* section, const char* key) {
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, section, key);
}

// One TCP packet from outside to a port of the server; true when the driver dropped it.
bool Dropped(const char* from, uint16_t port) {
  CInjectPacket packet;
  packet.dwSrcIP = InetAddr(from);
  packet.dwDstIP = InetAddr("192.0.2.200");
  packet.wSrcPort = 40000;
  packet.wDstPort = port;
  uint32_t recorded = 0, dropped = 0;
  return InjectPackets({packet}, &recorded, &dropped) && dropped == 1;
}

bool DriverHolds(uint32_t ip, uint32_t port) {
  CDriverCounters counters;
  if (!ReadCounters(&counters)) return false;
  for (const auto& entry : counters.blocked)
    if (GetLe32(entry.data()) == ip && GetLe32(entry.data() + 4) == port) return true;
  return false;
}

class IpFilterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureDriverLoaded());
    ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // protection starts by itself
    WriteIni(store, kConfigFile, "sysice", "sysicetimer", "30分钟");
    WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", kLoaded);
    ASSERT_TRUE(app.Start(dir.Path()));
    ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
    app.Click(IDC_DDOS);
    window = app.FindWindowTitled("被屏蔽IP列表");
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  }
  void TearDown() override { ResetDriver(kResetPackets | kResetTables); }

  HWND Control(int id) const { return GetDlgItem(window, id); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetText(int id, const char* text) { SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
  void SetAddress(BYTE a, BYTE b, BYTE c, BYTE d) {
    SendMessageA(Control(IDC_IPF_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
  }
  // A check box as a click toggles it (no message box follows).
  void Toggle(int id) {
    const bool before = Checked(id);
    PostMessageA(Control(id), BM_CLICK, 0, 0);
    WaitUntil([&] { return Checked(id) != before; }, 3000);
  }
  // A push button of the window; what it shows is read with Box().
  void Press(int id) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id))); }
  std::string Box() { return app.Answer(kAppName, IDOK); }
  CRemoteListView List() const { return CRemoteListView(Control(IDC_IPF_LIST)); }

  CScratchDir dir;
  CTavrickSession app;
  HWND window = nullptr;
};

TEST_F(IpFilterWindowTest, ManualBlockReleasesSettingsAndTheExceptionWindow) {
  // As created: the loaded list, no radio for "30分钟", the manual fields off.
  EXPECT_EQ((std::vector<std::string>{"1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4", "5.5.5.5"}), List().Column(1));
  for (int id : kRadios) EXPECT_FALSE(Checked(id)) << id;
  EXPECT_EQ(8, SendMessageA(Control(IDC_IPF_DURATION), CB_GETCOUNT, 0, 0));
  EXPECT_EQ(0, SendMessageA(Control(IDC_IPF_DURATION), CB_GETCURSEL, 0, 0));
  for (int id : {IDC_IPF_ADDRESS, IDC_IPF_PORT, IDC_IPF_DURATION, IDC_IPF_ADD}) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_FALSE(IsWindowVisible(Control(IDC_IPF_PICTURE)));
  EXPECT_TRUE(Checked(IDC_IPF_AUTOSCROLL));
  RECT client = {};
  GetClientRect(Control(IDC_IPF_LIST), &client);
  const int widths[] = {30, client.right - 170, 60, 80, 0, 0};
  for (int c = 0; c < 6; ++c)
    EXPECT_EQ(widths[c], SendMessageA(Control(IDC_IPF_LIST), LVM_GETCOLUMNWIDTH, c, 0)) << "column " << c;

  // The enabling rule of the two boxes; the picture only with both.
  Toggle(IDC_IPF_CHOOSE_PORT);
  EXPECT_TRUE(Enabled(IDC_IPF_PORT) && Enabled(IDC_IPF_DURATION) && Enabled(IDC_IPF_ADD));
  EXPECT_FALSE(Enabled(IDC_IPF_ADDRESS));
  Toggle(IDC_IPF_CHOOSE_IP);
  EXPECT_TRUE(IsWindowVisible(Control(IDC_IPF_PICTURE)));
  Toggle(IDC_IPF_CHOOSE_IP);
  EXPECT_FALSE(IsWindowVisible(Control(IDC_IPF_PICTURE)));
  Toggle(IDC_IPF_CHOOSE_PORT);
  EXPECT_FALSE(Enabled(IDC_IPF_ADD) || Enabled(IDC_IPF_DURATION));
  Toggle(IDC_IPF_CHOOSE_PORT);

  // "指定PORT" alone: every address, that port only.
  SendMessageA(Control(IDC_IPF_DURATION), CB_SETCURSEL, 5, 0);  // "24小时": nothing expires meanwhile
  SetText(IDC_IPF_PORT, "3389");
  Press(IDC_IPF_ADD);
  ASSERT_TRUE(WaitUntil([&] { return List().Count() == 6; }, 5000));
  EXPECT_EQ("*.*.*.*", List().Text(5, 1));
  EXPECT_EQ("3389", List().Text(5, 2));
  EXPECT_TRUE(DriverHolds(0, Htons(3389)));
  EXPECT_TRUE(Dropped("203.0.113.50", 3389));
  EXPECT_FALSE(Dropped("203.0.113.50", 80));

  // The refusals, each with its message; Enter in the port field adds too.
  SetText(IDC_IPF_PORT, "0");
  Press(IDC_IPF_ADD);
  EXPECT_EQ("ip地址和port不能全为0,请输入IP和port值!", Box());
  SetText(IDC_IPF_PORT, "8a");
  Press(IDC_IPF_ADD);
  EXPECT_EQ("port值必须是数字!", Box());
  SetText(IDC_IPF_PORT, "");
  PostMessageA(Control(IDC_IPF_PORT), WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ("port值必须是数字!", Box());
  Toggle(IDC_IPF_CHOOSE_IP);
  SetAddress(127, 0, 0, 1);
  SetText(IDC_IPF_PORT, "0");
  Press(IDC_IPF_ADD);
  EXPECT_EQ("添加失败!导致原因:此IP已在例外中,已经屏蔽IP,加入IP是本地IP。", Box());
  SetAddress(0, 1, 2, 3);
  Press(IDC_IPF_ADD);
  ASSERT_TRUE(WaitUntil([&] { return List().Count() == 7; }, 5000));
  EXPECT_EQ("*.1.2.3", List().Text(6, 1));

  // Releasing row 3 selects row 2.
  ASSERT_TRUE(List().Click(3));
  ASSERT_TRUE(WaitUntil([&] { return List().Selected() == 3; }, 3000));
  Press(IDC_IPF_RELEASE);
  ASSERT_TRUE(WaitUntil([&] { return List().Count() == 6; }, 5000));
  EXPECT_EQ(2, List().Selected());
  // Saved with the next second's write of the blocked list.
  const std::string listed =
      "1.1.1.1|0|永远,2.2.2.2|0|永远,3.3.3.3|0|永远,5.5.5.5|0|永远,0.0.0.0|3389|24小时,0.1.2.3|0|24小时";
  EXPECT_TRUE(WaitUntil([&] { return Config("ipfilter", "ipfilterlst") == listed; }, 5000))
      << Config("ipfilter", "ipfilterlst");

  // A clicked row stays selected through the 20-second rebuild; the rebuild resets a widened
  // hidden column, which tells when it has come.
  ASSERT_TRUE(List().Click(1));
  ASSERT_TRUE(WaitUntil([&] { return List().Selected() == 1; }, 3000));
  SendMessageA(Control(IDC_IPF_LIST), LVM_SETCOLUMNWIDTH, 4, 40);

  // Meanwhile the exception window: its messages, and one window shown again.
  Press(IDC_IPF_OUTER);
  HWND outer = WaitForWindow(app.Process().Pid(), "#32770", "添加例外IP", 5000);
  ASSERT_NE(nullptr, outer);
  // The dialog is found by its caption as soon as it exists, which may be before its controls.
  EXPECT_TRUE(WaitUntil([&] { return (GetWindowLongA(GetDlgItem(outer, IDC_IPO_ADD), GWL_STYLE) & BS_OWNERDRAW) != 0; }, 5000));
  auto addException = [&](BYTE a, BYTE b, BYTE c, BYTE d) {
    SendMessageA(GetDlgItem(outer, IDC_IPO_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
    PostMessageA(outer, WM_COMMAND, MAKEWPARAM(IDC_IPO_ADD, BN_CLICKED), 0);
  };
  CRemoteListView exceptions(GetDlgItem(outer, IDC_IPO_LIST));
  addException(192, 168, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return exceptions.Count() == 1; }, 5000));
  EXPECT_EQ("192.168.*.*", exceptions.Text(0, 1));
  addException(192, 168, 1, 5);
  EXPECT_EQ("例外中已存在IP!", Box());
  addException(1, 1, 1, 1);
  EXPECT_EQ("IP已被冻结,请先解除再添加到例外中!", Box());
  PostMessageA(outer, WM_COMMAND, MAKEWPARAM(IDC_IPO_DELETE, BN_CLICKED), 0);
  EXPECT_EQ("请选择要删除的IP!", Box());
  EXPECT_EQ("192.168.0.0", Config("ipouter", "ipouterlst"));
  PostMessageA(outer, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(outer); }, 3000));
  Press(IDC_IPF_OUTER);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(outer) != FALSE; }, 3000));
  EXPECT_EQ(1u, WindowsOf(app.Process().Pid(), "#32770", "添加例外IP").size());
  EXPECT_EQ(1, exceptions.Count());

  ASSERT_TRUE(WaitUntil([&] { return SendMessageA(Control(IDC_IPF_LIST), LVM_GETCOLUMNWIDTH, 4, 0) == 0; }, 30000));
  EXPECT_EQ((std::vector<std::string>{"0", "1", "2", "3", "4", "5"}), List().Column(0));
  EXPECT_EQ(1, List().Selected());
  EXPECT_EQ("2.2.2.20", List().Text(1, 4));
  // The main window's count follows the list (its own 20-second refresh).
  EXPECT_TRUE(app.WaitLabel(IDC_FILTER_COUNT, "6个", 25000)) << app.Label(IDC_FILTER_COUNT);

  // Settings: both digit checks, then the save; no radio is checked, so the duration in the
  // file is kept and the box says so.
  SetText(IDC_IPF_COUNT, "1a");
  Press(IDC_IPF_SAVE);
  EXPECT_EQ("访问次数必须输入数字", Box());
  SetText(IDC_IPF_COUNT, "100");
  SetText(IDC_IPF_MB, "");
  PostMessageA(Control(IDC_IPF_COUNT), WM_KEYDOWN, VK_RETURN, 0);  // Enter in the access field saves
  EXPECT_EQ("被下载 流量必须输入数字", Box());
  PostMessageA(Control(IDC_IPF_MB), WM_KEYDOWN, VK_RETURN, 0);  // Enter in the megabyte field: nothing
  EXPECT_EQ(nullptr, app.WaitBox(kAppName, 1500));
  SetText(IDC_IPF_MB, "2");
  Press(IDC_IPF_SAVE);
  EXPECT_EQ("保存完毕!未选择屏蔽时间,自动屏蔽时间仍为30分钟。", Box());
  EXPECT_EQ("30分钟", Config("sysice", "sysicetimer"));
  EXPECT_EQ("100", Config("sysice", "sysiceipcount"));
  EXPECT_EQ("2", Config("sysice", "sysiceipmb"));

  Press(IDC_IPF_RELEASE_ALL);
  EXPECT_EQ("全部解除成功!", Box());
  EXPECT_EQ(0, List().Count());
  EXPECT_FALSE(Dropped("203.0.113.50", 3389));
}

}  // namespace
