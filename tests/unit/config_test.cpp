#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/crt_text.h"
#include "config/ini_access.h"
#include "config/profile_store.h"
#include "config/settings.h"

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

TEST(ReadIni, CutsValuesTo9999Bytes) {
  CMemoryProfileStore store;
  store.Put(kConfigFile, "ipouter", "ipouterlst", std::string(10005, 'x'));
  EXPECT_EQ(9999u, ReadIni(store, kConfigFile, "ipouter", "ipouterlst").size());
  EXPECT_EQ("", ReadIni(store, kConfigFile, "ipouter", "missing"));
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

TEST_F(LoadConfigurationTest, ExceptionListKeepsEmptyMiddleItems) {
  Set("ipouter", "ipouterlst", "192.168.0.0,,10.0.0.5");
  Load();
  ASSERT_EQ(3u, exceptions.size());
  EXPECT_EQ(InetAddr("192.168.0.0"), exceptions[0]->dwIp);
  EXPECT_EQ(kInaddrNone, exceptions[1]->dwIp);  // built from an empty address text
  EXPECT_EQ(0u, exceptions[2]->dwPort);
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
  Set("remote", "remotepassw", "e10adc3949ba59abbe56e057f20f883e");
  Set("ipwatchfile", "watchfilepath", "D:\\网站\\www");
  Set("ipwatchfile", "watchfileon", "on");
  Set("sysice", "sysicetimer", "1小时");
  Load();
  EXPECT_EQ("admin@example.com", settings.strEmail);
  EXPECT_EQ("13800000000", settings.strPhone);
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
  EXPECT_EQ("10.0.0.0|0|永远,1.2.3.4|80|5分钟", EncodeIpFilterList(filters));
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
}

TEST(ListEncodings, WatchTypesKeepEmptySlots) {
  std::array<std::string, kWatchTypeCount> slots = {"asp", "", "aspx", "php", ""};
  EXPECT_EQ("asp,,aspx,php,", EncodeWatchTypes(slots));
}

}  // namespace
