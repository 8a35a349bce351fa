#include <gtest/gtest.h>

#include <cstring>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "config/settings.h"
#include "driver/driver_records.h"

namespace {

TEST(IniInt, DefaultUnlessTheTextIsExactlyZero) {
  EXPECT_EQ(28, IniInt("", 28));
  EXPECT_EQ(28, IniInt("abc", 28));
  EXPECT_EQ(28, IniInt("0x10", 28));
  EXPECT_EQ(28, IniInt("00", 28));  // a zero that is not the text "0"
  EXPECT_EQ(0, IniInt("0", 28));
  EXPECT_EQ(12, IniInt("12abc", 28));
  EXPECT_EQ(-5, IniInt("-5", 28));
  EXPECT_EQ(7, IniInt(" 7", 28));
}

TEST(IniString, EmptyGivesDefault) {
  EXPECT_EQ("off", IniString("", "off"));
  EXPECT_EQ("on", IniString("on", "off"));
  EXPECT_EQ(" ", IniString(" ", "off"));
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out{"stale"};
  SplitString(text, sep, out);
  return out;
}

TEST(SplitString, KeepsEmptyMiddleFieldsButNotAnEmptyTail) {
  EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), Split("a,,b", ','));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Split("a,b,", ','));
  EXPECT_EQ((std::vector<std::string>{}), Split("", ','));
  EXPECT_EQ((std::vector<std::string>{""}), Split(",", ','));
  EXPECT_EQ((std::vector<std::string>{"", "x"}), Split(",x", ','));
  EXPECT_EQ((std::vector<std::string>{"1.2.3.4", "80", "24小时"}), Split("1.2.3.4|80|24小时", '|'));
}

TEST(ReadIni, ValuesOfAnyLengthRoundTrip) {
  CMemoryProfileStore store;
  std::string list;
  while (list.size() < 100 * 1024) list += "203.0.113." + std::to_string(list.size() % 250) + "|0|24小时,";
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", list));
  EXPECT_EQ(list, ReadIni(store, kConfigFile, "ipfilter", "ipfilterlst"));
  EXPECT_EQ("", ReadIni(store, kConfigFile, "ipouter", "missing"));
}

// A reader with the habits of GetPrivateProfileStringA: copies what fits, NUL-terminated, and
// returns size - 1 when the value was cut.
std::function<size_t(char*, size_t)> ProfileLikeRead(const std::string& value, int* calls) {
  return [value, calls](char* buffer, size_t size) -> size_t {
    ++*calls;
    const size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
  };
}

TEST(ReadIni, TheGrowingBufferReadsWholeValues) {
  for (size_t length : {size_t(0), size_t(9998), size_t(9999), size_t(10000), size_t(100 * 1024)}) {
    std::string value(length, 'x');
    for (size_t i = 0; i < length; i += 97) value[i] = static_cast<char>('a' + i % 26);
    int calls = 0;
    EXPECT_TRUE(value == ReadWholeValue(ProfileLikeRead(value, &calls))) << length;
    EXPECT_LE(calls, 5) << length;
  }
}

TEST(WriteIni, AValueThatIsAlreadyThereIsNotWrittenAgain) {
  CMemoryProfileStore store;
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ping", "pingin", "0"));
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ping", "pingin", "0"));
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", ""));  // creates the key
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", ""));
  EXPECT_EQ(2, store.m_nWrites);
  EXPECT_TRUE(store.Has(kConfigFile, "ipfilter", "ipfilterlst"));
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ping", "pingin", "1"));
  EXPECT_EQ(3, store.m_nWrites);
}

TEST(WriteIni, ReportsFailure) {
  CMemoryProfileStore store;
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "msg", "emil", "a@b.c"));
  store.m_bFailWrites = true;
  EXPECT_EQ(0, WriteIni(store, kConfigFile, "msg", "emil", "x@y.z"));
  EXPECT_EQ("a@b.c", ReadIni(store, kConfigFile, "msg", "emil"));
}

