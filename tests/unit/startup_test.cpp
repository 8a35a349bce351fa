#include "app/startup.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

class FakeStartup : public IStartupPorts {
 public:
  bool CreateInstanceMutex(const std::string& name) override {
    m_strMutexName = name;
    ++m_nMutexCalls;
    ++m_nHeld;
    return m_bOtherCopy;
  }
  void CloseInstanceMutex() override { --m_nHeld; }
  bool HandInterruptedUpdateToUpdater() override {
    ++m_nRecoveryChecks;
    return m_bInterruptedUpdate;
  }
  bool AskServiceCopyToHandOver() override {
    ++m_nHandOverAsks;
    return m_bServiceCopyHolds;
  }
  bool WaitForHandOver(int seconds) override {
    m_nWaitSeconds = seconds;
    return m_bHandedOver;
  }
  void OfferHandOver() override { ++m_nOffers; }
  bool StartedByServiceCopy() override { return m_bServiceMark; }
  void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
  void EnableControlHosting() override {}
  bool RunMainDialog() override {
    ++m_nDialogRuns;
    if (m_bDialogThrows) throw std::runtime_error("dialog");
    return !m_bNoWindow;
  }

  bool m_bOtherCopy = false;
  bool m_bDialogThrows = false;
  bool m_bNoWindow = false;
  bool m_bInterruptedUpdate = false;
  bool m_bServiceCopyHolds = false;
  bool m_bHandedOver = false;
  bool m_bServiceMark = false;
  int m_nHandOverAsks = 0;
  int m_nWaitSeconds = 0;
  int m_nOffers = 0;
  std::string m_strMutexName;
  int m_nMutexCalls = 0;
  int m_nRecoveryChecks = 0;
  int m_nHeld = 0;  // handles to the mutex this copy keeps
  int m_nDialogRuns = 0;
  std::vector<std::string> m_messages;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_bRebootUp = false;
    g_bTookOver = false;
    g_bServiceCopy = false;
  }
  FakeStartup ports;
};

TEST_F(StartupTest, SecondCopyIsRefusedWithItsMessage) {
  ports.m_bOtherCopy = true;
  EXPECT_FALSE(InitInstance("", ports));
  EXPECT_EQ(0, ports.m_nDialogRuns);
  EXPECT_EQ(0, ports.m_nHeld);  // the refused copy lets go before it says so
  ASSERT_EQ(1u, ports.m_messages.size());
  EXPECT_EQ("已经运行一个程序,不能重复运行!", ports.m_messages[0]);
}

TEST_F(StartupTest, RebootIsNotRefusedButHoldsTheMutexLikeAnyCopy) {
  ports.m_bOtherCopy = true;
  EXPECT_FALSE(InitInstance("reboot", ports));
  EXPECT_EQ(1, ports.m_nMutexCalls);
  EXPECT_EQ(1, ports.m_nHeld);  // so a later normal start is refused once the old copy is gone
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_TRUE(ports.m_messages.empty());
  EXPECT_FALSE(g_bRebootUp);
}

TEST_F(StartupTest, RebootUpIsCheckedLikeANormalStart) {
  ports.m_bOtherCopy = true;
  InitInstance("rebootup", ports);
  EXPECT_EQ(0, ports.m_nDialogRuns);
  EXPECT_FALSE(g_bRebootUp);

  ports.m_bOtherCopy = false;
  InitInstance("rebootup", ports);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_TRUE(g_bRebootUp);
}

TEST_F(StartupTest, OnlyTheExactWordsCount) {
  ports.m_bOtherCopy = true;
  for (const char* words : {"Reboot", "reboot ", " reboot", "REBOOTUP", "rebootup "}) {
    ports.m_messages.clear();
    InitInstance(words, ports);
    EXPECT_EQ(1u, ports.m_messages.size()) << words;
  }
  EXPECT_EQ(0, ports.m_nDialogRuns);
  EXPECT_FALSE(g_bRebootUp);
}

TEST_F(StartupTest, TheServicesCopyHandsOverToAnAdministratorsCopyWhichThenStartsLikeARestart) {
  ports.m_bOtherCopy = true;
  ports.m_bServiceCopyHolds = true;
  ports.m_bHandedOver = true;
  int exitCode = -1;
  InitInstance("", ports, &exitCode);
  EXPECT_EQ(1, ports.m_nHandOverAsks);
  EXPECT_EQ(kHandOverWaitSeconds, ports.m_nWaitSeconds);
  EXPECT_EQ(1, ports.m_nHeld);  // it holds the name on, as the service's copy lets it go
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_TRUE(ports.m_messages.empty());
  EXPECT_TRUE(g_bTookOver);
  EXPECT_EQ(0, ports.m_nOffers);  // an administrator's copy is not handed over again

  // The service's copy never answered (it is ending after a confirmed exit): refused as before.
  SetUp();
  ports.m_bHandedOver = false;
  ports.m_nHeld = 0;
  InitInstance("", ports);
  EXPECT_EQ(0, ports.m_nHeld);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_EQ(std::vector<std::string>{kAlreadyRunningText}, ports.m_messages);
  EXPECT_FALSE(g_bTookOver);

  // An administrator's copy holds the name (no service's copy to ask): refused as before.
  ports.m_bServiceCopyHolds = false;
  ports.m_messages.clear();
  InitInstance("", ports);
  EXPECT_EQ(std::vector<std::string>{kAlreadyRunningText}, ports.m_messages);
}

