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

TEST(Win32ProfileStore, LongValuesComeBackWhole) {
  CScratchDir dir;
  CWin32ProfileStore store;
  for (size_t length : {size_t(9999), size_t(12000), size_t(100 * 1024)}) {
    std::string value(length, '7');
    for (size_t i = 0; i < length; i += 101) value[i] = static_cast<char>('a' + i % 26);
    WriteIni(store, kConfigFile, "ipouter", "ipouterlst", value);
    EXPECT_TRUE(value == ReadIni(store, kConfigFile, "ipouter", "ipouterlst")) << length;
  }
}

TEST(Win32ProfileStore, UnchangedValuesLeaveTheFileAloneAndSavesKeepTheGoodCopy) {
  CScratchDir dir;
  CWin32ProfileStore store;
  WriteIni(store, kConfigFile, "ping", "pingin", "0");
  WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", "");
  const std::string copy = ReadWholeFile(dir.File("tavrick.cfg.bak"));
  EXPECT_EQ(ReadWholeFile(dir.File("tavrick.cfg")), copy);
  EXPECT_NE(std::string::npos, copy.find("ipfilterlst=\r\n"));
  // Make the file's time stand out, then write the same values again: nothing is rewritten.
  HANDLE h = CreateFileA(dir.File("tavrick.cfg").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  FILETIME old = {0x12345678, 0x01C00000};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &old));
  CloseHandle(h);
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ping", "pingin", "0"));
  EXPECT_EQ(1, WriteIni(store, kConfigFile, "ipfilter", "ipfilterlst", ""));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(dir.File("tavrick.cfg").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(old.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(old.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
  // The protection time is written every second without a new copy each time.
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");
  WriteIni(store, kConfigFile, "sysice", "onlinetime", "2");
  EXPECT_NE(std::string::npos, ReadWholeFile(dir.File("tavrick.cfg.bak")).find("onlinetime=1\r\n"));
  EXPECT_FALSE(FileExists(dir.File("tavrick.cfg.bak.tmp")));
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
