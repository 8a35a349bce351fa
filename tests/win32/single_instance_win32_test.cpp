// One copy of the program per machine, and the restart words, with the real tavrick.exe.
#include <gtest/gtest.h>

#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "process_driver_win32.h"
#include "scratch_dir_win32.h"

namespace {

constexpr DWORD kWindowWait = 20000;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(first.Start(TavrickExe(), "", dir.Path()));
    firstWindow = WaitForWindow(first.Pid(), "#32770", kVersionTag, kWindowWait);
    ASSERT_NE(nullptr, firstWindow) << "the first copy did not show its main window: " << DescribeProcessWindows(first);
    const DWORD start = GetTickCount();
    while (!IsWindowVisible(firstWindow) && GetTickCount() - start < 20000) Sleep(20);
  }


  // A second copy with these words must be refused with the message and end with code 0.
  void ExpectRefused(const std::string& words) {
    CChildProcess second;
    ASSERT_TRUE(second.Start(TavrickExe(), words, dir.Path()));
    HWND box = WaitForWindow(second.Pid(), "#32770", kAppName, kWindowWait);
    ASSERT_NE(nullptr, box) << "no message box for '" << words << "'";
    EXPECT_EQ("已经运行一个程序,不能重复运行!", MessageBoxText(box));
    EXPECT_EQ(nullptr, WaitForWindow(second.Pid(), "#32770", kVersionTag, 0)) << "refused copy showed its window";
    AnswerMessageBox(box, IDOK);
    ASSERT_TRUE(second.WaitExit(10000));
    EXPECT_EQ(0u, second.ExitCode());
    EXPECT_TRUE(first.Running());
  }

  CScratchDir dir;
  CChildProcess first;
  HWND firstWindow = nullptr;
};

TEST_F(SingleInstanceTest, SecondCopyIsRefusedWhileTheFirstRuns) { ExpectRefused(""); }

TEST_F(SingleInstanceTest, RebootUpAndLookalikeWordsAreRefusedLikeANormalStart) {
  ExpectRefused("rebootup");
  ExpectRefused("Reboot");
}

TEST_F(SingleInstanceTest, RebootStartsASecondCopy) {
  CChildProcess second;
  ASSERT_TRUE(second.Start(TavrickExe(), "reboot", dir.Path()));
  HWND window = WaitForWindow(second.Pid(), "#32770", kVersionTag, kWindowWait);
  EXPECT_NE(nullptr, window) << "the restarted copy did not show its main window: " << DescribeProcessWindows(second);
  EXPECT_EQ(nullptr, WaitForWindow(second.Pid(), "#32770", kAppName, 0)) << "the restarted copy was refused";
}

TEST_F(SingleInstanceTest, TheRestartedCopyHoldsTheNameOnceTheOldCopyIsGone) {
  CChildProcess restarted;
  ASSERT_TRUE(restarted.Start(TavrickExe(), "reboot", dir.Path()));
  ASSERT_NE(nullptr, WaitForWindow(restarted.Pid(), "#32770", kVersionTag, kWindowWait)) << DescribeProcessWindows(restarted);
  HANDLE old = OpenProcess(PROCESS_TERMINATE, FALSE, first.Pid());  // the old copy ends
  ASSERT_NE(nullptr, old);
  EXPECT_TRUE(TerminateProcess(old, 0));
  CloseHandle(old);
  ASSERT_TRUE(first.WaitExit(10000));
  // A normal start now meets the restarted copy and is refused.
  CChildProcess third;
  ASSERT_TRUE(third.Start(TavrickExe(), "", dir.Path()));
  HWND box = WaitForWindow(third.Pid(), "#32770", kAppName, kWindowWait);
  ASSERT_NE(nullptr, box) << "a second copy ran beside the restarted one";
  EXPECT_EQ("已经运行一个程序,不能重复运行!", MessageBoxText(box));
  AnswerMessageBox(box, IDOK);
  EXPECT_TRUE(third.WaitExit(10000));
  EXPECT_TRUE(restarted.Running());
}

TEST_F(SingleInstanceTest, StartLoadsTheConfigurationAndResetsTheMarkers) {
  CWin32ProfileStore store;
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "runtray"));
  EXPECT_EQ("0", ReadIni(store, kConfigFile, "sysice", "onlinetime"));
}

}  // namespace