TEST_F(StartupTest, TheServicesCopyOffersTheHandOverAndEndsWithoutABoxWhenACopyRuns) {
  int exitCode = -1;
  InitInstance("rebootup service", ports, &exitCode);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_EQ(1, ports.m_nOffers);
  EXPECT_TRUE(g_bServiceCopy);
  EXPECT_TRUE(g_bRebootUp);  // protection starts without a question, as after a restart
  EXPECT_EQ(0, exitCode);

  // In the services' session nobody could answer "already running": it ends quietly, and it
  // asks nobody to hand over to it.
  SetUp();
  ports.m_bOtherCopy = true;
  ports.m_bServiceCopyHolds = true;
  ports.m_nHeld = 0;
  InitInstance("rebootup service", ports, &exitCode);
  EXPECT_EQ(kServiceCopyRefusedExitCode, exitCode);
  EXPECT_TRUE(ports.m_messages.empty());
  EXPECT_EQ(0, ports.m_nHeld);
  EXPECT_EQ(0, ports.m_nHandOverAsks);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_EQ(1, ports.m_nOffers);
}

// The service's copy restarts itself daily or is replaced by the updater: the copy that comes
// up in the services' session is the service's as well, so an administrator can still take over.
TEST_F(StartupTest, ACopyTheServicesCopyStartedIsTheServicesToo) {
  ports.m_bServiceMark = true;
  ports.m_bOtherCopy = true;  // the old copy is still ending
  InitInstance("reboot", ports);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_EQ(1, ports.m_nOffers);
  EXPECT_TRUE(g_bServiceCopy);

  SetUp();
  ports.m_bOtherCopy = false;  // the updater's build, once the old one ended
  InitInstance("rebootup", ports);
  EXPECT_EQ(2, ports.m_nOffers);
  EXPECT_TRUE(g_bServiceCopy);
  EXPECT_TRUE(g_bRebootUp);

  SetUp();
  ports.m_bServiceMark = false;
  InitInstance("rebootup", ports);
  EXPECT_EQ(2, ports.m_nOffers);
  EXPECT_FALSE(g_bServiceCopy);
}

TEST_F(StartupTest, NormalStartRunsTheMainWindowOnce) {
  int exitCode = -1;
  EXPECT_FALSE(InitInstance("", ports, &exitCode));
  EXPECT_EQ(0, exitCode);
  EXPECT_EQ(1, ports.m_nMutexCalls);
  // One name for the whole machine, not one per logon session.
  EXPECT_EQ("Global\\tavrick", ports.m_strMutexName);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_FALSE(g_bRebootUp);
}

TEST_F(StartupTest, FailureDuringStartUpIsReportedAndEndsWithAnErrorCode) {
  ports.m_bDialogThrows = true;
  int exitCode = 0;
  EXPECT_FALSE(InitInstance("", ports, &exitCode));
  EXPECT_EQ(kStartupFailedExitCode, exitCode);
  ASSERT_EQ(1u, ports.m_messages.size());
  EXPECT_EQ("工程异常!", ports.m_messages[0]);

  ports.m_bDialogThrows = false;
  ports.m_bNoWindow = true;  // the main window could not be made
  exitCode = 0;
  InitInstance("", ports, &exitCode);
  EXPECT_EQ(kStartupFailedExitCode, exitCode);
}

TEST_F(StartupTest, AnInterruptedUpdateGoesToTheUpdaterBeforeAnythingRuns) {
  ports.m_bInterruptedUpdate = true;
  int exitCode = -1;
  InitInstance("rebootup", ports, &exitCode);
  EXPECT_EQ(0, exitCode);
  EXPECT_EQ(1, ports.m_nRecoveryChecks);
  EXPECT_EQ(0, ports.m_nDialogRuns);
  EXPECT_FALSE(g_bRebootUp);

  // A refused second copy never touches the folder.
  SetUp();
  ports.m_nRecoveryChecks = 0;
  ports.m_bOtherCopy = true;
  InitInstance("", ports);
  EXPECT_EQ(0, ports.m_nRecoveryChecks);
}

}  // namespace
