// The blocked and exception tables against a fake driver that keeps tables of its own, an
// in-memory configuration file and a clock that moves only when told.
#include "ipblock/ip_tables.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/ip_lists.h"
#include "config/profile_store.h"
#include "driver/driver_link.h"
#include "ipblock/blocked_list.h"
#include "ipblock/flood_blocking.h"
#include "ipblock/ip_display.h"
#include "ipblock/ip_pattern.h"
#include "table_device_fake.h"

namespace {

class IpTables : public ::testing::Test {
 protected:
  void SetUp() override {
    AttachFakeTables(m_device, m_store, m_clock, [this](int ms) { m_pauses.push_back(ms); });
    Reset();
  }
  void TearDown() override {
    Reset();
    DetachFakeTables();
  }
  static void Reset() {
    g_bDriverHonoursExact = false;  // as with the vendor's driver, which never says
    g_pIpFilterList.LoadAtStart({});
    g_pIpOuterList.LoadAtStart({});
    g_saLocalIp.clear();
    g_dwServiceIp = 100000;
  }
  // The file as the next once-a-second save leaves it.
  std::string SavedFilters() {
    FlushIpFilterList();
    return ReadIni(m_store, kConfigFile, "ipfilter", "ipfilterlst");
  }
  std::string SavedOuters() { return ReadIni(m_store, kConfigFile, "ipouter", "ipouterlst"); }
  void Load(const std::string& filters, const std::string& outers) {
    m_store.Put(kConfigFile, "ipfilter", "ipfilterlst", filters);
    m_store.Put(kConfigFile, "ipouter", "ipouterlst", outers);
    CSettings settings;
    LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
    m_store.m_nWrites = 0;
  }
  // The driver's blocked table and the program's, as wire records (order aside).
  void ExpectDriverMirrorsTables() {
    std::vector<std::vector<uint8_t>> blocked, outers;
    for (const auto& f : g_pIpFilterList) {
      const auto w = EncodeIpFilter(*f);
      blocked.emplace_back(w.begin(), w.end());
    }
    for (const auto& e : g_pIpOuterList) {
      const auto w = EncodeIpOuter(*e);
      outers.emplace_back(w.begin(), w.end());
    }
    auto sorted = [](std::vector<std::vector<uint8_t>> v) {
      std::sort(v.begin(), v.end());
      return v;
    };
    EXPECT_EQ(sorted(blocked), sorted(m_device.blocked));
    EXPECT_EQ(sorted(outers), sorted(m_device.exceptions));
  }

  CTableDevice m_device;
  CMemoryProfileStore m_store;
  CManualClock m_clock{1700000000};
  std::vector<int> m_pauses;
};

TEST(MatchIpPattern, OctetWildcardsEndTheComparison) {
  const uint32_t lan = InetAddr("192.168.0.0");
  EXPECT_TRUE(MatchIpPattern(InetAddr("192.168.3.4"), lan));
  EXPECT_TRUE(MatchIpPattern(InetAddr("192.168.255.255"), lan));
  EXPECT_FALSE(MatchIpPattern(InetAddr("192.169.3.4"), lan));
  EXPECT_FALSE(MatchIpPattern(InetAddr("193.168.3.4"), lan));
  // A 0 octet ends the comparison even when later octets are not 0.
  const uint32_t ten = InetAddr("10.0.5.0");
  EXPECT_TRUE(MatchIpPattern(InetAddr("10.1.2.3"), ten));
  EXPECT_TRUE(MatchIpPattern(InetAddr("10.200.6.7"), ten));
  EXPECT_FALSE(MatchIpPattern(InetAddr("11.0.5.0"), ten));
  // A full address covers itself only.
  EXPECT_TRUE(MatchIpPattern(InetAddr("8.8.8.8"), InetAddr("8.8.8.8")));
  EXPECT_FALSE(MatchIpPattern(InetAddr("8.8.8.9"), InetAddr("8.8.8.8")));
  EXPECT_TRUE(MatchIpPattern(InetAddr("1.2.3.9"), InetAddr("1.2.3.0")));
}

TEST(MatchIpPattern, FirstOctetZeroCoversOnlyItself) {
  EXPECT_TRUE(MatchIpPattern(InetAddr("0.1.2.3"), InetAddr("0.1.2.3")));
  EXPECT_FALSE(MatchIpPattern(InetAddr("5.1.2.3"), InetAddr("0.1.2.3")));
  EXPECT_FALSE(MatchIpPattern(InetAddr("0.1.2.4"), InetAddr("0.1.2.3")));
  EXPECT_FALSE(MatchIpPattern(InetAddr("1.2.3.4"), InetAddr("0.0.0.0")));
  EXPECT_TRUE(MatchIpPattern(0, 0));
}

TEST(DisplayForms, ZeroOctetsAndPortZeroShowAsStars) {
  EXPECT_EQ("10.*.*.*", IpToDisplay("10.0.0.0"));
  EXPECT_EQ("*.10.*.1", IpToDisplay("0.10.0.1"));
  EXPECT_EQ("*.*.*.7", IpToDisplay("0.0.0.7"));
  EXPECT_EQ("192.168.10.1", IpToDisplay("192.168.10.1"));
  EXPECT_EQ("1.2.3.*", IpToDisplay("1.2.3.0"));
  EXPECT_EQ("*", PortToDisplay("0"));
  EXPECT_EQ("80", PortToDisplay("80"));
  EXPECT_EQ("", PortToDisplay(""));
  // Back from the list to what inet_addr and atol take.
  EXPECT_EQ("10.0.0.0", DisplayToIp("10.*.*.*"));
  EXPECT_EQ("0.10.0.1", DisplayToIp(IpToDisplay("0.10.0.1")));
  EXPECT_EQ("0", DisplayToPort("*"));
  EXPECT_EQ("443", DisplayToPort("443"));
}

TEST_F(IpTables, SameAddressAndPortIsADuplicateButAnotherPortIsNot) {
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "5分钟", 1));
  EXPECT_EQ(BlockIpOutcome::kDuplicate, BlockIp("1.2.3.4", "80", "永远", 0));
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "0", "永远", 1));
  EXPECT_EQ(2, m_device.requests);  // the duplicate never reached the driver
  ASSERT_EQ(2u, g_pIpFilterList.size());
  EXPECT_TRUE(FindIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  EXPECT_FALSE(FindIpFilter(InetAddr("1.2.3.4"), PortFromText("81")));
  EXPECT_TRUE(IsIpFiltered(InetAddr("1.2.3.4")));
  EXPECT_FALSE(IsIpFiltered(InetAddr("1.2.3.5")));
  EXPECT_EQ("1.2.3.4|80|5分钟,1.2.3.4|0|永远", SavedFilters());
  ExpectDriverMirrorsTables();
  EXPECT_STREQ("添加失败!导致原因:此IP已在例外中,已经屏蔽IP,加入IP是本地IP。",
               MessageOf(BlockIpOutcome::kDuplicate));
  EXPECT_EQ(nullptr, MessageOf(BlockIpOutcome::kAdded));
}

