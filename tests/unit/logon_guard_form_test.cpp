#include "logonguard/logon_guard_form.h"

#include <gtest/gtest.h>

namespace {

CGuardForm GoodForm() {
  CGuardForm form;
  form.bEnabled = true;
  form.bEventLog = true;
  form.bSqlServer = false;
  form.bFtp = true;
  form.strThreshold = "7";
  form.strPeriod = "30";
  form.strDuration = "24小时";
  form.strFtpLogFolder = "D:\\logs\\ftp";
  return form;
}

// The good form with one text field changed.
CGuardFormCheck WithField(std::string CGuardForm::*field, const std::string& value) {
  CGuardForm form = GoodForm();
  form.*field = value;
  return CheckGuardForm(form);
}

CGuardFormCheck With(void (*change)(CGuardForm&)) {
  CGuardForm form = GoodForm();
  change(form);
  return CheckGuardForm(form);
}

TEST(LogonGuardForm, AcceptsAGoodFormWithEveryValue) {
  const CGuardFormCheck check = CheckGuardForm(GoodForm());
  ASSERT_TRUE(check.bAccepted);
  EXPECT_EQ("", check.strMessage);
  EXPECT_TRUE(check.settings.bEnabled);
  EXPECT_TRUE(check.settings.bEventLog);
  EXPECT_FALSE(check.settings.bSqlServer);
  EXPECT_TRUE(check.settings.bFtp);
  EXPECT_EQ(7, check.settings.nThreshold);
  EXPECT_EQ(30, check.settings.nPeriodMinutes);
  EXPECT_EQ("24小时", check.settings.strDuration);
  EXPECT_EQ("D:\\logs\\ftp", check.settings.strFtpLogFolder);
  // The bounds themselves are fine.
  EXPECT_TRUE(With([](CGuardForm& f) { f.strThreshold = "2", f.strPeriod = "1"; }).bAccepted);
  EXPECT_TRUE(With([](CGuardForm& f) { f.strThreshold = "100", f.strPeriod = "1440"; }).bAccepted);
  EXPECT_TRUE(With([](CGuardForm& f) { f.strFtpLogFolder = "\\\\fileserver\\iis logs"; }).bAccepted);
}

TEST(LogonGuardForm, RefusesNumbersOutOfBoundsOrNotPlain) {
  for (const char* bad : {"0", "1", "101", "1000", "", "5 ", "-5", "+5", "5a", "0x10", "99999999999999999999"}) {
    const CGuardFormCheck check = WithField(&CGuardForm::strThreshold, bad);
    EXPECT_FALSE(check.bAccepted) << bad;
    EXPECT_EQ(EGuardField::kThreshold, check.eFocus) << bad;
    EXPECT_EQ("失败次数必须是2到100之间的数字!", check.strMessage);
  }
  for (const char* bad : {"0", "1441", "", "10分钟", "-1"})
    EXPECT_EQ(EGuardField::kPeriod, WithField(&CGuardForm::strPeriod, bad).eFocus) << bad;
}

TEST(LogonGuardForm, RefusesUnknownDurationsAndUnsafeFolders) {
  for (const char* bad : {"", "2小时", "永远 "})
    EXPECT_EQ(EGuardField::kDuration, WithField(&CGuardForm::strDuration, bad).eFocus) << bad;
  const std::string tooLong = "C:\\" + std::string(CLogonGuardSettings::kMaxFolderBytes, 'a');
  for (const std::string& bad : {std::string(""), std::string("logs\\ftp"), std::string("C:\\inetpub\\..\\Windows"),
                                 std::string("C:\\logs\\.."), std::string("C:\\logs\\*"), std::string("C:\\a\tb"),
                                 std::string("C:\\logs|x"), std::string(" C:\\logs"), tooLong}) {
    const CGuardFormCheck check = WithField(&CGuardForm::strFtpLogFolder, bad);
    EXPECT_FALSE(check.bAccepted) << bad;
    EXPECT_EQ(EGuardField::kFolder, check.eFocus) << bad;
  }
}

TEST(LogonGuardForm, ShowsSettingsAsAFormThatChecksBackToThem) {
  CLogonGuardSettings settings;
  settings.bEnabled = true;
  settings.bFtp = false;
  settings.nThreshold = 12;
  settings.nPeriodMinutes = 60;
  settings.strDuration = "永远";
  const CGuardForm form = FormFromSettings(settings);
  EXPECT_EQ("12", form.strThreshold);
  EXPECT_EQ("60", form.strPeriod);
  const CGuardFormCheck check = CheckGuardForm(form);
  ASSERT_TRUE(check.bAccepted);
  EXPECT_EQ(FormatLogonGuardSettings(settings), FormatLogonGuardSettings(check.settings));
}

TEST(LogonGuardTable, RowCellsNameSourceUsersCountTimeAndState) {
  CFailureRow row;
  row.strAddress = "203.0.113.50";
  row.eSource = ELogonSource::kRemoteDesktop;
  row.users = {"administrator", "admin"};
  row.nRecent = 3;
  row.nTotal = 9;
  row.tLast = 1700000000;
  row.bBlocked = true;
  const auto time = [](int64_t t) { return "t" + std::to_string(t); };
  EXPECT_EQ((std::vector<std::string>{"203.0.113.50", "远程桌面", "administrator,admin", "9", "t1700000000", "已封锁"}),
            FailureRowCells(row, time));
  EXPECT_EQ(FailureColumnTitles().size(), FailureRowCells(row, time).size());

  row.bBlocked = false;
  EXPECT_EQ("未封锁", FailureRowState(row));
  row.bRefused = true;
  EXPECT_EQ("例外未封锁", FailureRowState(row));
  // IPv6 is never blocked, whatever else the row says.
  row.bIpv6 = true;
  row.bBlocked = true;
  EXPECT_EQ("未封锁(IPv6)", FailureRowState(row));

  EXPECT_STREQ("网络登录", LogonSourceLabel(ELogonSource::kWindowsNetwork));
  EXPECT_STREQ("SQL Server", LogonSourceLabel(ELogonSource::kSqlServer));
  EXPECT_STREQ("FTP", LogonSourceLabel(ELogonSource::kFtp));
}

}  // namespace
