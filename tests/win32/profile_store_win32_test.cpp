// The configuration file through the system's real private-profile functions.
#include "config/profile_store_win32.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "config/ini_access.h"
#include "config/settings.h"
#include "scratch_dir_win32.h"

namespace {

TEST(Win32ProfileStore, GbkValuesRoundTripByteForByte) {
  CScratchDir dir;
  CWin32ProfileStore store;
  const std::string label = "24小时";
  const std::string list = "61.135.0.0|80|24小时,8.8.8.8|0|永远";
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "sysice", "sysicetimer", label));
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", list));
  EXPECT_EQ(label, ReadIni(store, kConfigFile, "sysice", "sysicetimer"));
  EXPECT_EQ(list, ReadIni(store, kConfigFile, "ipfilter", "ipfilterlst"));
  // The file itself holds the GBK bytes, no BOM.
  const std::string raw = ReadWholeFile(dir.File("tavrick.cfg"));
  EXPECT_NE(std::string::npos, raw.find("sysicetimer=" + label));
  EXPECT_NE('\xEF', raw.empty() ? 0 : raw[0]);
}

TEST(Win32ProfileStore, MissingFileSectionAndKeyReadEmpty) {
  CScratchDir dir;
  CWin32ProfileStore store;
  EXPECT_EQ("", ReadIni(store, kConfigFile, "sysice", "sysicetimer"));
  EXPECT_FALSE(FileExists(dir.File("tavrick.cfg")));
  WriteIni(store, kConfigFile, "msg", "emil", "a@b.c");
  EXPECT_EQ("", ReadIni(store, kConfigFile, "msg", "phone"));
  EXPECT_EQ("", ReadIni(store, kConfigFile, "ping", "pingin"));
}

TEST(Win32ProfileStore, LongValuesAreCutTo9999Bytes) {
  CScratchDir dir;
  CWin32ProfileStore store;
  const std::string longValue(12000, '7');
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", longValue);
  EXPECT_EQ(std::string(9999, '7'), ReadIni(store, kConfigFile, "ipouter", "ipouterlst"));
}

TEST(Win32ProfileStore, LoadWithoutFileGivesDefaultsAndWritesOneShotMarkers) {
  CScratchDir dir;
  CWin32ProfileStore store;
  CManualClock clock;
  CSettings settings;
  CIpFilterList filters;
  CIpOuterList exceptions;
  LoadConfiguration(store, clock, settings, filters, exceptions);
  EXPECT_EQ("5分钟", settings.sysicetimer);
  EXPECT_TRUE(filters.empty());
  EXPECT_TRUE(exceptions.empty());
  EXPECT_EQ(90, settings.logday);
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "runtray"));
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "onlinetime"));
}

TEST(Win32ProfileStore, LoadReadsGbkListsAndResetsMarkers) {
  CScratchDir dir;
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", "1.2.3.4|80|24小时,5.6.7.8|0|永远");
  WriteIni(store, kConfigFile, "ipouter", "ipouterlst", "192.168.0.0,8.8.8.8");
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "3600");
  WriteIni(store, kConfigFile, "sysice", "runtray", "1");
  CManualClock clock(1000000);
  CSettings settings;
  CIpFilterList filters;
  CIpOuterList exceptions;
  LoadConfiguration(store, clock, settings, filters, exceptions);
  ASSERT_EQ(2u, filters.size());
  EXPECT_EQ("24小时", filters[0]->strTime);
  EXPECT_EQ(1000000 + 86400, filters[0]->tExpire);
  EXPECT_EQ(2u, exceptions.size());
  EXPECT_EQ(3600, settings.llProtectSeconds);
  EXPECT_EQ("1", settings.runtray);
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "runtray"));
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "onlinetime"));
  // Saving the loaded lists gives back the same text.
  EXPECT_EQ("1.2.3.4|80|24小时,5.6.7.8|0|永远", EncodeIpFilterList(filters));
  EXPECT_EQ("192.168.0.0,8.8.8.8", EncodeIpOuterList(exceptions));
}

}  // namespace