TEST_F(IpTables, OwnAddressesServiceHostAndExceptionsAreProtected) {
  g_saLocalIp = {"10.1.1.1", "172.16.0.9"};
  EXPECT_FALSE(IsIpProtected(InetAddr("61.1.1.1")));
  g_dwServiceIp = InetAddr("61.1.1.1");
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("192.168.0.0"));
  const int requestsBefore = m_device.requests;
  m_store.m_nWrites = 0;

  for (const char* ip : {"10.1.1.1", "172.16.0.9", "61.1.1.1", "192.168.7.8"}) {
    EXPECT_TRUE(IsIpProtected(InetAddr(ip))) << ip;
    EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp(ip, "0", "永远", 1)) << ip;
    EXPECT_EQ(AddIpOuterOutcome::kExists, AddIpOuter(ip)) << ip;
  }
  EXPECT_STREQ("例外中已存在IP!", MessageOf(AddIpOuterOutcome::kExists));
  EXPECT_STREQ(MessageOf(BlockIpOutcome::kDuplicate), MessageOf(BlockIpOutcome::kProtected));
  EXPECT_EQ(requestsBefore, m_device.requests);
  EXPECT_EQ(0, m_store.m_nWrites);
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_FALSE(IsIpProtected(InetAddr("10.1.1.2")));
}

TEST_F(IpTables, ServiceHostPlaceholderAndZeroOwnAddress) {
  // Until the host is resolved, the placeholder value stands for it.
  EXPECT_TRUE(IsIpProtected(100000));
  // An own address that does not parse gives INADDR_NONE, which protects that value only;
  // the address 0 is never protected through the own list.
  g_saLocalIp = {"0.0.0.0"};
  EXPECT_FALSE(IsIpProtected(0));
  // Automatic, it is the address 0.0.0.0 only where the driver honours the exact mark; any
  // other driver would close port 80 to everybody.
  EXPECT_EQ(BlockIpOutcome::kHeldBackPattern, BlockIp("0.0.0.0", "80", "1分钟", 0));
  g_bDriverHonoursExact = true;
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("0.0.0.0", "80", "1分钟", 0));
  g_bDriverHonoursExact = false;
  // By hand, 0.0.0.0 for all ports is the pattern of every address, the placeholder host's
  // included; with a port it closes that port to everybody, which the manual block offers.
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("0.0.0.0", "0", "1分钟", 1));
  g_saLocalIp = {"10.1.1.1"};
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("0.0.0.0", "3389", "1分钟", 1));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("10.0.0.0", "3389", "1分钟", 1));
}

