// The blocked and exception tables against the stand-in driver and the real configuration
// file: every change shows in the driver's own tables exactly as in the program's, and the
// saved lists come back after a restart.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/profile_store_win32.h"
#include "driver/driver_link.h"
#include "ipblock/ip_tables.h"
#include "ipblock/ip_tables_win32.h"
#include "process_driver_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"

namespace {

using CRecords = std::vector<std::vector<uint8_t>>;

template <size_t N>
CRecords Sorted(const std::vector<std::array<uint8_t, N>>& records) {
  CRecords out;
  for (const auto& r : records) out.emplace_back(r.begin(), r.end());
  std::sort(out.begin(), out.end());
  return out;
}

// The program's tables as the driver should hold them.
void ExpectDriverHoldsTheTables() {
  std::vector<std::array<uint8_t, 28>> blocked;
  std::vector<std::array<uint8_t, 8>> outers;
  for (const auto& f : g_pIpFilterList) blocked.push_back(EncodeIpFilter(*f));
  for (const auto& e : g_pIpOuterList) outers.push_back(EncodeIpOuter(*e));
  CDriverCounters c;
  ASSERT_TRUE(ReadCounters(&c));
  EXPECT_EQ(Sorted(blocked), Sorted(c.blocked));
  EXPECT_EQ(Sorted(outers), Sorted(c.exceptions));
}

void ResetTables() {
  g_pIpFilterList.LoadAtStart({});
  g_pIpOuterList.LoadAtStart({});
  g_saLocalIp.clear();
  g_dwServiceIp = 100000;
}

// The file as the next once-a-second save of the blocked list leaves it.
std::string Saved(const char* section, const char* key) {
  FlushIpFilterList();
  CWin32ProfileStore store;
  return ReadIni(store, kConfigFile, section, key);
}

class Win32IpTables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FreshDriverAndClosedLink());
    ResetTables();
    SetIpTablePorts(&m_store, &m_clock, [this](int ms) { m_pauses.push_back(ms); });
    ASSERT_EQ(kStartOk, StartDriverSequence(g_pIpOuterList, g_pIpFilterList, [](int) {}));
    MarkRunning();
  }
  void TearDown() override {
    if (g_hDevice.load() != kInvalidDevice) StopDriverSequence();
    ResetTables();
    SetIpTablePorts(nullptr, nullptr, nullptr);
    SetIpFilterJournal(nullptr);
  }

  CScratchDir m_dir;
  CWin32ProfileStore m_store;
  CManualClock m_clock{1700000000};
  std::vector<int> m_pauses;
};

TEST_F(Win32IpTables, BlockReleaseAndReleaseAllChangeTheDriverTableAsTheProgramsOwn) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "5分钟", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "0", "永远", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("10.0.0.0", "0", "1小时", 1));
  EXPECT_EQ(BlockIpOutcome::kDuplicate, BlockIp("1.2.3.4", "80", "永远", 1));
  ExpectDriverHoldsTheTables();
  EXPECT_EQ("1.2.3.4|80|5分钟,1.2.3.4|0|永远,10.0.0.0|0|1小时", Saved("ipfilter", "ipfilterlst"));

  // The block takes effect: traffic from a covered address is dropped by the driver.
  CInjectPacket p;
  p.dwSrcIP = InetAddr("10.9.8.7");
  p.dwDstIP = InetAddr("192.168.1.2");
  p.wDstPort = 25;
  uint32_t dropped = 0;
  ASSERT_TRUE(InjectPackets({p}, nullptr, &dropped));
  EXPECT_EQ(1u, dropped);

  EXPECT_TRUE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  ExpectDriverHoldsTheTables();
  EXPECT_EQ("1.2.3.4|0|永远,10.0.0.0|0|1小时", Saved("ipfilter", "ipfilterlst"));

  EXPECT_TRUE(ReleaseAllIpFilters());
  EXPECT_TRUE(g_pIpFilterList.empty());
  ExpectDriverHoldsTheTables();
  FlushIpFilterList();
  EXPECT_NE(std::string::npos, ReadWholeFile(m_dir.File("tavrick.cfg")).find("ipfilterlst=\r\n"));
}