class LoadConfigurationTest : public ::testing::Test {
 protected:
  void Set(const char* section, const char* key, const std::string& value) {
    store.Put(kConfigFile, section, key, value);
  }
  void Load() { LoadConfiguration(store, clock, settings, filters, exceptions); }
  std::string Get(const char* section, const char* key) { return store.Get(kConfigFile, section, key); }

  CMemoryProfileStore store;
  CManualClock clock{1800000000};
  CSettings settings;
  CIpFilterList filters;
  CIpOuterList exceptions;
};

TEST_F(LoadConfigurationTest, NoFileGivesEveryDefault) {
  Load();
  EXPECT_EQ("5分钟", settings.sysicetimer);
  EXPECT_EQ(0, settings.sysiceipcount);
  EXPECT_EQ(0, settings.sysiceipmb);
  EXPECT_TRUE(filters.empty());
  EXPECT_TRUE(exceptions.empty());
  EXPECT_EQ("off", settings.watchfileon);
  EXPECT_EQ("", settings.watchfilepath);
  for (const auto& slot : settings.watchfileext) EXPECT_EQ("", slot);
  EXPECT_EQ(28, settings.watchfilelogcount);
  EXPECT_FALSE(settings.downchk || settings.ipfilterchk || settings.wormchk || settings.diskchk ||
               settings.cpuchk || settings.memorychk || settings.timerchk || settings.userchk);
  EXPECT_EQ("", settings.strEmail);
  EXPECT_EQ("", settings.strPhone);
  EXPECT_FALSE(settings.pingin || settings.pingout);
  EXPECT_EQ("", settings.remotepassw);
  EXPECT_EQ(90, settings.logday);
  EXPECT_EQ(0, settings.llProtectSeconds);
  EXPECT_EQ("0", Get("sysice", "runtray"));
  EXPECT_EQ("0", Get("sysice", "onlinetime"));
}

TEST_F(LoadConfigurationTest, OneShotMarkersActOnceAndAreWrittenBackAsZero) {
  Set("sysice", "onlinetime", "3600");
  Set("sysice", "runtray", "1");
  Load();
  EXPECT_EQ(3600, settings.llProtectSeconds);
  EXPECT_EQ("1", settings.runtray);
  EXPECT_EQ("0", Get("sysice", "runtray"));
  EXPECT_EQ("0", Get("sysice", "onlinetime"));
}

TEST_F(LoadConfigurationTest, NegativeOnlineTimeIsSignExtended) {
  Set("sysice", "onlinetime", "-2");
  Load();
  EXPECT_EQ(-2, settings.llProtectSeconds);
}

TEST_F(LoadConfigurationTest, BlockedListNeedsThreeFieldsAndIgnoresExtraOnes) {
  Set("ipfilter", "ipfilterlst", "1.2.3.4|80,1.2.3.4|80|24小时|x,8.8.8.8|0|永远,9.9.9.9|0|1分钟,9.9.9.9|0|1分钟");
  Load();
  ASSERT_EQ(4u, filters.size());  // duplicates are not filtered
  const _CIPFilter& first = *filters[0];
  EXPECT_EQ(InetAddr("1.2.3.4"), first.dwIp);
  EXPECT_EQ(PortFromText("80"), first.dwPort);
  EXPECT_EQ("24小时", first.strTime);
  EXPECT_EQ(1800000000 + 86400, first.tExpire);
  EXPECT_EQ(1, first.nType);
  EXPECT_EQ("add", first.strAction);
  EXPECT_EQ(0, filters[1]->tExpire);
  EXPECT_EQ("永远", filters[1]->strTime);
  EXPECT_EQ(1800000000 + 60, filters[2]->tExpire);
}

TEST_F(LoadConfigurationTest, UnknownLabelBlocksForOneSecond) {
  Set("ipfilter", "ipfilterlst", "1.2.3.4|0|2分钟");
  Load();
  ASSERT_EQ(1u, filters.size());
  EXPECT_EQ(1800000000 + 1, filters[0]->tExpire);
  EXPECT_EQ("2分钟", filters[0]->strTime);
}