TEST_F(IpTables, AutomaticBlocksAreExactAndProtectionsSeeWhatAnEntryReallyBlocks) {
  g_bDriverHonoursExact = true;  // the stand-in said so in its status reply
  g_saLocalIp = {"61.1.1.1"};
  g_dwServiceIp = InetAddr("61.2.2.2");
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("61.135.0.0"));  // the administrator's network
  // By hand, 61.0.0.0 is the pattern 61.*.*.*, which covers the exception's network, the server
  // and the service host: refused, and so is each narrower pattern still covering one of them.
  for (const char* pattern : {"61.0.0.0", "0.0.0.0", "61.135.0.9", "61.0.0.1", "0.1.1.1", "61.2.0.0", "0.0.0.9"}) {
    EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp(pattern, "0", "永远", 1)) << pattern;
  }
  // A flood from the forged source 61.0.0.0 blocks that one address, nothing around it.
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.0.0.0", "0", "5分钟", 0));
  const auto sent = m_device.blocked.back();
  EXPECT_EQ(kExactMatchMark, GetLe32(&sent[8]));
  EXPECT_EQ("61.0.0.0|0|5分钟|0", SavedFilters());
  EXPECT_EQ("61.0.0.0", BlockedRowsFromTable()[0].strIp);
  for (const char* pattern : {"62.0.0.0", "61.3.0.0", "62.0.0.9", "61.136.0.0"}) {
    EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp(pattern, "0", "永远", 1)) << pattern;
  }
  // The list shows the hand-made patterns with stars, the automatic entry with its zeros.
  const std::vector<CBlockedRow> rows = BlockedRowsFromTable();
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ("61.0.0.0", rows[0].strIp);
  EXPECT_EQ("62.*.*.*", rows[1].strIp);
  EXPECT_EQ("62.*.*.9", rows[3].strIp);
  // Exact automatic entries next to covered addresses are fine: only the address itself counts.
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("61.0.0.1", "0", "5分钟", 0));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("61.135.7.7", "0", "5分钟", 0));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("61.1.1.1", "0", "5分钟", 0));
  ExpectDriverMirrorsTables();
}

// On a driver that did not say it honours the exact mark (the vendor's), an automatic entry with
// a 0 octet would act as the pattern its 0 octets make (a forged 203.0.0.0 as 203.*.*.*): it is
// never sent, whether or not the pattern reaches anything protected; the configuration log is
// told once per address, and every such request is counted.
TEST_F(IpTables, OnADriverWithoutTheExactMarkAutomaticEntriesWithAZeroOctetAreNeverSent) {
  std::vector<std::string> log;
  SetHeldBackLog([&](const std::string& line) { log.push_back(line); });
  g_saLocalIp = {"192.168.1.5"};
  g_dwServiceIp = InetAddr("198.51.100.1");
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("61.135.0.0"));
  const uint64_t countBefore = HeldBackPatternCount();
  const int requestsBefore = m_device.requests;
  for (const char* forged : {"192.0.0.0", "61.136.0.0", "203.0.0.0", "8.0.0.0", "0.0.0.5", "203.0.113.0"}) {
    EXPECT_EQ(BlockIpOutcome::kHeldBackPattern, BlockIp(forged, "0", "5分钟", 0)) << forged;
  }
  EXPECT_EQ(BlockIpOutcome::kHeldBackPattern, BlockIp("8.0.0.0", "0", "5分钟", 0));  // asked again
  EXPECT_EQ(requestsBefore, m_device.requests);
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_EQ(countBefore + 7, HeldBackPatternCount());
  ASSERT_EQ(6u, log.size()) << "each address told once";
  EXPECT_EQ(0u, log[2].find("203.0.0.0 端口 0 自动封锁未发往驱动:")) << log[2];
  // An address without a 0 octet is the same address either way: blocked, or refused when it is
  // protected, with the protection it reaches.
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("192.1.2.1", "0", "5分钟", 0));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("61.135.7.7", "0", "5分钟", 0));
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("198.51.100.1", "0", "5分钟", 0));
  // By hand, a pattern is what the administrator asked for.
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("203.0.0.0", "0", "5分钟", 1));
  ExpectDriverMirrorsTables();
  // Told by the driver that the mark holds, the same forged sources block their one address.
  g_bDriverHonoursExact = true;
  for (const char* forged : {"192.0.0.0", "8.0.0.0", "61.136.0.0"}) {
    EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp(forged, "0", "5分钟", 0)) << forged;
  }
  EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("61.0.0.0", "0", "5分钟", 1));  // a pattern by hand still is
  EXPECT_EQ(6u, log.size());
  SetHeldBackLog(nullptr);
}