TEST_F(Win32IpTables, AnAutomaticBlockStopsExactlyItsAddressInTheDriver) {
  // A flood with the forged source 61.0.0.0: blocked, and only that address.
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.0.0.0", "0", "5分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("62.0.0.0", "0", "5分钟", 1));  // by hand: a pattern
  ExpectDriverHoldsTheTables();
  auto dropped = [](const char* from) {
    CInjectPacket p;
    p.dwSrcIP = InetAddr(from);
    p.dwDstIP = InetAddr("192.0.2.200");
    p.wDstPort = 80;
    uint32_t n = 99;
    return InjectPackets({p}, nullptr, &n) ? n : 99u;
  };
  EXPECT_EQ(1u, dropped("61.0.0.0"));
  EXPECT_EQ(0u, dropped("61.1.2.3"));
  EXPECT_EQ(0u, dropped("61.0.0.1"));
  EXPECT_EQ(1u, dropped("62.1.2.3"));
  // The mark survives a restart of the program: saved with the type, loaded, sent again.
  EXPECT_EQ("61.0.0.0|0|5分钟|0,62.0.0.0|0|5分钟", Saved("ipfilter", "ipfilterlst"));
  ASSERT_EQ(1, StopDriverSequence());
  ResetTables();
  ASSERT_TRUE(ResetDriver(kResetTables));
  CSettings settings;
  LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  ASSERT_EQ(kStartOk, StartDriverSequence(g_pIpOuterList, g_pIpFilterList, [](int) {}));
  ExpectDriverHoldsTheTables();
  EXPECT_EQ(1u, dropped("61.0.0.0"));
  EXPECT_EQ(0u, dropped("61.1.2.3"));
}

TEST_F(Win32IpTables, ExceptionsChangeTheDriverTableAsTheProgramsOwn) {
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("192.168.0.0"));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("8.8.8.8"));
  EXPECT_EQ(AddIpOuterOutcome::kExists, AddIpOuter("192.168.3.3"));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("192.168.5.5", "0", "永远", 1));
  ExpectDriverHoldsTheTables();
  EXPECT_EQ("192.168.0.0,8.8.8.8", Saved("ipouter", "ipouterlst"));

  EXPECT_EQ(RemoveIpOuterOutcome::kRemoved, RemoveIpOuter(InetAddr("192.168.0.0")));
  ExpectDriverHoldsTheTables();
  EXPECT_EQ("8.8.8.8", Saved("ipouter", "ipouterlst"));
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("192.168.5.5", "0", "永远", 1));
  ExpectDriverHoldsTheTables();
}

TEST_F(Win32IpTables, ExpiryRemovesTheEntryFromTheDriver) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("3.3.3.3", "0", "1分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("4.4.4.4", "0", "永远", 1));
  m_clock.Advance(61);
  ExpireIpFilters();
  EXPECT_EQ(std::vector<int>{200}, m_pauses);
  ExpectDriverHoldsTheTables();
  EXPECT_EQ("4.4.4.4|0|永远", Saved("ipfilter", "ipfilterlst"));
  // A twin loaded from the file stays enforced when the other one expires.
  ASSERT_EQ(1, StopDriverSequence());
  ResetTables();
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", "5.5.5.5|0|永远,5.5.5.5|0|1分钟");
  CSettings settings;
  LoadConfiguration(store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  ASSERT_EQ(kStartOk, StartDriverSequence(g_pIpOuterList, g_pIpFilterList, [](int) {}));
  MarkRunning();
  m_clock.Advance(61);
  ExpireIpFilters();
  EXPECT_EQ("5.5.5.5|0|永远", EncodeIpFilterList(g_pIpFilterList));
  ExpectDriverHoldsTheTables();
}

// A program that dies between a block and the next second's save: the journal beside the file
// holds the block, and the next load puts it back into the list and the file.
TEST_F(Win32IpTables, TheJournalBesideTheFileKeepsBlocksTheSaveHasNotWrittenYet) {
  SetIpFilterJournal(&SystemIpFilterJournal());
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("6.6.6.6", "0", "永远", 1));
  EXPECT_EQ("6.6.6.6|0|永远", Saved("ipfilter", "ipfilterlst"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_dir.File("tavrick.cfg.jnl").c_str()));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("7.7.7.7", "3389", "1小时", 0));
  ASSERT_TRUE(ReleaseIpFilter(InetAddr("6.6.6.6"), 0));
  EXPECT_EQ("+7.7.7.7|3389|1小时|0\r\n-6.6.6.6|0\r\n", ReadWholeFile(m_dir.File("tavrick.cfg.jnl")));

  ASSERT_EQ(1, StopDriverSequence());  // the crash: no save
  ResetTables();
  CSettings settings;
  LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  SetIpFilterJournal(nullptr);
  EXPECT_EQ("7.7.7.7|3389|1小时|0", EncodeIpFilterList(g_pIpFilterList));
  EXPECT_EQ("7.7.7.7|3389|1小时|0", Saved("ipfilter", "ipfilterlst"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(m_dir.File("tavrick.cfg.jnl").c_str()));
}

