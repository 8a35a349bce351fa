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
  std::string m_strMutexName;
  int m_nMutexCalls = 0;
  int m_nRecoveryChecks = 0;
  int m_nHeld = 0;  // handles to the mutex this copy keeps
  int m_nDialogRuns = 0;
  std::vector<std::string> m_messages;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { g_bRebootUp = false; }
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