// The list shows what the driver enforces: an automatic entry with a 0 octet as the pattern a
// driver without the exact mark would make of it, as its plain address only where the mark holds.
TEST_F(IpTables, TheListShowsThePatternFormOfWhatTheDriverReadsAsAPattern) {
  Load("203.0.0.0|0|1小时|0,8.8.8.8|0|永远|0,62.0.0.0|0|永远", "");
  const auto shown = [] {
    std::vector<std::string> ips;
    for (const CBlockedRow& row : BlockedRowsFromTable()) ips.push_back(row.strIp);
    return ips;
  };
  EXPECT_EQ((std::vector<std::string>{"203.*.*.*", "8.8.8.8", "62.*.*.*"}), shown());
  g_bDriverHonoursExact = true;
  EXPECT_EQ((std::vector<std::string>{"203.0.0.0", "8.8.8.8", "62.*.*.*"}), shown());
  EXPECT_EQ("0.0.0.9", BlockedIpToDisplay(*CreateIpFilter("0.0.0.9", "0", "永远", 0, m_clock), true));
  EXPECT_EQ("*.*.*.9", BlockedIpToDisplay(*CreateIpFilter("0.0.0.9", "0", "永远", 0, m_clock), false));
}

// Which protection a refused entry reaches, as the logon guard's table names it.
TEST_F(IpTables, ProtectionOfNamesTheExceptionTheOwnAddressOrTheServiceHost) {
  g_saLocalIp = {"192.0.2.10"};
  g_dwServiceIp = InetAddr("192.0.2.99");
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("198.51.100.0"));
  const auto of = [&](const char* ip, int type) { return ProtectionOf(*CreateIpFilter(ip, "0", "永远", type, m_clock)); };
  EXPECT_EQ(EBlockProtection::kException, of("198.51.100.20", 0));
  EXPECT_EQ(EBlockProtection::kOwnAddress, of("192.0.2.10", 0));
  EXPECT_EQ(EBlockProtection::kServiceHost, of("192.0.2.99", 0));
  EXPECT_EQ(EBlockProtection::kNone, of("192.0.2.11", 0));
  EXPECT_EQ(EBlockProtection::kEveryHost, of("0.0.0.0", 1));
  EXPECT_EQ(EBlockProtection::kOwnAddress, of("192.0.0.0", 1));  // the pattern covers the server
}

// 0.0.0.0 for every port blocks every host: refused for every type and every driver, even when
// nothing protected is known yet.
TEST_F(IpTables, EveryHostOnEveryPortIsNeverBlocked) {
  g_dwServiceIp = InetAddr("198.51.100.1");
  for (bool honoured : {true, false}) {
    g_bDriverHonoursExact = honoured;
    for (int type : {0, 1}) {
      EXPECT_EQ(BlockIpOutcome::kProtected, BlockIp("0.0.0.0", "0", "永远", type)) << honoured << type;
    }
  }
  EXPECT_EQ(0, m_device.requests);
}

TEST(BlockCoverage, ExactEntriesPatternsAndExceptions) {
  const uint32_t entry = InetAddr("10.0.5.0");
  EXPECT_TRUE(BlockCovers(entry, false, InetAddr("10.9.5.7")));
  EXPECT_FALSE(BlockCovers(entry, false, InetAddr("10.9.6.7")));
  EXPECT_FALSE(BlockCovers(entry, true, InetAddr("10.9.5.7")));
  EXPECT_TRUE(BlockCovers(entry, true, entry));
  // Exception 10.1.0.0 covers 10.1.*.*; the entry 10.*.5.* meets it at 10.1.5.x.
  EXPECT_TRUE(BlockMeetsPattern(entry, false, InetAddr("10.1.0.0")));
  EXPECT_FALSE(BlockMeetsPattern(InetAddr("11.0.5.0"), false, InetAddr("10.1.0.0")));
  EXPECT_FALSE(BlockMeetsPattern(InetAddr("10.2.0.0"), false, InetAddr("10.1.0.0")));
  // An exception whose first octet is 0 covers only itself.
  EXPECT_TRUE(BlockMeetsPattern(InetAddr("0.0.0.0"), false, InetAddr("0.1.2.3")));
  EXPECT_FALSE(BlockMeetsPattern(InetAddr("0.1.2.4"), false, InetAddr("0.1.2.3")));
  EXPECT_FALSE(BlockMeetsPattern(InetAddr("0.1.2.3"), true, InetAddr("0.1.0.0")));
  EXPECT_TRUE(BlockMeetsPattern(InetAddr("10.1.2.3"), true, InetAddr("10.1.0.0")));
}