TEST_F(Win32IpTables, AfterStopEveryChangeIsRefusedAndNothingMoves) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("5.5.5.5", "0", "永远", 1));
  const std::string before = ReadWholeFile(m_dir.File("tavrick.cfg"));
  ASSERT_EQ(1, StopDriverSequence());
  EXPECT_EQ(BlockIpOutcome::kDriverRefused, BlockIp("6.6.6.6", "0", "永远", 1));
  EXPECT_FALSE(ReleaseAllIpFilters());
  EXPECT_EQ(AddIpOuterOutcome::kDriverRefused, AddIpOuter("7.7.7.7"));
  EXPECT_EQ(before, ReadWholeFile(m_dir.File("tavrick.cfg")));
  EXPECT_EQ(1u, g_pIpFilterList.size());
  ExpectDriverHoldsTheTables();
}

TEST_F(Win32IpTables, SavedListsLoadBackAndGoToTheDriverAtTheNextStart) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.135.0.0", "80", "24小时", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("8.8.4.4", "0", "永远", 1));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("192.168.0.0"));
  const std::string filters = EncodeIpFilterList(g_pIpFilterList);
  const std::string outers = EncodeIpOuterList(g_pIpOuterList);
  ASSERT_EQ(1, StopDriverSequence());
  FlushIpFilterList();  // as the program does at every stop

  // A new process: empty tables, the driver emptied, the same folder.
  ResetTables();
  ASSERT_TRUE(ResetDriver(kResetTables));
  CSettings settings;
  m_clock.Advance(5000);
  LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  EXPECT_EQ(filters, EncodeIpFilterList(g_pIpFilterList));
  EXPECT_EQ(outers, EncodeIpOuterList(g_pIpOuterList));
  ASSERT_EQ(2u, g_pIpFilterList.size());
  EXPECT_EQ(m_clock.Now() + 86400, g_pIpFilterList[0].tExpire);
  EXPECT_EQ(1, g_pIpFilterList[0].nType);

  ASSERT_EQ(kStartOk, StartDriverSequence(g_pIpOuterList, g_pIpFilterList, [](int) {}));
  ExpectDriverHoldsTheTables();
}

// Polls the driver until it holds this many entries, within a bound.
bool WaitForDriverTables(size_t exceptions, size_t blocked, CDriverCounters* c, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    if (ReadCounters(c) && c->exceptions.size() == exceptions && c->blocked.size() == blocked) return true;
    Sleep(100);
  } while (GetTickCount() - start < timeoutMs);
  return false;
}

TEST(Win32IpTablesProgram, EachStartOfTheProgramReloadsBothListsFromTheFile) {
  ASSERT_TRUE(EnsureDriverLoaded());
  CScratchDir dir;
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", "1.2.3.4|80|5分钟,10.0.0.0|0|永远");
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", "192.168.0.0,8.8.8.8");
  std::vector<std::array<uint8_t, 28>> expectBlocked;
  std::vector<std::array<uint8_t, 8>> expectOuters;
  {
    CManualClock clock;
    CIpFilterList filters;
    CIpOuterList outers;
    CSettings settings;
    LoadConfiguration(store, clock, settings, filters, outers);
    // What the driver receives does not depend on the load time except for the expiry word.
    for (const auto& f : filters) expectBlocked.push_back(EncodeIpFilter(*f));
    for (const auto& e : outers) expectOuters.push_back(EncodeIpOuter(*e));
  }

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
    // Protection was running when the last run ended, so the program starts it by itself.
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "3600");
    CChildProcess program;
    ASSERT_TRUE(program.Start(TavrickExe(), "", dir.Path()));
    CDriverCounters c;
    ASSERT_TRUE(WaitForDriverTables(2, 2, &c, 60000)) << "driver holds " << c.exceptions.size() << " / "
                                                       << c.blocked.size() << "; " << DescribeProcessWindows(program);
    EXPECT_EQ(Sorted(expectOuters), Sorted(c.exceptions));
    // The expiry word (offset 12) is the program's load time plus the label; compare the rest.
    for (auto* list : {&expectBlocked, &c.blocked})
      for (auto& r : *list) std::fill(r.begin() + 12, r.begin() + 16, 0);
    EXPECT_EQ(Sorted(expectBlocked), Sorted(c.blocked));
    EXPECT_EQ(1u, c.dwFiltering);
    // The program leaves the lists in the file as they were.
    EXPECT_EQ("1.2.3.4|80|5分钟,10.0.0.0|0|永远", Saved("ipfilter", "ipfilterlst"));
    EXPECT_EQ("192.168.0.0,8.8.8.8", Saved("ipouter", "ipouterlst"));
  }
  ResetDriver(kResetPackets | kResetTables);
}

}  // namespace
