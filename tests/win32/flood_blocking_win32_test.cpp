// The road of one flood, end to end: the real program, the stand-in driver carrying injected
// traffic, the stand-in vendor service receiving the alert.
#include <gtest/gtest.h>

#include "common/resource.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"

namespace {

const char kAttacker[] = "203.0.113.7";
const char kFriend[] = "198.51.100.9";  // an exception: floods too, never blocked


TEST(FloodBlockingEndToEnd, FloodingAddressIsBlockedEnforcedAndReported) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  const std::string base = StandInBase();
  ASSERT_FALSE(base.empty()) << "the stand-in vendor service is not running";
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", StandInHost().c_str());

  CScratchDir dir;
  CWin32ProfileStore store;
  const std::string mail = "flood-" + std::to_string(GetTickCount()) + "@example.com";
  WriteIni(store, kConfigFile, "sysice", "sysiceipcount", "100");
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");  // starts protection by itself
  WriteIni(store, kConfigFile, "msg", "ipfilterchk", "1");
  WriteIni(store, kConfigFile, "msg", "emil", mail);
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", kFriend);
  // Blocks kept from an earlier run: loaded at the start, they are no flood to report.
  std::string loaded;
  for (int i = 1; i <= 50; ++i) loaded += (i > 1 ? "," : "") + ("10.0.1." + std::to_string(i)) + "|0|永远";
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", loaded);

  // The program with its statistics window at 10 s (90 s at the default display delay) and the
  // blocked-IP window's rebuild and alert timers at 2 s and 4 s (20 s and 40 s).
  CEnvironmentWord flood("TAVRICK_HOOK_FLOOD_MS", "10000");
  CEnvironmentWord list("TAVRICK_HOOK_LIST_MS", "2000");
  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path(), "", ExeDir() + "\\tavrick_hooked.exe"));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 30000)) << app.Label(IDC_STATE);
  ASSERT_TRUE(InjectPackets(Flood(kAttacker, 300)));
  ASSERT_TRUE(InjectPackets(Flood(kFriend, 300)));

  // One statistics window plus a 3-second tick (a window may end between the two floods: the
  // next one then counts them whole).
  ASSERT_TRUE(WaitUntil([] { return SavedBlockedList().find(kAttacker) != std::string::npos; }, 60000))
      << "blocked list: " << SavedBlockedList();
  EXPECT_EQ(loaded + "," + kAttacker + "|0|5分钟|0", SavedBlockedList());  // automatic: matched exactly
  EXPECT_TRUE(DriverBlocks(kAttacker));
  EXPECT_FALSE(DriverBlocks(kFriend));
  // The statistics window runs on the traffic monitor's chart page, which was never shown.
  const HWND monitor = app.FindWindowTitled("监视数据");
  ASSERT_NE(nullptr, monitor);
  EXPECT_FALSE(IsWindowVisible(monitor));

  uint32_t recorded = 0, dropped = 0;
  ASSERT_TRUE(InjectPackets(Flood(kAttacker, 10), &recorded, &dropped));
  EXPECT_EQ(10u, dropped);
  ASSERT_TRUE(InjectPackets(Flood(kFriend, 10), &recorded, &dropped));
  EXPECT_EQ(0u, dropped);
  // Its 0 octet is no wildcard: the neighbours in 203.*.113.7 still get through.
  ASSERT_TRUE(InjectPackets(Flood("203.9.113.7", 10), &recorded, &dropped));
  EXPECT_EQ(0u, dropped);

  // The automatic-block alert goes out on the blocked-IP window's alert timer, once the list's
  // rebuild shows the new row.
  std::string outbox;
  EXPECT_TRUE(WaitUntil([&] {
    outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
    return outbox.find(mail) != std::string::npos;
  }, 45000)) << outbox.substr(0, 400);
  // The alert lists addresses in list form: an automatic entry's 0 octet shows as "0".
  // It names the new address only, none of the fifty loaded ones.
  EXPECT_NE(std::string::npos, outbox.find("IP地址：203.0.113.7,被Tavrick屏蔽"));
  EXPECT_EQ(std::string::npos, outbox.find("10.0.1."));
  EXPECT_EQ(std::string::npos, SavedBlockedList().find(kFriend));
}

}  // namespace
