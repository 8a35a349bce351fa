// One copy of the program per machine, and the restart words, with the real tavrick.exe.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "foreign_instance_win32.h"
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

// The name's access list: administrators and the system everything (a copy in another
// administrator's session opens it and sees it taken), everyone else only waiting on it.
TEST_F(SingleInstanceTest, TheNameLetsAdministratorsAndTheSystemInAndEveryoneElseOnlyWait) {
  HANDLE name = OpenMutexA(READ_CONTROL, FALSE, "Global\\tavrick");
  ASSERT_NE(nullptr, name) << GetLastError();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetSecurityInfo(name, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                               nullptr, &dacl, nullptr, &descriptor));
  CloseHandle(name);
  ASSERT_NE(nullptr, dacl) << "no access list: anyone may take the name";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherits entries";
  std::vector<std::string> entries;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    LPSTR sid = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    // The system may store GENERIC_ALL mapped to the mutex's own rights.
    const DWORD mask = ace->Mask == MUTEX_ALL_ACCESS ? GENERIC_ALL : ace->Mask;
    entries.push_back(std::to_string(ace->Header.AceType) + " " + (sid ? sid : "?") + " " + std::to_string(mask));
    LocalFree(sid);
  }
  LocalFree(descriptor);
  EXPECT_EQ((std::vector<std::string>{"0 S-1-5-32-544 " + std::to_string(GENERIC_ALL),
                                      "0 S-1-5-18 " + std::to_string(GENERIC_ALL),
                                      "0 S-1-1-0 " + std::to_string(SYNCHRONIZE)}),
            entries);
}

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

// A copy under another account holds the name where this one may neither open nor create it:
// that copy runs, so this start is refused like any second copy.
TEST(SingleInstanceAcrossAccounts, ANameThatCannotBeOpenedForLackOfAccessCountsAsARunningCopy) {
  HANDLE foreign = HoldNameAsAnotherAccount("Global\\tavrick");
  ASSERT_NE(nullptr, foreign);
  SetLastError(0);
  EXPECT_EQ(nullptr, CreateMutexA(nullptr, FALSE, "Global\\tavrick"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  CScratchDir dir;
  CChildProcess second;
  ASSERT_TRUE(second.Start(TavrickExe(), "", dir.Path()));
  HWND box = WaitForWindow(second.Pid(), "#32770", kAppName, kWindowWait);
  EXPECT_EQ(nullptr, WaitForWindow(second.Pid(), "#32770", kVersionTag, 0)) << "a second copy ran beside the other account's";
  ASSERT_NE(nullptr, box) << DescribeProcessWindows(second);
  EXPECT_EQ("已经运行一个程序,不能重复运行!", MessageBoxText(box));
  AnswerMessageBox(box, IDOK);
  EXPECT_TRUE(second.WaitExit(10000));
  EXPECT_EQ(0u, second.ExitCode());
  CloseHandle(foreign);
}

}  // namespace
