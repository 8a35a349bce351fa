// The alert settings window's checks and save order, over an in-memory configuration.
#include <gtest/gtest.h>

#include "alerts/alert_settings.h"
#include "config/ini_access.h"
#include "config/profile_store.h"

namespace {

TEST(AlertSettings, EmailAddressTable) {
  for (const char* good : {"a@b.c", "ops@example.com", "first.last@mail.example.com.cn", "x_y-z@a.b.c.d",
                           "ab@c.d", "名字@b.c", ".@ab.c", "a@b.c!"})
    EXPECT_TRUE(IsValidEmailAddress(good)) << good;
  for (const char* bad : {"a@bc", "a@b.c.d.e.f", "@ab.c", "a@.bc", "ab.@c.d", "a@b.c.", "a@b@c.d", "a@.c",
                          "", "ab.c", "a@b.", "a.b@c"})
    EXPECT_FALSE(IsValidEmailAddress(bad)) << bad;
}

TEST(AlertSettings, MobileNumbers) {
  EXPECT_TRUE(IsValidMobileNumber("13800138000"));
  for (const char* bad : {"23800138000", "1380013800", "1380013800a", "138001380001", "", " 3800138000"})
    EXPECT_FALSE(IsValidMobileNumber(bad)) << bad;
}

TEST(AlertSettings, BalanceLabelTrimsTheServiceFigure) {
  EXPECT_EQ("共25条", SmsBalanceLabel(" 25\r\n"));
  EXPECT_EQ("共0条", SmsBalanceLabel("0"));
}

class AlertSave : public ::testing::Test {
 protected:
  std::string Key(const char* key) { return ReadIni(store, kConfigFile, "msg", key); }
  std::string Save() {
    return SaveAlertSettings(form, settings, store, [this] { ++ipAlertOn; }, [this] { ++hostChanges; });
  }
  CMemoryProfileStore store;
  CSettings settings;
  CAlertForm form;
  int ipAlertOn = 0, hostChanges = 0;
};

TEST_F(AlertSave, WritesEverySwitchThenBothAddresses) {
  form.switches = {true, true, false, false, true, false, false, true};
  form.bEmail = true;
  form.strEmail = "ops@example.com";
  form.bSms = true;
  form.strPhone = "13800138000";
  EXPECT_EQ(msgdlg::kSaved, Save());
  const char* keys[] = {"downchk", "ipfilterchk", "wormchk", "diskchk", "cpuchk", "memorychk", "timerchk", "userchk"};
  std::string written;
  for (const char* key : keys) written += Key(key);
  EXPECT_EQ("11001001", written);
  EXPECT_TRUE(settings.downchk && settings.ipfilterchk && settings.cpuchk && settings.userchk);
  EXPECT_FALSE(settings.wormchk || settings.diskchk || settings.memorychk || settings.timerchk);
  EXPECT_EQ("ops@example.com", Key("emil"));
  EXPECT_EQ("13800138000", Key("phone"));
  EXPECT_EQ("13800138000", settings.strPhone);
  EXPECT_EQ(1, ipAlertOn);  // off to on: later blocks only
  EXPECT_EQ(msgdlg::kSaved, Save());
  EXPECT_EQ(1, ipAlertOn);  // already on: rows waiting for the next alert stay

  // Unticked channels write empty addresses, so no alert goes there.
  form.bEmail = form.bSms = false;
  EXPECT_EQ(msgdlg::kSaved, Save());
  EXPECT_EQ("", Key("emil"));
  EXPECT_EQ("", settings.strEmail);
  EXPECT_EQ("", settings.strPhone);
}

TEST_F(AlertSave, ARefusedAddressStopsTheSaveAfterTheSwitches) {
  settings.strEmail = "old@example.com";
  settings.strPhone = "13900000000";
  form.switches[3] = true;
  form.bEmail = true;
  form.strEmail = "bad@address";
  form.bSms = true;
  form.strPhone = "13800138000";
  EXPECT_EQ(msgdlg::kBadEmail, Save());
  EXPECT_EQ("1", Key("diskchk"));
  EXPECT_TRUE(settings.diskchk);
  EXPECT_FALSE(store.Has(kConfigFile, "msg", "emil"));
  EXPECT_FALSE(store.Has(kConfigFile, "msg", "phone"));
  EXPECT_EQ("old@example.com", settings.strEmail);  // alerts still go where the file says
  EXPECT_EQ("13900000000", settings.strPhone);

  form.strEmail = "new@example.com";
  form.strPhone = "1380013800x";
  EXPECT_EQ(msgdlg::kBadMobile, Save());
  EXPECT_EQ("new@example.com", Key("emil"));
  EXPECT_EQ("new@example.com", settings.strEmail);
  EXPECT_FALSE(store.Has(kConfigFile, "msg", "phone"));
  EXPECT_EQ("13900000000", settings.strPhone);
}

// The host is saved last: a refused one is neither written nor taken, and only a different one
// tells the service to move.
TEST_F(AlertSave, TheServiceHostIsCheckedWrittenTrimmedAndAnnouncedOnlyWhenItChanges) {
  settings.strServiceHost = "old.example:8086";
  form.bEmail = true;
  form.strEmail = "ops@example.com";
  form.strServiceHost = "vendor.example:0";
  EXPECT_EQ(msgdlg::kBadServiceHost, Save());
  EXPECT_EQ("ops@example.com", Key("emil"));
  EXPECT_FALSE(store.Has(kConfigFile, "msg", "servicehost"));
  EXPECT_EQ("old.example:8086", settings.strServiceHost);
  EXPECT_EQ(0, hostChanges);

  form.strServiceHost = " svc.example.com:8087 ";
  EXPECT_EQ(msgdlg::kSaved, Save());
  EXPECT_EQ("svc.example.com:8087", Key("servicehost"));
  EXPECT_EQ("svc.example.com:8087", settings.strServiceHost);
  EXPECT_EQ(1, hostChanges);
  EXPECT_EQ(msgdlg::kSaved, Save());
  EXPECT_EQ(1, hostChanges);  // the same host: nothing to resolve again

  form.strServiceHost = "";  // back to the build-time host
  EXPECT_EQ(msgdlg::kSaved, Save());
  EXPECT_EQ("", Key("servicehost"));
  EXPECT_EQ(2, hostChanges);
}

}  // namespace
