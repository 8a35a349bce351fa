// Version file, hand-over decision and its guards, the daily notice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_signer.h"
#include "config/profile_store.h"
#include "update/upgrade_handover.h"
#include "update/version_check.h"
#include "upgrader/build_signature.h"

namespace {

const char kBase[] = "http://svc";

// The version file's address answers `answer`, its ".sig" the vendor's signature of `signedText`
// (of `answer` itself while that is empty).
class CScriptedHttp : public IHttpPort {
 public:
  std::string answer, signedText;
  std::vector<std::string> urls;
  std::string FetchUrl(const std::string& url) override {
    urls.push_back(url);
    if (url.find(".sig") == std::string::npos) return answer;
    return StandInSignatureFile(VersionFileSignedText(signedText.empty() ? answer : signedText));
  }
};

// Records what the check did to the system, in order.
class CFakeUpgradePorts : public IUpgradePorts {
 public:
  int bits = 32;
  int64_t now = 1700000000;
  bool updaterThere = true, recordWritable = true;
  EStage stage = EStage::Staged;
  std::string stageReason;
  CUpgradeRecord record;
  std::vector<std::string> steps, logs;
  int SystemBits() override { return bits; }
  int64_t Now() override { return now; }
  CUpgradeRecord ReadRecord() override { return record; }
  bool WriteRecord(const CUpgradeRecord& r) override {
    steps.push_back("record " + r.strVersion + "/" + std::to_string(r.nBits) + " from " + r.strFrom);
    if (recordWritable) record = r;
    return recordWritable;
  }
  EStage StageUpdate(const std::string& commandLine, std::string& reason) override {
    steps.push_back("stage " + commandLine);
    if (stage == EStage::Failed) reason = stageReason;
    return updaterThere ? stage : EStage::NoUpdater;
  }
  bool PrepareUpdater(const std::string& commandLine) override {
    steps.push_back("prepare " + commandLine);
    return updaterThere;
  }
  void CancelUpdater() override { steps.push_back("cancel"); }
  void RemoveTrayIcon() override { steps.push_back("tray removed"); }
  void RunUpdaterAndEnd() override { steps.push_back("run and end"); }
  void ShowStatus(const std::string& text) override { steps.push_back("status " + text); }
  void Log(const std::string& line) override { logs.push_back(line); }
};

struct CheckCase : ::testing::Test {
  EUpgradeOutcome Run(const std::string& answer, int buildBits, const char* own = "2.36") {
    http.answer = answer;
    ports.steps.clear();
    ports.logs.clear();
    return CUpgradeCheck(http, ports, kBase, own, buildBits).Run();
  }
  CScriptedHttp http;
  CFakeUpgradePorts ports;
};

TEST(VersionFile, ArgumentsNumbersAndUnusableAnswers) {
  // 2.40 with two further fields, 32-bit build on a 32-bit system.
  CUpgradeDecision d = DecideUpgrade("2.40,a,b", kBase, "2.36", 32, 32);
  EXPECT_TRUE(d.bUpgrade);
  EXPECT_EQ("http://svc/tavrick/newsoft/x86/,a,b", d.strArguments);
  // 2.36 alone, 32-bit build on a 64-bit system: the x64 folder and a single comma.
  d = DecideUpgrade("2.36", kBase, "2.36", 32, 64);
  EXPECT_TRUE(d.bUpgrade);
  EXPECT_EQ("http://svc/tavrick/newsoft/x64/,", d.strArguments);
  EXPECT_FALSE(DecideUpgrade("2.36", kBase, "2.36", 64, 64).bUpgrade);
  // Empty pieces are kept, an empty last piece is not.
  EXPECT_EQ("http://svc/tavrick/newsoft/x86/,,b", DecideUpgrade("2.5,,b,", kBase, "2.36", 32, 32).strArguments);

  // Numbers, not texts: 2.4 is newer than 2.36, 2.360 is not.
  EXPECT_TRUE(DecideUpgrade("2.4", kBase, "2.36", 64, 64).bUpgrade);
  EXPECT_FALSE(DecideUpgrade("2.360", kBase, "2.36", 64, 64).bUpgrade);
  EXPECT_FALSE(DecideUpgrade("2.30", kBase, "2.36", 64, 64).bUpgrade);
  EXPECT_LT(VersionNumber("2.36"), VersionNumber("2.4"));

  // Empty, non-numeric, zero or negative answers are unusable, even with a width to change.
  for (const char* answer : {"", "abc", "0", "-3", ",2.40", "not found", "<html>2.40"}) {
    EXPECT_FALSE(DecideUpgrade(answer, kBase, "2.36", 32, 64).bUpgrade) << answer;
  }
}

TEST_F(CheckCase, HandsOverRecordsFirstAndNeverTwiceADay) {
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.40,a,b", 32));
  EXPECT_EQ((std::vector<std::string>{"http://svc/tavrick/version.txt", "http://svc/tavrick/version.txt.sig"}), http.urls);
  const std::vector<std::string> handOver = {"stage upgrade.exe /stage 2.40 2.36 http://svc/tavrick/newsoft/x86/,a,b",
                                             "prepare upgrade.exe http://svc/tavrick/newsoft/x86/,a,b",
                                             "record 2.40/32 from 2.36", "tray removed", "run and end"};
  EXPECT_EQ(handOver, ports.steps);
  EXPECT_EQ("started", ports.record.strResult);

  // The same version again within the day (failed, or installed and still not running): the
  // program stays and says so. Another version, or a day later, hands over again.
  ports.record.strResult = "failed";
  ports.now += 3600;
  EXPECT_EQ(EUpgradeOutcome::RecentlyHandedOver, Run("2.4,a,b", 32));
  EXPECT_EQ(std::vector<std::string>{"status 升级到2.4失败,请下载最新版本"}, ports.steps);
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.41", 32));
  ports.now += kHandOverRetrySeconds;
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.41", 32));
  ports.now -= 3 * kHandOverRetrySeconds;  // a clock set far back does not block for ever
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.41", 32));

  // 32-bit build on a 64-bit system, same version: the same rule, by version and width.
  ports.bits = 64;
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.36", 32));
  EXPECT_EQ("record 2.36/64 from 2.36", ports.steps[2]);
  EXPECT_EQ(EUpgradeOutcome::RecentlyHandedOver, Run("2.36", 32));
  EXPECT_EQ(EUpgradeOutcome::NoUpgrade, Run("2.36", 64));
}

TEST_F(CheckCase, WithoutUpdaterOrRecordTheProgramGoesOn) {
  ports.updaterThere = false;
  EXPECT_EQ(EUpgradeOutcome::UpdaterMissing, Run("2.40", 32));
  EXPECT_EQ(std::vector<std::string>({"stage upgrade.exe /stage 2.40 2.36 http://svc/tavrick/newsoft/x86/,",
                                      "status 无法启动upgrade.exe,最新版本:2.40"}),
            ports.steps);
  EXPECT_TRUE(ports.record.strVersion.empty());  // a later start may try again

  ports.updaterThere = true;
  ports.recordWritable = false;
  EXPECT_EQ(EUpgradeOutcome::NotRecorded, Run("2.40", 32));
  EXPECT_EQ("cancel", ports.steps[3]);
  EXPECT_EQ("status 升级到2.40失败,请下载最新版本", ports.steps.back());

  // Nothing at all for an unreachable service or an older version.
  EXPECT_EQ(EUpgradeOutcome::NoUpgrade, Run("", 32));
  EXPECT_EQ(EUpgradeOutcome::NoUpgrade, Run("2.30", 32));
  EXPECT_TRUE(ports.steps.empty());
}

// The build is downloaded and checked while the program protects; only a whole, verified stage is
// handed over to. A failed one ends nothing and records nothing: the next start tries again.
TEST_F(CheckCase, OnlyABuildStagedWhileTheProgramProtectsIsHandedOverTo) {
  ports.stage = IUpgradePorts::EStage::Failed;
  ports.stageReason = "摘要不符: a.dll\r\n12:00:00 forged";  // one line of the log, whatever the updater wrote
  EXPECT_EQ(EUpgradeOutcome::StageFailed, Run("2.40,a,b", 32));
  EXPECT_EQ(std::vector<std::string>{"下载新版本2.40失败: 摘要不符: a.dll12:00:00 forged"}, ports.logs);
  EXPECT_EQ((std::vector<std::string>{"stage upgrade.exe /stage 2.40 2.36 http://svc/tavrick/newsoft/x86/,a,b",
                                      "status 升级到2.40失败,请下载最新版本"}),
            ports.steps);
  EXPECT_TRUE(ports.record.strVersion.empty());
  EXPECT_EQ(EUpgradeOutcome::StageFailed, Run("2.40 x,a,b", 32, "2.36 y"));  // one word each
  EXPECT_EQ("stage upgrade.exe /stage 2.40_x 2.36_y http://svc/tavrick/newsoft/x86/,a,b", ports.steps[0]);
  ports.stage = IUpgradePorts::EStage::Staged;
  EXPECT_EQ(EUpgradeOutcome::HandedOver, Run("2.40,a,b", 32));
  EXPECT_EQ("run and end", ports.steps.back());
}

// Whoever answers for the service can serve any version file: one the vendor did not sign is
// neither handed over for nor named in the status bar.
TEST_F(CheckCase, AVersionFileTheVendorDidNotSignIsNotActedOn) {
  http.signedText = "2.40,a,b";
  for (const char* served : {"2.40,a,c", "2.41,a,b", "2.40,a,b\r\n", "2.40,a,b,"}) {
    EXPECT_EQ(EUpgradeOutcome::NoUpgrade, Run(served, 32)) << served;
    EXPECT_TRUE(ports.steps.empty()) << served;
    EXPECT_EQ(std::vector<std::string>{"版本文件没有厂商的签名,不予采用"}, ports.logs) << served;
    std::string latest = "2.36";
    EXPECT_EQ("", DailyVersionCheck(http, kBase, "2.36", 1700000000, latest)) << served;
    EXPECT_EQ("2.36", latest);
  }
  http.signedText = "";
  // Nor one without a signature, or with another key's.
  class CUnsignedHttp : public IHttpPort {
   public:
    std::string signature;
    std::string FetchUrl(const std::string& url) override {
      return url.find(".sig") == std::string::npos ? "2.40" : signature;
    }
  } unsigned_;
  unsigned char otherSeed[32] = {9}, otherSignature[64];
  Ed25519Sign(otherSeed, VersionFileSignedText("2.40"), otherSignature);
  for (const std::string& signature : {std::string(), ToHex(otherSignature, 64), std::string("2.40")}) {
    unsigned_.signature = signature;
    EXPECT_EQ(EUpgradeOutcome::NoUpgrade, CUpgradeCheck(unsigned_, ports, kBase, "2.36", 32).Run()) << signature;
    EXPECT_EQ("", FetchSignedVersionFile(unsigned_, kBase, ""));
  }
  unsigned_.signature = StandInSignatureFile(VersionFileSignedText("2.40"));
  bool refused = true;
  EXPECT_EQ("2.40", FetchSignedVersionFile(unsigned_, kBase, "", &refused));
  EXPECT_FALSE(refused);
}

TEST(VersionFile, RecordSurvivesTheProfileFileAndCarriesNoLineBreaks) {
  CMemoryProfileStore store;
  ASSERT_TRUE(WriteUpgradeRecord(store, "u.ini", {"2.40\r\nx=1", 64, "2.36", 1700000000123, "started", ""}));
  const CUpgradeRecord read = ReadUpgradeRecord(store, "u.ini");
  EXPECT_EQ("2.40x=1", read.strVersion);
  EXPECT_EQ(64, read.nBits);
  EXPECT_EQ("2.36", read.strFrom);
  EXPECT_EQ(1700000000123, read.tTime);
  EXPECT_EQ("started", read.strResult);
  store.m_bFailWrites = true;
  EXPECT_FALSE(WriteUpgradeRecord(store, "u.ini", read));
}

TEST(VersionFile, AHandOverThatWasRefusedDoesNotHoldTheNextOneBackForADay) {
  CMemoryProfileStore store;
  ASSERT_TRUE(WriteUpgradeRecord(store, "u.ini", {"2.40", 64, "2.36", 1700000000, "started", ""}));
  EXPECT_TRUE(HandedOverRecently(ReadUpgradeRecord(store, "u.ini"), "2.40", 64, 1700000060));
  ASSERT_TRUE(WithdrawHandOver(store, "u.ini"));  // an exit was confirmed before the end ran
  EXPECT_FALSE(HandedOverRecently(ReadUpgradeRecord(store, "u.ini"), "2.40", 64, 1700000060));
  EXPECT_EQ("refused", store.Get("u.ini", "upgrade", "result"));
}

TEST(VersionFile, TheUpdatersStatesAsTheProgramReadsThem) {
  CMemoryProfileStore store;
  // Started by the updater after a replacement: the start is confirmed, once the record asks.
  EXPECT_FALSE(ConfirmUpdatedStart(store, "u.ini", "2.40", false));
  EXPECT_EQ("", store.Get("u.ini", "upgrade", "confirmed"));
  store.Put("u.ini", "upgrade", "result", "starting");
  EXPECT_TRUE(ConfirmUpdatedStart(store, "u.ini", "2.40\r\n", false));
  EXPECT_EQ("2.40", store.Get("u.ini", "upgrade", "confirmed"));
  // A build that is to protect confirms once it protects, not when its window stands.
  store.Put("u.ini", "upgrade", "confirmed", "");
  store.Put("u.ini", "upgrade", "protect", "1");
  EXPECT_FALSE(ConfirmUpdatedStart(store, "u.ini", "2.40", false));
  EXPECT_EQ("", store.Get("u.ini", "upgrade", "confirmed"));
  EXPECT_TRUE(UpdatedStartAwaitsProtection(store, "u.ini"));
  EXPECT_TRUE(ConfirmUpdatedStart(store, "u.ini", "2.40", true));
  EXPECT_EQ("2.40", store.Get("u.ini", "upgrade", "confirmed"));
  EXPECT_FALSE(UpdateInterrupted(store, "u.ini"));
  store.Put("u.ini", "upgrade", "result", "installing");
  EXPECT_TRUE(UpdateInterrupted(store, "u.ini"));
  EXPECT_FALSE(UpdatedStartAwaitsProtection(store, "u.ini"));
  EXPECT_FALSE(ConfirmUpdatedStart(store, "u.ini", "2.40", true));  // half-replaced files never count as up

  EXPECT_TRUE(WriteProtectCarryOver(store, "u.ini", true));
  EXPECT_EQ("1", store.Get("u.ini", "upgrade", "protect"));
  EXPECT_TRUE(WriteProtectCarryOver(store, "u.ini", false));
  EXPECT_EQ("0", store.Get("u.ini", "upgrade", "protect"));
}

TEST(VersionFile, DailyCheckOnlyNamesANewerVersion) {
  EXPECT_EQ(" 2.40", JoinedLines("2.40"));
  EXPECT_EQ(" 2.40,a b", JoinedLines("2.40,a\r\nb\n"));
  EXPECT_EQ("", JoinedLines(""));

  CScriptedHttp http;
  std::string latest = "2.36";
  http.answer = "2.40,x";
  EXPECT_EQ("当前版本: 2.40请下载最新版本", DailyVersionCheck(http, kBase, "2.36", 1700000000, latest));
  EXPECT_EQ((std::vector<std::string>{"http://svc/tavrick/version.txt?rad=1700000000",
                                      "http://svc/tavrick/version.txt.sig?rad=1700000000"}),
            http.urls);
  EXPECT_EQ(" 2.40", latest);
  for (const char* answer : {"", "2.36", "2.1", "abc"}) {
    http.answer = answer;
    EXPECT_EQ("", DailyVersionCheck(http, kBase, "2.36", 1700000000, latest)) << answer;
  }
  EXPECT_EQ(" 2.40", latest);
}

}  // namespace