TEST_F(IpTables, DriverRefusalLeavesTableAndFileUntouched) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("5.6.7.8", "0", "永远", 1));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("8.8.8.8"));
  const std::string filters = SavedFilters(), outers = SavedOuters();
  m_store.m_nWrites = 0;
  m_device.refuse = true;

  EXPECT_EQ(BlockIpOutcome::kDriverRefused, BlockIp("1.2.3.4", "80", "5分钟", 1));
  EXPECT_STREQ("添加失败!", MessageOf(BlockIpOutcome::kDriverRefused));
  EXPECT_FALSE(ReleaseIpFilter(InetAddr("5.6.7.8"), 0));
  EXPECT_STREQ("解除失败!", ReleaseMessage(false));
  EXPECT_FALSE(ReleaseAllIpFilters());
  EXPECT_STREQ("全部解除失败!", ReleaseAllMessage(false));
  EXPECT_EQ(AddIpOuterOutcome::kDriverRefused, AddIpOuter("9.9.9.9"));
  EXPECT_EQ(nullptr, MessageOf(AddIpOuterOutcome::kDriverRefused));
  EXPECT_EQ(RemoveIpOuterOutcome::kDriverRefused, RemoveIpOuter(InetAddr("8.8.8.8")));

  EXPECT_EQ(0, m_store.m_nWrites);
  EXPECT_EQ(filters, SavedFilters());
  EXPECT_EQ(outers, SavedOuters());
  ASSERT_EQ(1u, g_pIpFilterList.size());
  EXPECT_EQ(InetAddr("5.6.7.8"), g_pIpFilterList[0].dwIp);
  ASSERT_EQ(1u, g_pIpOuterList.size());
  m_device.refuse = false;
  ExpectDriverMirrorsTables();
}

TEST_F(IpTables, ClosedDeviceRefusesEveryChangeButLoadingStillFillsTheTables) {
  g_hDevice = kInvalidDevice;
  Load("1.2.3.4|80|24小时", "192.168.0.0");
  EXPECT_EQ(BlockIpOutcome::kDriverRefused, BlockIp("4.4.4.4", "0", "永远", 1));
  EXPECT_FALSE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  EXPECT_EQ(RemoveIpOuterOutcome::kDriverRefused, RemoveIpOuter(InetAddr("192.168.0.0")));
  EXPECT_EQ(0, m_device.requests);
  EXPECT_EQ(0, m_store.m_nWrites);
  EXPECT_EQ(1u, g_pIpFilterList.size());
  EXPECT_EQ(1u, g_pIpOuterList.size());
}

TEST_F(IpTables, ReleaseTakesTheLastMatchingEntryAndSaves) {
  Load("1.2.3.4|80|永远,7.7.7.7|0|1小时,1.2.3.4|80|1分钟", "");
  EXPECT_FALSE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("81")));
  EXPECT_EQ(0, m_device.requests);
  LoadListsIntoDriver(g_pIpOuterList, g_pIpFilterList, [](int) {});
  m_device.requests = 0;
  EXPECT_TRUE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  EXPECT_EQ(nullptr, ReleaseMessage(true));
  EXPECT_EQ("1.2.3.4|80|永远,7.7.7.7|0|1小时", SavedFilters());
  // The driver knows one entry per address and port: the twin left listed goes in again.
  EXPECT_EQ(2, m_device.requests);
  ExpectDriverMirrorsTables();
  EXPECT_TRUE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  EXPECT_EQ("7.7.7.7|0|1小时", SavedFilters());
  EXPECT_EQ(3, m_device.requests);
  ExpectDriverMirrorsTables();
}

TEST_F(IpTables, ReleaseAllEmptiesDriverTableAndFile) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "5分钟", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("10.9.8.7", "0", "永远", 0));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("8.8.8.8"));
  EXPECT_TRUE(ReleaseAllIpFilters());
  EXPECT_STREQ("全部解除成功!", ReleaseAllMessage(true));
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_EQ("", SavedFilters());
  EXPECT_TRUE(m_store.Has(kConfigFile, "ipfilter", "ipfilterlst"));  // saved empty, not removed
  EXPECT_EQ("8.8.8.8", SavedOuters());  // exceptions are not blocks
  ExpectDriverMirrorsTables();
}