TEST_F(LoadConfigurationTest, ExceptionListSkipsEmptyAndMalformedItems) {
  Set("ipouter", "ipouterlst", "192.168.0.0,, 10.0.0.5 ,10.1,8.8.8.8x,010.1.1.1,1.2.3.256,172.16");
  Load();
  ASSERT_EQ(2u, exceptions.size());
  EXPECT_EQ(InetAddr("192.168.0.0"), exceptions[0]->dwIp);
  EXPECT_EQ(InetAddr("10.0.0.5"), exceptions[1]->dwIp);  // blanks trimmed
  EXPECT_EQ(0u, exceptions[1]->dwPort);
}

TEST_F(LoadConfigurationTest, CutOrMalformedBlockedItemsNeverBecomeAnotherAddress) {
  // inet_addr and atol would read each of these as some other address or port: 1.2.3 as
  // 1.2.0.3 (a pattern!), 010 as 8, a leading blank as 0.0.0.0, 70000 as port 4464, "" as port 0.
  Set("ipfilter", "ipfilterlst",
      "1.2.3|0|永远,010.1.1.1|0|永远, 5.6.7.8|80|1小时,9.9.9.9|70000|永远,9.9.9.9||永远,9.9.9.9|8o|永远,"
      "1.2.3.4.5|0|永远,1.2.3.4.|0|永远,-1.2.3.4|0|永远,7.7.7.7|+80|永远,6.6.6.6|0|永远,"
      " 4.4.4.4 | 443 | 5分钟 |  0 ,0.0.0.0|0|永远,0.0.0.0|25|1小时,203.0.113.7|0|24小");
  Load();
  ASSERT_EQ(5u, filters.size()) << EncodeIpFilterList(filters);
  EXPECT_EQ("5.6.7.8|80|1小时,6.6.6.6|0|永远,4.4.4.4|443|5分钟|0,0.0.0.0|25|1小时,203.0.113.7|0|24小",
            EncodeIpFilterList(filters));
  EXPECT_EQ(1800000000 + 300, filters[2]->tExpire);  // the trimmed label is a known one
  EXPECT_TRUE(IsExactEntry(*filters[2]));
  // A cut label is only a shorter block (one second), never another address.
  EXPECT_EQ(1800000000 + 1, filters[4]->tExpire);
}

TEST_F(LoadConfigurationTest, WatchTypesArePositional) {
  Set("ipwatchfile", "watchfileext", "asp,,aspx,php,,jsp");
  Load();
  EXPECT_EQ("asp", settings.watchfileext[0]);
  EXPECT_EQ("", settings.watchfileext[1]);
  EXPECT_EQ("aspx", settings.watchfileext[2]);
  EXPECT_EQ("php", settings.watchfileext[3]);
  EXPECT_EQ("", settings.watchfileext[4]);  // the sixth field is ignored

  Set("ipwatchfile", "watchfileext", "php");
  Load();
  EXPECT_EQ("php", settings.watchfileext[0]);
  for (int i = 1; i < kWatchTypeCount; ++i) EXPECT_EQ("", settings.watchfileext[i]);
}

TEST_F(LoadConfigurationTest, FlagsNeedExactlyOne) {
  Set("msg", "downchk", "1");
  Set("msg", "ipfilterchk", "on");
  Set("msg", "userchk", "1 ");
  Set("ping", "pingin", "1");
  Set("ping", "pingout", "0");
  Load();
  EXPECT_TRUE(settings.downchk);
  EXPECT_FALSE(settings.ipfilterchk);
  EXPECT_FALSE(settings.userchk);
  EXPECT_TRUE(settings.pingin);
  EXPECT_FALSE(settings.pingout);
}

