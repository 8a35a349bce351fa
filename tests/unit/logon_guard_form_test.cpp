#include "logonguard/logon_guard_form.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/ini_access.h"
#include "config/profile_store.h"
#include "logonguard/logon_guard.h"

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
  // IPv6 is never blocked, whatever else the row says.
  row.bIpv6 = true;
  row.bBlocked = true;
  EXPECT_EQ("未封锁(IPv6)", FailureRowState(row));

  EXPECT_STREQ("网络登录", LogonSourceLabel(ELogonSource::kWindowsNetwork));
  EXPECT_STREQ("SQL Server", LogonSourceLabel(ELogonSource::kSqlServer));
  EXPECT_STREQ("FTP", LogonSourceLabel(ELogonSource::kFtp));
}

// A refused block says why it was refused, not always "例外未封锁"; one held back because the
// driver would read it as a pattern is just not blocked.
TEST(LogonGuardTable, ARefusedRowNamesItsReason) {
  CFailureRow row;
  row.strAddress = "203.0.113.50";
  row.bRefused = true;
  const std::pair<EBlockRefusal, const char*> cases[] = {
      {EBlockRefusal::kException, "例外未封锁"},      {EBlockRefusal::kOwnAddress, "本机未封锁"},
      {EBlockRefusal::kServiceHost, "服务地址未封锁"}, {EBlockRefusal::kDriverRefused, "驱动拒绝封锁"},
      {EBlockRefusal::kInternal, "内网未封锁"},        {EBlockRefusal::kHeldBackPattern, "未封锁"},
      {EBlockRefusal::kNone, "未封锁"}};
  for (const auto& c : cases) {
    row.eRefusal = c.first;
    EXPECT_EQ(c.second, FailureRowState(row)) << static_cast<int>(c.first);
    EXPECT_EQ(c.second, FailureRowCells(row, [](int64_t) { return std::string(); }).back());
  }
  row.bBlocked = true;  // blocked since (by a later run): the refusal is history
  EXPECT_EQ("已封锁", FailureRowState(row));
}

// "blockinternal": off unless the file says "1"; written back with the other keys and kept
// through the window's form.
TEST(LogonGuardForm, TheBlockInternalSwitchIsOffByDefaultAndRoundTrips) {
  const auto read = [](const char* value) {
    return ReadLogonGuardSettings([&](const std::string& key) { return key == "blockinternal" ? value : ""; });
  };
  EXPECT_FALSE(read("").bBlockInternal);
  EXPECT_FALSE(read("yes").bBlockInternal);
  EXPECT_FALSE(read("0").bBlockInternal);
  const CLogonGuardSettings on = read("1");
  EXPECT_TRUE(on.bBlockInternal);
  const auto formatted = FormatLogonGuardSettings(on);
  EXPECT_NE(formatted.end(), std::find(formatted.begin(), formatted.end(), std::make_pair(std::string("blockinternal"), std::string("1"))));
  EXPECT_TRUE(FormatLogonGuardSettings(read("")).back() == std::make_pair(std::string("blockinternal"), std::string("0")));
  CGuardForm form = FormFromSettings(on);
  EXPECT_TRUE(form.bBlockInternal);
  EXPECT_TRUE(CheckGuardForm(form).settings.bBlockInternal);
  form.bBlockInternal = false;
  EXPECT_FALSE(CheckGuardForm(form).settings.bBlockInternal);
}

// A guard that records what it was given and answers as the program's does.
class CSavingGuard : public ILogonGuard {
 public:
  CLogonGuardSettings Settings() const override { return m_settings; }
  std::string Save(const CLogonGuardSettings& settings) override {
    ++m_nSaves;
    if (m_bRefuse) return "refused";
    m_settings = settings;
    return "保存完毕!";
  }
  std::vector<CFailureRow> Rows() override { return {}; }
  CGuardSourceStatus Source(EGuardSource) override { return {}; }
  CLogonGuardSettings m_settings;
  bool m_bRefuse = false;
  int m_nSaves = 0;
};

// The save says what happened: without a guard (protection not started) the file took the
// settings, or could not, and nothing acts on them yet; with the guard switched off, that it is.
TEST(LogonGuardForm, ASaveSaysWhetherTheFileTookItAndWhetherTheGuardRuns) {
  CMemoryProfileStore store;
  CLogonGuardSettings settings = CheckGuardForm(GoodForm()).settings;
  EXPECT_EQ("设置已保存,登录防护未运行(启动防护后开始)。", SaveGuardSettings(nullptr, store, settings));
  EXPECT_EQ("7", ReadIni(store, kConfigFile, kLogonGuardSection, "threshold"));
  EXPECT_EQ("0", ReadIni(store, kConfigFile, kLogonGuardSection, "blockinternal"));
  settings.bEnabled = false;
  EXPECT_EQ("设置已保存,登录防护未开启。", SaveGuardSettings(nullptr, store, settings));
  EXPECT_EQ("0", ReadIni(store, kConfigFile, kLogonGuardSection, "enabled"));
  store.m_bFailWrites = true;
  settings.nThreshold = 9;  // a value the file does not hold yet
  EXPECT_EQ("保存失败,配置文件无法写入!", SaveGuardSettings(nullptr, store, settings));
  store.m_bFailWrites = false;

  // The running guard writes and applies; the window adds only that it is switched off.
  CSavingGuard guard;
  const int writes = store.m_nWrites;
  EXPECT_EQ("保存完毕!登录防护未开启。", SaveGuardSettings(&guard, store, settings));
  settings.bEnabled = true;
  EXPECT_EQ("保存完毕!", SaveGuardSettings(&guard, store, settings));
  guard.m_bRefuse = true;
  settings.bEnabled = false;
  EXPECT_EQ("refused", SaveGuardSettings(&guard, store, settings));
  EXPECT_EQ(3, guard.m_nSaves);
  EXPECT_EQ(writes, store.m_nWrites) << "the guard writes its own section";
}

}  // namespace