TEST_F(IpTables, ExpiryReleasesEveryDueEntryInOneStepAfterItsTime) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("9.9.9.9", "0", "永远", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.1.1.1", "0", "1分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("2.2.2.2", "0", "1分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("3.3.3.3", "0", "5分钟", 0));
  const int adds = m_device.requests;

  m_clock.Advance(60);  // expiry equals now: not yet
  ExpireIpFilters();
  EXPECT_EQ(adds, m_device.requests);
  EXPECT_EQ(4u, g_pIpFilterList.size());
  EXPECT_TRUE(m_pauses.empty());

  m_clock.Advance(1);
  ExpireIpFilters();
  EXPECT_EQ("9.9.9.9|0|永远,3.3.3.3|0|5分钟|0", EncodeIpFilterList(g_pIpFilterList));
  EXPECT_EQ((std::vector<int>{200, 200}), m_pauses);  // the vendor's pace after each release
  ExpireIpFilters();  // nothing else is due
  EXPECT_EQ(2u, g_pIpFilterList.size());
  EXPECT_EQ(2u, m_pauses.size());
  EXPECT_EQ("9.9.9.9|0|永远,3.3.3.3|0|5分钟|0", SavedFilters());
  ExpectDriverMirrorsTables();

  m_clock.Advance(int64_t(10) * 365 * 86400);  // forever entries stay forever
  ExpireIpFilters();
  EXPECT_EQ("9.9.9.9|0|永远", EncodeIpFilterList(g_pIpFilterList));
}

// A guard's day of blocks expiring together: a device without pacing gets every due release of
// a step in one batch without pauses, a paced one a bounded number; the rest go next step, and
// the file is written once for the step.
TEST_F(IpTables, ExpiryIsBoundedPerStepAndSavedOnce) {
  for (bool paced : {false, true}) {
    SCOPED_TRACE(paced);
    Reset();
    m_device.blocked.clear();
    m_device.paced = paced;
    m_pauses.clear();
    const size_t most = paced ? kPacedExpiriesPerStep : kExpiriesPerStep;
    std::string file = "9.9.9.9|0|永远";
    for (size_t i = 0; i < most + 3; ++i)
      file += ",61." + std::to_string(i / 250 + 1) + "." + std::to_string(i % 250 + 1) + ".1|0|1分钟|0";
    Load(file, "");
    LoadListsIntoDriver(g_pIpOuterList, g_pIpFilterList, [](int) {});
    const int batchesBefore = m_device.batches;
    m_clock.Advance(61);
    ExpireIpFilters();
    EXPECT_EQ(4u, g_pIpFilterList.size());
    EXPECT_EQ(paced ? most : 0u, m_pauses.size());
    EXPECT_EQ(paced ? 0 : 1, m_device.batches - batchesBefore);
    EXPECT_EQ(0, m_store.m_nWrites) << "saved by the flush, not by the step";
    EXPECT_TRUE(FlushIpFilterList());
    EXPECT_EQ(1, m_store.m_nWrites);
    EXPECT_TRUE(FlushIpFilterList());
    EXPECT_EQ(1, m_store.m_nWrites) << "nothing changed since";
    ExpectDriverMirrorsTables();
    ExpireIpFilters();
    EXPECT_EQ("9.9.9.9|0|永远", SavedFilters());
    EXPECT_EQ(2, m_store.m_nWrites);
    ExpectDriverMirrorsTables();
  }
}

TEST_F(IpTables, ExpiryGoesOnToTheNextEntryWhenTheDriverRefuses) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.1.1.1", "0", "1分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("2.2.2.2", "0", "1分钟", 0));
  m_clock.Advance(61);
  m_device.refuse = true;
  ExpireIpFilters();
  EXPECT_EQ(2u, g_pIpFilterList.size());
  EXPECT_TRUE(m_pauses.empty());
  // Refusing only the first: the second goes in the same step.
  m_device.refuse = false;
  const auto first = EncodeIpFilter(g_pIpFilterList[0]);
  m_device.refuseRecord.assign(first.begin(), first.end());
  ExpireIpFilters();
  EXPECT_EQ("1.1.1.1|0|1分钟|0", EncodeIpFilterList(g_pIpFilterList));
  EXPECT_EQ(std::vector<int>{200}, m_pauses);
  // The refused one stays for the next step.
  m_device.refuseRecord.clear();
  ExpireIpFilters();
  EXPECT_TRUE(g_pIpFilterList.empty());
}

TEST_F(IpTables, ExpiryRemovesTheEntryItSentNotAnEarlierDuplicateAndSendsThatOneAgain) {
  Load("1.2.3.4|80|永远,1.2.3.4|80|1分钟", "");
  LoadListsIntoDriver(g_pIpOuterList, g_pIpFilterList, [](int) {});
  m_clock.Advance(61);
  ExpireIpFilters();
  EXPECT_EQ("1.2.3.4|80|永远", EncodeIpFilterList(g_pIpFilterList));
  ExpectDriverMirrorsTables();  // still blocked in the driver, as the table says
}

TEST_F(IpTables, ExpiryKeepsWorkingPastTheYear2038) {
  for (int64_t start : {(int64_t(1) << 31) - 30, int64_t(3000000000), (int64_t(1) << 32) - 30}) {
    SCOPED_TRACE(start);
    Reset();
    m_device.blocked.clear();
    m_clock.Set(start);
    ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.1.113.7", "0", "1分钟", 0));
    ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("198.51.100.1", "0", "1个月", 1));
    m_clock.Advance(60);
    ExpireIpFilters();
    EXPECT_EQ(2u, g_pIpFilterList.size()) << "released before its minute was over";
    m_clock.Advance(1);
    ExpireIpFilters();
    ExpireIpFilters();
    EXPECT_EQ("198.51.100.1|0|1个月", EncodeIpFilterList(g_pIpFilterList));
    ExpectDriverMirrorsTables();
  }
}

