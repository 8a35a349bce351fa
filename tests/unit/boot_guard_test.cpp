#include "service/boot_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/profile_store.h"

namespace {

const char kFile[] = ".\\tavrick.cfg";
const char kCopy[] = ".\\tavrick.cfg.bak";

CBootConfig Config(int64_t carried, bool bootProtect = false, bool adminStopped = false) {
  CBootConfig config;
  config.bFound = true;
  config.llCarriedSeconds = carried;
  config.bBootProtect = bootProtect;
  config.bAdminStopped = adminStopped;
  return config;
}

TEST(BootConfigTest, ReadsTheFileAndFallsBackToTheGoodCopyOnlyWhenTheFileLacksTheState) {
  CMemoryProfileStore store;
  EXPECT_FALSE(ReadBootConfig(store, kFile, kCopy).bFound);  // neither there

  store.Put(kCopy, "sysice", "onlinetime", "500");
  const CBootConfig fromCopy = ReadBootConfig(store, kFile, kCopy);  // the file was emptied
  EXPECT_TRUE(fromCopy.bFound);
  EXPECT_EQ(500, fromCopy.llCarriedSeconds);

  store.Put(kFile, "sysice", "onlinetime", "0");  // the file's own "0" wins over the copy
  store.Put(kFile, "sysice", "bootprotect", "1");
  store.Put(kFile, "sysice", "adminstop", "1");
  const CBootConfig fromFile = ReadBootConfig(store, kFile, kCopy);
  EXPECT_EQ(0, fromFile.llCarriedSeconds);
  EXPECT_TRUE(fromFile.bBootProtect);
  EXPECT_TRUE(fromFile.bAdminStopped);

  // The program writes protection seconds as an unsigned 32-bit number; a cut or garbled value
  // carries nothing over.
  for (const auto& [text, seconds] : std::vector<std::pair<std::string, int64_t>>{
           {"4294967295", 4294967295LL}, {"12x", 0}, {"-5", 0}, {"", 0}, {" 7", 0}}) {
    store.Put(kFile, "sysice", "onlinetime", text);
    EXPECT_EQ(seconds, ReadBootConfig(store, kFile, kCopy).llCarriedSeconds) << text;
  }
}

TEST(BootConfigTest, AnAdministratorsStopOutweighsBothReasonsToProtect) {
  EXPECT_EQ(BootDecision::kCarriedOver, DecideBootProtection(Config(3600)));
  EXPECT_EQ(BootDecision::kAlwaysAtBoot, DecideBootProtection(Config(0, true)));
  EXPECT_EQ(BootDecision::kNotProtecting, DecideBootProtection(Config(0)));
  EXPECT_EQ(BootDecision::kAdminStopped, DecideBootProtection(Config(3600, false, true)));
  EXPECT_EQ(BootDecision::kAdminStopped, DecideBootProtection(Config(0, true, true)));
  EXPECT_EQ(BootDecision::kNoConfig, DecideBootProtection(CBootConfig()));
  EXPECT_FALSE(Protects(BootDecision::kAdminStopped));
  EXPECT_FALSE(Protects(BootDecision::kNoConfig));
}

TEST(RestartBackoffTest, DoublesToTenMinutesAndStartsAfreshAfterAHealthyRun) {
  CRestartBackoff backoff;
  std::vector<int64_t> pauses;
  int64_t now = 1000;
  for (int i = 0; i < 8; ++i) {
    const int64_t pause = backoff.Ended(now, 3);
    pauses.push_back(pause);
    EXPECT_FALSE(backoff.Due(now + pause - 1));
    EXPECT_TRUE(backoff.Due(now + pause));
    now += pause + 3;
  }
  EXPECT_EQ((std::vector<int64_t>{10, 20, 40, 80, 160, 320, 600, 600}), pauses);
  EXPECT_EQ(10, backoff.Ended(now, CRestartBackoff::kHealthyRun));
  EXPECT_EQ(20, backoff.Ended(now, CRestartBackoff::kHealthyRun - 1));
}

class FakeGuardPorts : public IBootGuardPorts {
 public:
  CBootConfig ReadConfig() override { return config; }
  bool ProgramRunning() override { return otherCopy || childRunning; }
  bool StartProgram(uint32_t* error) override {
    ++starts;
    if (startError != 0) {
      *error = startError;
      return false;
    }
    childRunning = true;
    return true;
  }
  bool ChildRunning() override { return childRunning; }
  uint32_t ChildExitCode() override { return exitCode; }
  int64_t Now() override { return now; }
  void Log(const std::string& line) override { log.push_back(line); }