TEST_F(LoadConfigurationTest, NumbersFollowTheIniIntRule) {
  Set("log", "logday", "0");
  Set("ipwatchfile", "watchfilelogcount", "abc");
  Set("sysice", "sysiceipcount", "500");
  Set("sysice", "sysiceipmb", "x");
  settings.sysiceipmb = 7;  // the current value is the default
  Load();
  EXPECT_EQ(0, settings.logday);
  EXPECT_EQ(28, settings.watchfilelogcount);
  EXPECT_EQ(500, settings.sysiceipcount);
  EXPECT_EQ(7, settings.sysiceipmb);

  Set("log", "logday", "abc");
  Load();
  EXPECT_EQ(90, settings.logday);
}

TEST_F(LoadConfigurationTest, TextSettingsAreReadAsTheyAre) {
  Set("msg", "emil", "admin@example.com");
  Set("msg", "phone", "13800000000");
  Set("msg", "servicehost", "vendor.example:8086");
  Set("remote", "remotepassw", "e10adc3949ba59abbe56e057f20f883e");
  Set("ipwatchfile", "watchfilepath", "D:\\网站\\www");
  Set("ipwatchfile", "watchfileon", "on");
  Set("sysice", "sysicetimer", "1小时");
  Load();
  EXPECT_EQ("admin@example.com", settings.strEmail);
  EXPECT_EQ("13800000000", settings.strPhone);
  EXPECT_EQ("vendor.example:8086", settings.strServiceHost);
  EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", settings.remotepassw);
  EXPECT_EQ("D:\\网站\\www", settings.watchfilepath);
  EXPECT_EQ("on", settings.watchfileon);
  EXPECT_EQ("1小时", settings.sysicetimer);
}

TEST(ListEncodings, RoundTripThroughTheLoader) {
  CManualClock clock;
  CIpFilterList filters;
  filters.push_back(CreateIpFilter("10.0.0.0", "0", "永远", 1, clock));
  filters.push_back(CreateIpFilter("1.2.3.4", "80", "5分钟", 0, clock));
  CIpOuterList exceptions;
  exceptions.push_back(CreateIpOuter("192.168.0.0", "0"));
  exceptions.push_back(CreateIpOuter("8.8.8.8", "0"));
  // The automatic entry carries its type: the exact mark comes back with it.
  EXPECT_EQ("10.0.0.0|0|永远,1.2.3.4|80|5分钟|0", EncodeIpFilterList(filters));
  EXPECT_EQ("192.168.0.0,8.8.8.8", EncodeIpOuterList(exceptions));
  EXPECT_EQ("", EncodeIpFilterList({}));
  EXPECT_EQ("", EncodeIpOuterList({}));

  CMemoryProfileStore store;
  store.Put(kConfigFile, "ipfilter", "ipfilterlst", EncodeIpFilterList(filters));
  store.Put(kConfigFile, "ipouter", "ipouterlst", EncodeIpOuterList(exceptions));
  CSettings settings;
  CIpFilterList loadedFilters;
  CIpOuterList loadedExceptions;
  LoadConfiguration(store, clock, settings, loadedFilters, loadedExceptions);
  EXPECT_EQ(EncodeIpFilterList(filters), EncodeIpFilterList(loadedFilters));
  EXPECT_EQ(EncodeIpOuterList(exceptions), EncodeIpOuterList(loadedExceptions));
  EXPECT_EQ(1, loadedFilters[1]->nType);  // loaded entries count as hand-made
  EXPECT_TRUE(IsExactEntry(*loadedFilters[1]));
  EXPECT_FALSE(IsExactEntry(*loadedFilters[0]));
  EXPECT_EQ(EncodeIpFilter(*filters[1])[8], EncodeIpFilter(*loadedFilters[1])[8]);
}

TEST(ListEncodings, WatchTypesKeepEmptySlots) {
  std::array<std::string, kWatchTypeCount> slots = {"asp", "", "aspx", "php", ""};
  EXPECT_EQ("asp,,aspx,php,", EncodeWatchTypes(slots));
}

}  // namespace