TEST_F(IpTables, UnknownLabelBlocksForOneSecond) {
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("6.6.6.6", "22", "5 分钟", 0));
  EXPECT_EQ(m_clock.Now() + 1, g_pIpFilterList[0].tExpire);
  EXPECT_EQ("6.6.6.6|22|5 分钟|0", SavedFilters());
  m_clock.Advance(1);
  ExpireIpFilters();
  EXPECT_EQ(1u, g_pIpFilterList.size());
  m_clock.Advance(1);
  ExpireIpFilters();
  EXPECT_TRUE(g_pIpFilterList.empty());
  EXPECT_EQ("", SavedFilters());
}

TEST_F(IpTables, ExceptionRulesAndRemoval) {
  EXPECT_EQ(AddIpOuterOutcome::kAllZero, AddIpOuter("0.0.0.0"));
  EXPECT_STREQ("IP地址不能输入0.0.0.0!", MessageOf(AddIpOuterOutcome::kAllZero));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "8080", "1小时", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("10.0.0.0", "0", "永远", 1));
  // Blocked on any port refuses; a blocked pattern is compared exactly.
  EXPECT_EQ(AddIpOuterOutcome::kBlocked, AddIpOuter("1.2.3.4"));
  EXPECT_STREQ("IP已被冻结,请先解除再添加到例外中!", MessageOf(AddIpOuterOutcome::kBlocked));
  EXPECT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("10.1.2.3"));
  EXPECT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("192.168.0.0"));
  EXPECT_EQ(AddIpOuterOutcome::kExists, AddIpOuter("192.168.1.5"));  // the pattern covers it
  EXPECT_EQ(AddIpOuterOutcome::kExists, AddIpOuter("10.1.2.3"));
  EXPECT_EQ(nullptr, MessageOf(AddIpOuterOutcome::kAdded));
  EXPECT_EQ("10.1.2.3,192.168.0.0", SavedOuters());
  ExpectDriverMirrorsTables();

  const int requests = m_device.requests;
  EXPECT_EQ(RemoveIpOuterOutcome::kDriverRefused, RemoveIpOuter(InetAddr("192.168.1.5")));
  EXPECT_EQ(requests, m_device.requests);  // nothing to remove, nothing sent
  EXPECT_EQ(RemoveIpOuterOutcome::kRemoved, RemoveIpOuter(InetAddr("10.1.2.3")));
  EXPECT_EQ(nullptr, MessageOf(RemoveIpOuterOutcome::kRemoved));
  EXPECT_EQ("192.168.0.0", SavedOuters());
  ExpectDriverMirrorsTables();
  // With the exception gone the address can be blocked again.
  EXPECT_EQ(BlockIpOutcome::kAdded, BlockIp("10.1.2.3", "0", "永远", 1));
}

TEST_F(IpTables, SavedTablesLoadBackAfterARestart) {
  g_bDriverHonoursExact = true;  // the automatic 61.135.0.0 is sent as the exact address it is
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("10.0.0.0", "0", "永远", 1));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "5分钟", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.135.0.0", "443", "24小时", 0));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("192.168.0.0"));
  ASSERT_EQ(AddIpOuterOutcome::kAdded, AddIpOuter("8.8.8.8"));
  EXPECT_EQ("10.0.0.0|0|永远,1.2.3.4|80|5分钟|0,61.135.0.0|443|24小时|0", SavedFilters());
  EXPECT_EQ("192.168.0.0,8.8.8.8", SavedOuters());
  std::vector<std::vector<uint8_t>> driverBefore = m_device.blocked;

  // Restart: empty tables, a later clock, the same file.
  Reset();
  m_clock.Advance(1000);
  CSettings settings;
  LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  EXPECT_EQ("10.0.0.0|0|永远,1.2.3.4|80|5分钟|0,61.135.0.0|443|24小时|0", EncodeIpFilterList(g_pIpFilterList));
  EXPECT_EQ("192.168.0.0,8.8.8.8", EncodeIpOuterList(g_pIpOuterList));
  for (const auto& f : g_pIpFilterList) EXPECT_EQ(1, f->nType);  // loaded entries count as by hand
  EXPECT_EQ(0, g_pIpFilterList[0].tExpire);
  EXPECT_EQ(m_clock.Now() + 300, g_pIpFilterList[1].tExpire);     // the full duration again
  EXPECT_EQ(m_clock.Now() + 86400, g_pIpFilterList[2].tExpire);
  EXPECT_EQ(driverBefore.size(), m_device.blocked.size());  // loading sends nothing
}

}  // namespace

