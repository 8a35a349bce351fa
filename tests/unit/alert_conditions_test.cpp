// The alert conditions: the upload alert's text and cursor, the administrator baseline, the
// clock alert, and the group member list they read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alerts/alert_conditions.h"
#include "common/local_users.h"
#include "config/settings.h"

namespace {

class CRecordingSender : public IAlertSender {
 public:
  std::vector<CAlert> sent;
  void Send(const CAlert& alert) override { sent.push_back(alert); }
};

class CFakeUsers : public ILocalUsers {
 public:
  std::vector<CAccount> accounts;
  bool fails = false;
  bool ListAccounts(std::vector<CAccount>* out) override {
    if (fails) return false;
    *out = accounts;
    return true;
  }
  void Add(const std::string& name, std::vector<std::string> groups) { accounts.push_back({name, std::move(groups)}); }
};

const std::vector<std::string> kLocalIps = {"10.0.0.5", "127.0.0.1"};

// ---- upload alert ----

class UploadAlert : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.wormchk = true;
    settings.strEmail = "ops@example.com";
    settings.strPhone = "13800138000";
  }
  CSettings settings;
  CRecordingSender sender;
  int32_t cursor = 0;
};

TEST_F(UploadAlert, SuspiciousRowsSinceTheCursorMakeOneAlert) {
  const std::vector<CResultRowView> rows = {
      {"D:\\www\\old.php", "可疑"}, {"P1", "可疑"}, {"P2", " 可疑 "}, {"D:\\www\\ok.php", "正常"}, {"P3", "可疑"}};
  cursor = 1;
  CheckUploadAlert(settings, rows, cursor, sender);
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_EQ("web目录有文件_P1|P2|P3|可疑文件增加", sender.sent[0].strMailText);
  EXPECT_EQ(sender.sent[0].strMailText, sender.sent[0].strSmsText);
  EXPECT_EQ("ops@example.com", sender.sent[0].strEmail);
  EXPECT_EQ("13800138000", sender.sent[0].strPhone);
  EXPECT_EQ(5, cursor);
  CheckUploadAlert(settings, rows, cursor, sender);  // nothing new
  EXPECT_EQ(1u, sender.sent.size());
}

TEST_F(UploadAlert, TextOfAHundredBytesGoesInFullByMailOnly) {
  // "web目录有文件_" is 14 bytes, "|" 1 and "可疑文件增加" 12: a 73-byte name makes exactly 100.
  const std::string name(73, 'a');
  CheckUploadAlert(settings, {{name, "可疑"}}, cursor, sender);
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_EQ(100u, sender.sent[0].strMailText.size());
  EXPECT_EQ("web目录有大量文件变化,内容变化内容太长短信无法发送。请查看电子邮件! ", sender.sent[0].strSmsText);
  const std::string shorter(72, 'a');
  EXPECT_EQ("web目录有文件_" + shorter + "|可疑文件增加", UploadSmsText("web目录有文件_" + shorter + "|可疑文件增加"));
}

TEST_F(UploadAlert, SwitchedOffKeepsTheCursorAndLaterAlertsEverythingSince) {
  settings.wormchk = false;
  cursor = -3;
  const std::vector<CResultRowView> rows = {{"P1", "可疑"}, {"P2", "可疑"}};
  CheckUploadAlert(settings, rows, cursor, sender);
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_EQ(-3, cursor);
  settings.wormchk = true;
  CheckUploadAlert(settings, rows, cursor, sender);  // a negative cursor starts at the first row
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_EQ("web目录有文件_P1|P2|可疑文件增加", sender.sent[0].strMailText);
}

TEST_F(UploadAlert, NoSuspiciousRowOrNoAddressSendsNothingButMovesTheCursor) {
  CheckUploadAlert(settings, {{"a.php", "正常"}}, cursor, sender);
  EXPECT_EQ(1, cursor);
  settings.strEmail.clear();
  settings.strPhone.clear();
  CheckUploadAlert(settings, {{"a.php", "正常"}, {"b.php", "可疑"}}, cursor, sender);
  EXPECT_EQ(2, cursor);
  EXPECT_TRUE(sender.sent.empty());
}

// ---- administrator baseline ----

class AdminCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.userchk = true;
    settings.strEmail = "ops@example.com";
    users.Add("root", {"Administrators", "Users"});
    users.Add("guest", {"Guests"});
    FillAdminBaseline(baseline, users);
  }
  void Check() { CheckNewAdmin(checking, baseline, settings, kLocalIps, users, sender); }
  CSettings settings;
  CFakeUsers users;
  CAdminBaseline baseline;
  CRecordingSender sender;
  bool checking = false;
};

TEST_F(AdminCheck, TwoNewAccountsGiveOneAlertNamingTheFirst) {
  users.Add("evil1", {"Users", "Administrators"});
  users.Add("evil2", {"Administrators"});
  Check();
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_EQ("10.0.0.5服务器刚刚创建一个administrators组帐号：evil1请核对是否是管理员创建!", sender.sent[0].strMailText);
  EXPECT_FALSE(checking);
  Check();
  EXPECT_EQ(1u, sender.sent.size());  // the second is in the refreshed baseline
  ASSERT_EQ(3u, baseline.members.size());
  EXPECT_EQ(" Administrators", baseline.members[2].strGroups);
}

