#include "app/startup.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

class FakeStartup : public IStartupPorts {
 public:
  bool CreateInstanceMutex() override {
    ++m_nMutexCalls;
    ++m_nHeld;
    return m_bOtherCopy;
  }
  void CloseInstanceMutex() override { --m_nHeld; }
  void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
  void EnableControlHosting() override {}
  void RunMainDialog() override {
    ++m_nDialogRuns;
    if (m_bDialogThrows) throw std::runtime_error("dialog");
  }

  bool m_bOtherCopy = false;
  bool m_bDialogThrows = false;
  int m_nMutexCalls = 0;
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
  EXPECT_FALSE(InitInstance("", ports));
  EXPECT_EQ(1, ports.m_nMutexCalls);
  EXPECT_EQ(1, ports.m_nDialogRuns);
  EXPECT_FALSE(g_bRebootUp);
}

TEST_F(StartupTest, FailureDuringStartUpIsReported) {
  ports.m_bDialogThrows = true;
  EXPECT_FALSE(InitInstance("", ports));
  ASSERT_EQ(1u, ports.m_messages.size());
  EXPECT_EQ("工程异常!", ports.m_messages[0]);
}

}  // namespace
