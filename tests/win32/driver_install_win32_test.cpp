// Installation of the stand-in driver package through the program's own path.
#include <windows.h>

#include <gtest/gtest.h>

#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"

namespace {

std::string WindowsInf(const char* name) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + "\\inf\\" + name;
}

TEST(Win32DriverInstall, SystemIsSixtyFourBit) { EXPECT_EQ(64, GetSystemBits()); }

TEST(Win32DriverInstall, InstalledNowThenAlreadyRunning) {
  RemoveDriverService();  // every run starts without the service
  SetDevicePort(&Win32Device());
  ASSERT_FALSE(ProbeDevice());
  EXPECT_EQ(1, InstallDriver());
  EXPECT_TRUE(ProbeDevice());
  EXPECT_EQ(2, InstallDriver());
  EXPECT_TRUE(ProbeDevice());
  EXPECT_EQ(kInvalidDevice, g_hDevice.load());  // probing keeps nothing open
}

TEST(Win32DriverInstall, MissingSetupInformationFails) {
  // The library is there, but the call names no package: the library's failure comes back.
  CWin32DriverSetup setup;
  ASSERT_TRUE(setup.LoadSetupLibrary(kSetupLibraryName));
  int result = -1;
  ASSERT_TRUE(setup.CallInstall(kSetupExportName, "C:\\nowhere\\netsf.inf", kDriverComponentId,
                                kDriverInstallFlag, &result));
  EXPECT_EQ(0, result);
  EXPECT_FALSE(setup.CallInstall("installmydriver@12", "x", "y", 0, &result));
}

TEST(Win32DriverInstall, StagingCopiesMissingFilesAndKeepsExistingOnes) {
  const std::string kept = "; an older package\r\n";
  {
    const HANDLE h = CreateFileA(WindowsInf("netsf.inf").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    WriteFile(h, kept.data(), static_cast<DWORD>(kept.size()), &written, nullptr);
    CloseHandle(h);
  }
  DeleteFileA(WindowsInf("netsf_m.inf").c_str());
  DeleteFileA(WindowsInf("firewalldriver.sys").c_str());

  StageDriverFiles();

  EXPECT_EQ(kept, ReadWholeFile(WindowsInf("netsf.inf")));
  const std::string folder = ProgramFolder();
  EXPECT_EQ(ReadWholeFile(folder + "\\netsf_m.inf"), ReadWholeFile(WindowsInf("netsf_m.inf")));
  EXPECT_EQ(ReadWholeFile(folder + "\\firewalldriver.sys"),
            ReadWholeFile(WindowsInf("firewalldriver.sys")));
  EXPECT_FALSE(ReadWholeFile(WindowsInf("netsf_m.inf")).empty());
  DeleteFileA(WindowsInf("netsf.inf").c_str());
}

}  // namespace