  CBootConfig config = Config(3600);
  bool otherCopy = false;
  bool childRunning = false;
  uint32_t startError = 0;
  uint32_t exitCode = 7;
  int starts = 0;
  int64_t now = 100;
  std::vector<std::string> log;
};

class BootGuardTest : public ::testing::Test {
 protected:
  // Ticks once a second for `seconds`.
  void RunFor(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      guard.Tick();
      ++ports.now;
    }
  }
  FakeGuardPorts ports;
  CBootGuard guard{ports};
};

TEST_F(BootGuardTest, StartsOneCopyAtOnceWhenProtectionWasCarriedOverAndLogsWhy) {
  RunFor(30);
  EXPECT_EQ(1, ports.starts);
  EXPECT_TRUE(guard.HasChild());
  ASSERT_EQ(1u, ports.log.size());
  EXPECT_EQ("上次运行结束时正在防护(已防护3600秒),启动Tavrick(rebootup)", ports.log[0]);
}

TEST_F(BootGuardTest, StartsNothingWithoutAReasonOrAfterAnAdministratorsStopAndSaysSoOnce) {
  ports.config = Config(0);
  RunFor(5);
  ports.config = Config(3600, true, true);
  RunFor(5);
  ports.config = CBootConfig();
  RunFor(5);
  EXPECT_EQ(0, ports.starts);
  EXPECT_EQ((std::vector<std::string>{"上次运行结束时没有防护,不启动Tavrick", "管理员已停止防护或退出软件,不启动Tavrick",
                                      "没有配置文件tavrick.cfg,不启动Tavrick"}),
            ports.log);
}

TEST_F(BootGuardTest, LeavesACopyThatHoldsTheNameAloneAndWaitsForTheNameToStayFree) {
  ports.otherCopy = true;  // an administrator's copy, or one restarting itself
  RunFor(20);
  EXPECT_EQ(0, ports.starts);
  ports.otherCopy = false;  // it ended (or hands over: the successor takes the name soon)
  RunFor(static_cast<int>(CBootGuard::kSettleSeconds) - 1);
  EXPECT_EQ(0, ports.starts);
  RunFor(1);
  EXPECT_EQ(1, ports.starts);
}

TEST_F(BootGuardTest, RestartsAnEndedCopyAfterTheBackoffButNotAfterTheAdministratorLeft) {
  RunFor(1);
  ASSERT_EQ(1, ports.starts);
  RunFor(5);
  ports.childRunning = false;  // crashed after 5 s
  RunFor(static_cast<int>(CRestartBackoff::kFirstDelay));
  EXPECT_EQ(1, ports.starts);
  RunFor(1);
  EXPECT_EQ(2, ports.starts);
  EXPECT_EQ("Tavrick已结束(退出码7,运行6秒)", ports.log[1]);

  ports.childRunning = false;  // this time the administrator's exit ended it
  ports.config = Config(0, false, true);
  RunFor(700);
  EXPECT_EQ(2, ports.starts);
  EXPECT_FALSE(guard.HasChild());
}

// The administrator's copy takes protection over (it holds the name throughout) and is later
// killed, or its administrator logs off: the service's copy comes back once the name stayed
// free, and a hand-over is no failure that would lengthen the pause.
TEST_F(BootGuardTest, AfterAHandOverItWaitsForTheAdministratorsCopyAndComesBackWithoutAPause) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RunFor(30);
    ASSERT_EQ(round + 1, ports.starts);
    ports.exitCode = kProgramHandedOverExitCode;
    ports.childRunning = false;
    ports.otherCopy = true;
    RunFor(5);
    EXPECT_EQ(round + 1, ports.starts);  // never a second copy beside the administrator's
    ports.otherCopy = false;             // killed while protecting: its time is in the file
    RunFor(static_cast<int>(CBootGuard::kSettleSeconds));
    EXPECT_EQ(round + 2, ports.starts);
  }
  EXPECT_EQ("Tavrick已把防护交给管理员启动的Tavrick(运行30秒)", ports.log[1]);
}

TEST_F(BootGuardTest, ACopyThatEndsBeforeItProtectedAgainIsStillRestarted) {
  RunFor(1);
  ports.config = Config(0);  // its load set the time to "0"; it died before protecting
  ports.childRunning = false;
  RunFor(1 + static_cast<int>(CRestartBackoff::kFirstDelay));
  EXPECT_EQ(2, ports.starts);
  EXPECT_EQ("防护没有被管理员停止,启动Tavrick(rebootup)", ports.log.back());
}

TEST_F(BootGuardTest, AStartThatFailsIsTriedAgainAtTheBackoffsPace) {
  ports.startError = 2;
  RunFor(1 + 10 + 20 + 40);  // starts at 0, 10, 30 and 70 s
  EXPECT_EQ(4, ports.starts);
  EXPECT_EQ("无法启动Tavrick(错误2),10秒后重试", ports.log[0]);
  ports.startError = 0;
  RunFor(80);
  EXPECT_EQ(5, ports.starts);
  EXPECT_TRUE(guard.HasChild());
}

}  // namespace
