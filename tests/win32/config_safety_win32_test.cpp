// The configuration file against the real program under wine64: damaged files come back from
// the good copy at start, long lists survive a protected start, and killing the protecting
// program at random moments loses nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "common/resource.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"

namespace {

// What the program's files hold, read with the system's own functions (no restore, no copy).
std::string Raw(const char* section, const char* key) {
  CWin32ProfileFunctions profile;
  return profile.Get(kConfigFile, section, key);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  CWin32ConfigFiles files;
  ASSERT_TRUE(files.WriteThrough(path, bytes)) << path;
}

const char kList[] = "203.0.113.7|0|5分钟|0,61.135.0.0|80|24小时,8.8.8.8|0|永远";
const char kOuters[] = "192.168.0.0,10.0.0.5";

std::string GoodFile() {
  return std::string("[sysice]\r\nsysicetimer=1小时\r\nsysiceipcount=500\r\nruntray=1\r\nonlinetime=0\r\n") +
         "[ipouter]\r\nipouterlst=" + kOuters + "\r\n[msg]\r\nemil=admin@example.com\r\n" +
         "[ipfilter]\r\nipfilterlst=" + kList + "\r\n";
}

TEST(ConfigSafety, AnEmptyCutOrSectionlessFileIsRestoredFromTheGoodCopyAtStart) {
  const std::string good = GoodFile();
  const std::string damaged[] = {"", good.substr(0, good.size() - 25), "sysicetimer=5分钟\r\nonlinetime=0\r\n"};
  for (const std::string& bytes : damaged) {
    SCOPED_TRACE(bytes.size());
    CScratchDir dir;
    WriteFileBytes(dir.File("tavrick.cfg.bak"), good);
    WriteFileBytes(dir.File("tavrick.cfg"), bytes);
    CTavrickSession app;
    ASSERT_TRUE(app.Start(dir.Path()));
    EXPECT_EQ(kList, Raw("ipfilter", "ipfilterlst"));
    EXPECT_EQ(kOuters, Raw("ipouter", "ipouterlst"));
    EXPECT_EQ("admin@example.com", Raw("msg", "emil"));
    EXPECT_EQ("500", Raw("sysice", "sysiceipcount"));
    // Restored before the load read anything: the load's one-shot write of runtray came after.
    EXPECT_EQ("0", Raw("sysice", "runtray"));
    EXPECT_NE(std::string::npos, ConfigLogOf(dir.Path()).find("已从tavrick.cfg.bak恢复")) << ConfigLogOf(dir.Path());
    EXPECT_EQ(!bytes.empty(), FileExists(dir.File("tavrick.cfg.damaged")));
    // The next case's program starts only once this one is gone, windows and all.
    ASSERT_TRUE(app.Process().End(15000));
  }
}

TEST(ConfigSafety, AListPastTenKilobytesSurvivesAProtectedStartWhole) {
  ASSERT_TRUE(EnsureDriverLoaded());
  ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  CScratchDir dir;
  // Long items so the list passes 10 KB with few entries; the load sends one per 20 ms here
  // (0.2 s in the shipped program).
  constexpr int kEntries = 420;
  CEnvironmentWord pace("TAVRICK_HOOK_LOAD_MS", "20");
  std::string list;
  for (int i = 0; i < kEntries; ++i) {
    if (i) list += ',';
    list += "203.113." + std::to_string(100 + i / 200) + "." + std::to_string(10 + i % 200) + "|" +
            std::to_string(10000 + i) + "|24小时";
  }
  ASSERT_GT(list.size(), 10240u);
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", list);
  CTavrickSession app;
  ASSERT_TRUE(app.Start(dir.Path(), "rebootup", ExeDir() + "\\tavrick_hooked.exe"));  // starts protection by itself
  // Protection runs once the whole list is in the driver.
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", kEntries * 100 + 30000)) << app.Label(IDC_STATE);
  CDriverCounters c;
  ASSERT_TRUE(ReadCounters(&c));
  EXPECT_EQ(static_cast<size_t>(kEntries), c.blocked.size());
  // The main window saves the list at its next 20-second tick while protecting.
  Sleep(21000);
  EXPECT_EQ(list, Raw("ipfilter", "ipfilterlst"));
}

TEST(ConfigSafety, RandomKillsOfTheProtectingProgramLoseNothing) {
  ASSERT_TRUE(EnsureDriverLoaded());
  CScratchDir dir;
  std::string list;
  for (int i = 0; i < 40; ++i) {
    if (i) list += ',';
    list += "198.51.100." + std::to_string(i + 1) + "|" + std::to_string(i % 3 == 0 ? 0 : 8000 + i) + "|永远";
  }
  {
    CWin32ProfileStore store;
    WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", list);
    WriteIni(store, kConfigFile, "ipouter", "ipouterlst", kOuters);
    WriteIni(store, kConfigFile, "msg", "emil", "admin@example.com");
    WriteIni(store, kConfigFile, "sysice", "sysiceipcount", "500");
  }
  std::mt19937 random(20240611);
  // Kills fall anywhere from the list load (1 s for 40 entries at 25 ms each; 8 s in the
  // shipped program) into the first seconds of protection, when the protection time is written
  // every second.
  CEnvironmentWord pace("TAVRICK_HOOK_LOAD_MS", "25");
  std::uniform_int_distribution<int> delayMs(200, 3200);
  auto expectNothingLost = [&](int run) {
    EXPECT_EQ(list, Raw("ipfilter", "ipfilterlst")) << "after kill " << run;
    EXPECT_EQ(kOuters, Raw("ipouter", "ipouterlst")) << "after kill " << run;
    EXPECT_EQ("admin@example.com", Raw("msg", "emil")) << "after kill " << run;
    EXPECT_EQ("500", Raw("sysice", "sysiceipcount")) << "after kill " << run;
  };
  for (int run = 0; run <= 20; ++run) {
    ASSERT_TRUE(ResetDriver(kResetTables));
    CTavrickSession app;
    ASSERT_TRUE(app.Start(dir.Path(), "rebootup", ExeDir() + "\\tavrick_hooked.exe")) << run;
    expectNothingLost(run);
    if (run == 20) break;
    Sleep(static_cast<DWORD>(delayMs(random)));
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, app.Process().Pid());
    ASSERT_NE(nullptr, process);
    TerminateProcess(process, 1);
    CloseHandle(process);
    ASSERT_TRUE(app.Process().WaitExit(10000));
  }
  const std::string log = ConfigLogOf(dir.Path());
  std::printf("restores after 20 kills: %d\n", static_cast<int>(std::count(log.begin(), log.end(), '\n')));
}

}  // namespace