// Blocks loaded from the file at start pass the same checks as BlockIp before they reach the
// driver: an automatic entry that a driver without the exact mark would read as a pattern, and
// every host on every port (which the load drops already), stay listed and saved but out of
// the driver.
TEST_F(IpTables, StartLoadKeepsProtectedBlocksOutOfTheDriverButInTheList) {
  const std::string file =
      "192.0.0.0|0|1小时|0,61.0.0.0|0|1小时|0,0.0.0.0|0|永远,8.8.8.8|0|永远,203.0.0.0|0|1小时|0";
  for (bool honoured : {false, true}) {
    SCOPED_TRACE(honoured);
    Reset();
    m_device.blocked.clear();
    m_device.exceptions.clear();
    g_saLocalIp = {"192.168.1.5"};
    Load(file, "61.135.0.0");
    g_bDriverHonoursExact = honoured;
    std::vector<std::string> told;
    LoadTablesIntoDriver([](int) {}, [&](const _CIPFilter& e) { told.push_back(InetNtoa(e.dwIp)); });
    std::vector<std::string> sent;
    for (const auto& record : m_device.blocked) sent.push_back(InetNtoa(GetLe32(&record[0])));
    std::sort(sent.begin(), sent.end());
    if (honoured) {
      EXPECT_EQ((std::vector<std::string>{"192.0.0.0", "203.0.0.0", "61.0.0.0", "8.8.8.8"}), sent);
      EXPECT_TRUE(told.empty());
    } else {
      // Every automatic entry with a 0 octet, protected or not, would be a pattern there.
      EXPECT_EQ((std::vector<std::string>{"8.8.8.8"}), sent);
      EXPECT_EQ((std::vector<std::string>{"192.0.0.0", "61.0.0.0", "203.0.0.0"}), told);
      EXPECT_NE(std::string(HeldBackReason(g_pIpFilterList[3])), HeldBackReason(_CIPFilter{}));
    }
    EXPECT_EQ(4u, g_pIpFilterList.size());
    EXPECT_EQ(0, m_store.m_nWrites);  // the file keeps them
    EXPECT_TRUE(HeldBackAtStart(_CIPFilter{}));  // every host, every port
  }
}

namespace {

class CMemoryJournal : public IListJournal {
 public:
  std::string text;
  void Append(const std::string& line) override { text += line + "\n"; }
  std::string ReadAll() override { return text; }
  void Clear() override { text.clear(); }
};

}  // namespace

// A guard blocking many addresses a second: the blocked list is written once, by the flush; every
// change is in the journal until then, and a load after a crash (no flush) plays it back, so the
// restarted program blocks what the crashed one did.
TEST_F(IpTables, BlocksAreSavedTogetherAndAJournalKeepsThemAcrossACrash) {
  CMemoryJournal journal;
  SetIpFilterJournal(&journal);
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("8.8.8.8", "0", "永远", 1));
  FlushIpFilterList();
  EXPECT_TRUE(journal.text.empty()) << "saved: nothing left to play back";
  m_store.m_nWrites = 0;
  for (int i = 1; i <= 100; ++i)
    ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("203.1." + std::to_string(i) + ".9", "0", "1小时", 0));
  EXPECT_EQ(0, m_store.m_nWrites);
  EXPECT_TRUE(IpFilterListUnsaved());
  EXPECT_TRUE(FlushIpFilterList());
  EXPECT_EQ(1, m_store.m_nWrites);
  EXPECT_FALSE(IpFilterListUnsaved());
  EXPECT_TRUE(journal.text.empty());

  // The changes of the last second, then the program dies before its flush.
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("61.7.7.7", "0", "1小时", 0));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "5分钟", 1));
  ASSERT_TRUE(ReleaseIpFilter(InetAddr("203.1.1.9"), 0));
  ASSERT_TRUE(ReleaseIpFilter(InetAddr("1.2.3.4"), PortFromText("80")));
  ASSERT_EQ(BlockIpOutcome::kAdded, BlockIp("1.2.3.4", "80", "永远", 1));
  const std::string before = EncodeIpFilterList(g_pIpFilterList);
  const std::string journalled = journal.text;
  const std::string file = ReadIni(m_store, kConfigFile, "ipfilter", "ipfilterlst");
  ASSERT_EQ(std::string::npos, file.find("61.7.7.7"));

  Reset();
  CSettings settings;
  LoadConfiguration(m_store, m_clock, settings, g_pIpFilterList, g_pIpOuterList);
  EXPECT_EQ(before, EncodeIpFilterList(g_pIpFilterList));  // 61.7.7.7 keeps its exact mark "|0"
  EXPECT_EQ(before, ReadIni(m_store, kConfigFile, "ipfilter", "ipfilterlst"));
  EXPECT_TRUE(journal.text.empty());

  // Played twice (a crash after the save, before the journal was emptied): the same list.
  CIpFilterList again;
  DecodeIpFilterList(before, m_clock, again);
  ReplayIpFilterJournal(journalled, m_clock, again);
  EXPECT_EQ(before, EncodeIpFilterList(again));
  // A release of everything, and a last line cut short, which could have lost its "|0".
  again.clear();
  DecodeIpFilterList(before, m_clock, again);
  ReplayIpFilterJournal("*\n+5.5.5.5|0|永远\n+62.0.0.0|0|1小时", m_clock, again);
  EXPECT_EQ("5.5.5.5|0|永远", EncodeIpFilterList(again));
  SetIpFilterJournal(nullptr);
}