TEST_F(AdminCheck, RemovalAndOtherLetterCaseRaiseNothing) {
  users.accounts.erase(users.accounts.begin());  // root goes
  users.Add("sly", {"administrators"});
  users.Add("sly2", {"ADMINISTRATORS", "Administrators "});
  Check();
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_TRUE(baseline.members.empty());  // the latest listing: root has gone
}

TEST_F(AdminCheck, AnAccountRemovedAndAddedAgainIsReportedAgain) {
  const CFakeUsers::CAccount root = users.accounts[0];
  users.accounts.erase(users.accounts.begin());
  Check();
  users.accounts.push_back(root);
  Check();
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_NE(std::string::npos, sender.sent[0].strMailText.find("root请核对"));
}

TEST_F(AdminCheck, AccountsAreToldApartByIdentifierOrSystemName) {
  // Two names outside the code page both read "??": the system's names tell them apart.
  users.accounts[0].wstrName = u"root";
  users.accounts.push_back({"??", {"Administrators"}, u"\u0101\u0102", ""});
  Check();
  ASSERT_EQ(1u, sender.sent.size());
  users.accounts.push_back({"??", {"Administrators"}, u"\u0103\u0104", ""});
  Check();
  ASSERT_EQ(2u, sender.sent.size());
  // A renamed account (same identifier) is no new administrator; a new identifier is.
  users.accounts = {{"root", {"Administrators"}, u"root", "S-1-5-21-1-500"}};
  Check();
  users.accounts = {{"admin2", {"Administrators"}, u"admin2", "S-1-5-21-1-500"}};
  Check();
  EXPECT_EQ(2u, sender.sent.size());
  users.accounts = {{"admin2", {"Administrators"}, u"admin2", "S-1-5-21-1-1001"}};
  Check();
  EXPECT_EQ(3u, sender.sent.size());
}

TEST_F(AdminCheck, GuardSwitchAndFailedListingsStopTheRun) {
  users.Add("evil", {"Administrators"});
  checking = true;  // a run is on its way
  Check();
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_TRUE(checking);
  checking = false;
  settings.userchk = false;
  Check();
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_FALSE(checking);
  settings.userchk = true;
  users.fails = true;
  Check();
  EXPECT_TRUE(sender.sent.empty());
  users.fails = false;
  CheckNewAdmin(checking, baseline, settings, {}, users, sender);  // no own address: no text
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_FALSE(checking);
  Check();  // still new on the next run
  ASSERT_EQ(1u, sender.sent.size());
  EXPECT_NE(std::string::npos, sender.sent[0].strMailText.find("evil请核对"));
}

TEST_F(AdminCheck, WithoutABaselineTheFirstListingOnlyTakesOne) {
  CAdminBaseline unknown;
  users.fails = true;
  FillAdminBaseline(unknown, users);
  EXPECT_FALSE(unknown.bKnown);
  users.fails = false;
  CheckNewAdmin(checking, unknown, settings, kLocalIps, users, sender);
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_TRUE(unknown.bKnown);
  users.Add("evil", {"Administrators"});
  CheckNewAdmin(checking, unknown, settings, kLocalIps, users, sender);
  EXPECT_EQ(1u, sender.sent.size());
}

TEST(GroupUsers, MembersInOrderWithTheirGroupsAndEveryAccountForNoGroup) {
  CFakeUsers users;
  users.Add("a", {"Users"});
  users.Add("b", {"Remote Desktop Users", "Administrators"});
  users.Add(std::string(98, 'n') + "网", {std::string(1000, 'g'), "Administrators"});
  std::vector<_userstruct> list;
  ASSERT_TRUE(GetGroupUsers(users, "Administrators", &list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("b", list[0].strName);
  EXPECT_EQ(" Remote Desktop Users Administrators", list[0].strGroups);
  EXPECT_EQ(std::string(98, 'n'), list[1].strName);  // cut to 99 bytes, never inside a character
  EXPECT_EQ(999u, list[1].strGroups.size());
  list.clear();
  ASSERT_TRUE(GetGroupUsers(users, "", &list));
  EXPECT_EQ(3u, list.size());
  users.fails = true;
  EXPECT_FALSE(GetGroupUsers(users, "", &list));
  EXPECT_EQ(3u, list.size());
}

// ---- clock alert ----

TEST(ClockAlert, RepeatsWhileASkewIsRecordedAndOnlyWithItsSwitch) {
  CSettings settings;
  settings.timerchk = true;
  settings.strPhone = "139";
  CRecordingSender sender;
  CheckClockAlert(settings, "", kLocalIps, sender);
  EXPECT_TRUE(sender.sent.empty());
  CheckClockAlert(settings, "7", kLocalIps, sender);
  CheckClockAlert(settings, "7", kLocalIps, sender);
  ASSERT_EQ(2u, sender.sent.size());
  EXPECT_EQ("10.0.0.5服务器系统时间可能与北京时间不同,请登录服务器核实!", sender.sent[0].strSmsText);
  EXPECT_EQ("", sender.sent[0].strEmail);
  settings.timerchk = false;
  CheckClockAlert(settings, "7", kLocalIps, sender);
  EXPECT_EQ(2u, sender.sent.size());
}

}  // namespace
