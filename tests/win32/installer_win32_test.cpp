// The 64-bit build's Windows installer (bin/tavrick-setup-x64.exe), installed and removed silently
// in a scratch folder, the way an administrator's script would.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "common/resource.h"
#include "common/version.h"
#include "config/profile_store_win32.h"
#include "driver/driver_link.h"
#include "driver/driver_win32.h"
#include "foreign_instance_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "tavrick_session_win32.h"
#include "vendor_standin_win32.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tavrick";
const char* const kProgramFiles[] = {"tavrick.exe",        "upgrade.exe", "tavricksvc.exe", "setupdriver.dll",
                                     "scriptviruslib.dll", "firewalldriver.sys", "netsf.inf", "netsf_m.inf",
                                     "uninst.exe"};

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::string UninstallValue(const char* name) {
  char value[MAX_PATH] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return "";
  return value;
}

std::string StartMenuLink(const char* name) {
  char programs[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs);
  return std::string(programs) + "\\Tavrick\\" + name;
}

// The link in the installing administrator's own Startup folder.
std::string LogonStartLink() {
  char startup[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_STARTUP, nullptr, 0, startup);
  return std::string(startup) + "\\Tavrick.lnk";
}

// Stands in for a Tavrick busy with its server restart question: a main window with the
// program's caption, holding the program's name, and the question owned by it.
class CBusyProgram {
 public:
  CBusyProgram() : m_hName(CreateMutexA(nullptr, FALSE, "Global\\tavrick")) {
    m_hThread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~CBusyProgram() {
    Answer(IDNO);
    WaitForSingleObject(m_hThread, 10000);
    CloseHandle(m_hThread);
    CloseHandle(m_hName);
  }
  HWND Box() const { return FindWindowA("#32770", " 提示"); }
  void Answer(int button) {
    if (HWND box = Box()) AnswerMessageBox(box, button);
  }
  volatile LONG answer = -1;  // what the question returned; -1 while it is open

 private:
  static DWORD WINAPI Run(LPVOID self) {
    auto* busy = static_cast<CBusyProgram*>(self);
    HWND main = CreateWindowExA(0, "#32770", kVersionTag, WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    busy->answer = MessageBoxA(main, "您必须重启服务器才能使用Tavrick?", " 提示", MB_YESNO);
    DestroyWindow(main);
    return 0;
  }
  HANDLE m_hName;
  HANDLE m_hThread;
};

bool CreateForeignDriverService(const std::string& imagePath) {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) return false;
  const SC_HANDLE service =
      CreateServiceA(manager, kDriverServiceName, "another installation's driver", SERVICE_ALL_ACCESS,
                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, imagePath.c_str(), nullptr,
                     nullptr, nullptr, nullptr, nullptr);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

// The boot service's program, "" when it is not registered.
std::string BootServiceProgram() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return "";
  std::string program;
  if (const SC_HANDLE service = OpenServiceA(manager, "TavrickGuard", SERVICE_QUERY_CONFIG)) {
    char buffer[8192] = {};
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    if (QueryServiceConfigA(service, config, sizeof buffer, &needed) && config->lpBinaryPathName)
      program = config->lpBinaryPathName;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return program;
}

bool DriverServiceExists() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  const SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_QUERY_STATUS);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

class InstallerTest : public ::testing::Test {
 protected:
  // The installer runs to its end in this process's sight; its exit code comes back.
  DWORD Install(DWORD timeoutMs = 30000) {
    CChildProcess setup;
    if (!setup.Start(ExeDir() + "\\tavrick-setup-x64.exe", "/S /TESTDRIVER /D=" + inst, dir.Path())) return 0xFFFF;
    if (!setup.WaitExit(timeoutMs)) return 0xFFFE;
    return setup.ExitCode();
  }

  // The uninstaller copies itself to the temporary folder and runs from there, so it is done when
  // it has removed itself.
  bool Uninstall(const std::string& words) {
    CChildProcess uninstall;
    if (!uninstall.Start(inst + "\\uninst.exe", "/S" + words, dir.Path())) return false;
    return WaitUntil([&] { return !FileExists(inst + "\\uninst.exe"); }, 40000);
  }

  CScratchDir dir;
  const std::string inst = dir.Path() + "\\Tavrick";
};

TEST_F(InstallerTest, InstallsKeepsTheAdministratorsFilesAndUninstalls) {
  ASSERT_TRUE(FileExists(ExeDir() + "\\tavrick-setup-x64.exe")) << "the build makes the installer (makensis)";
  ASSERT_EQ(0u, Install());
  for (const char* name : kProgramFiles) EXPECT_TRUE(FileExists(inst + "\\" + name)) << name;
  EXPECT_EQ(ReadWholeFile(TavrickExe()), ReadWholeFile(inst + "\\tavrick.exe"));
  EXPECT_EQ(ReadWholeFile(ExeDir() + "\\firewalldriver.sys"), ReadWholeFile(inst + "\\firewalldriver.sys"));
  // The default configuration is as the program writes its own: GBK, CRLF.
  const std::string defaults = ReadWholeFile(inst + "\\tavrick.cfg");
  EXPECT_NE(std::string::npos, defaults.find("[sysice]\r\nsysicetimer=5分钟\r\n")) << defaults;
  EXPECT_NE(std::string::npos, defaults.find("logday=90\r\n"));
  EXPECT_EQ(inst, UninstallValue("InstallLocation"));
  EXPECT_EQ("\"" + inst + "\\uninst.exe\" /S", UninstallValue("QuietUninstallString"));
  EXPECT_TRUE(FileExists(StartMenuLink("Tavrick.lnk")));
  EXPECT_EQ("\"" + inst + "\\tavricksvc.exe\"", BootServiceProgram());  // registered for the next boot

  // The administrator's settings and logs; a program file lost meanwhile.
  const std::string mine = "[ipfilter]\r\nipfilterlst=203.0.113.7|0|永远\r\n[msg]\r\nemil=admin@example.com\r\n";
  WriteWholeFile(inst + "\\tavrick.cfg", mine);
  CreateDirectoryA((inst + "\\log").c_str(), nullptr);
  WriteWholeFile(inst + "\\log\\2024_05_01.txt", "log\r\n");
  DeleteFileA((inst + "\\scriptviruslib.dll").c_str());
  ASSERT_EQ(0u, Install());
  EXPECT_EQ(mine, ReadWholeFile(inst + "\\tavrick.cfg")) << "a reinstall never replaces the configuration";
  EXPECT_TRUE(FileExists(inst + "\\scriptviruslib.dll"));

  // A configuration lost with its last-known-good copy there: the program restores it, no default.
  DeleteFileA((inst + "\\tavrick.cfg").c_str());
  WriteWholeFile(inst + "\\tavrick.cfg.bak", mine);
  ASSERT_EQ(0u, Install());
  EXPECT_FALSE(FileExists(inst + "\\tavrick.cfg"));
  WriteWholeFile(inst + "\\tavrick.cfg", mine);

  CreateDirectoryA((inst + "\\upgrade.old").c_str(), nullptr);  // the updater's rollback copy
  WriteWholeFile(inst + "\\upgrade.old\\tavrick.exe", "old");
  WriteWholeFile(inst + "\\upgrade.ini", "[upgrade]\r\n");
  {
    // A Tavrick that cannot be asked (no window of this build: only its instance mutex) keeps
    // everything in place. Run in place (_?=), the uninstaller's exit code comes back.
    const HANDLE running = CreateMutexA(nullptr, FALSE, "Global\\tavrick");
    CChildProcess refused;
    ASSERT_TRUE(refused.Start(inst + "\\uninst.exe", "/S _?=" + inst, dir.Path()));
    ASSERT_TRUE(refused.WaitExit(30000));
    CloseHandle(running);
    EXPECT_EQ(2u, refused.ExitCode());
    for (const char* name : kProgramFiles) EXPECT_TRUE(FileExists(inst + "\\" + name)) << name;
    EXPECT_NE("", UninstallValue("InstallLocation"));
    EXPECT_NE("", BootServiceProgram());
  }
  ASSERT_TRUE(Uninstall(""));
  for (const char* name : kProgramFiles) EXPECT_FALSE(FileExists(inst + "\\" + name)) << name;
  EXPECT_EQ("", BootServiceProgram());
  EXPECT_FALSE(FileExists(inst + "\\upgrade.old"));
  EXPECT_FALSE(FileExists(inst + "\\upgrade.ini"));
  EXPECT_EQ(mine, ReadWholeFile(inst + "\\tavrick.cfg"));
  EXPECT_EQ(mine, ReadWholeFile(inst + "\\tavrick.cfg.bak"));
  EXPECT_TRUE(FileExists(inst + "\\log\\2024_05_01.txt"));
  EXPECT_EQ("", UninstallValue("InstallLocation"));
  EXPECT_FALSE(FileExists(StartMenuLink("Tavrick.lnk")));

  // Told to, it takes the configuration and logs as well, and the folder with them.
  ASSERT_EQ(0u, Install());
  ASSERT_TRUE(Uninstall(" /PURGE"));
  EXPECT_TRUE(WaitUntil([&] { return !FileExists(inst); }, 5000)) << "folder left behind";
}

// A copy under another account holds the program's name where this account may not open it:
// it runs all the same, so the silent install replaces nothing.
TEST_F(InstallerTest, ACopyWhoseNameCannotBeOpenedForLackOfAccessStopsTheInstall) {
  ASSERT_EQ(0u, Install());
  WriteWholeFile(inst + "\\tavrick.exe", "the running copy");
  const HANDLE foreign = HoldNameAsAnotherAccount("Global\\tavrick");
  ASSERT_NE(nullptr, foreign);
  const DWORD code = Install(60000);
  CloseHandle(foreign);
  EXPECT_EQ(2u, code);
  EXPECT_TRUE(ReadWholeFile(inst + "\\tavrick.exe") == "the running copy") << "the running copy was replaced";
}

// An update the updater left half done: the reinstalled build must not be undone at the next
// start by the rollback copy, so the record no longer says "installing" and the copy is gone.
TEST_F(InstallerTest, AReinstallEndsAnInterruptedUpdateAndRemovesItsRollbackCopy) {
  ASSERT_EQ(0u, Install());
  ASSERT_TRUE(CreateDirectoryA((inst + "\\upgrade.old").c_str(), nullptr));
  WriteWholeFile(inst + "\\upgrade.old\\tavrick.exe", "the build before the update");
  const std::string record = inst + "\\upgrade.ini";
  WriteWholeFile(record, "[upgrade]\r\nversion=2.40\r\nresult=installing\r\nold=tavrick.exe \r\nnew=helper.dll \r\n");
  ASSERT_EQ(0u, Install());
  CWin32ProfileStore store;
  EXPECT_EQ("failed", store.Get(record, "upgrade", "result"));
  EXPECT_EQ("", store.Get(record, "upgrade", "old"));
  EXPECT_EQ("", store.Get(record, "upgrade", "new"));
  EXPECT_EQ("2.40", store.Get(record, "upgrade", "version"));  // the one-day guard stays
  EXPECT_FALSE(FileExists(inst + "\\upgrade.old\\tavrick.exe"));
  EXPECT_FALSE(FileExists(inst + "\\upgrade.old"));
  EXPECT_TRUE(ReadWholeFile(TavrickExe()) == ReadWholeFile(inst + "\\tavrick.exe"));
}

TEST_F(InstallerTest, UninstallStopsProtectionThroughTheProgramFirst) {
  RemoveDriverService();  // the installed program brings its own
  ASSERT_EQ(0u, Install());
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", StandInHost().c_str());
  CTavrickSession app;
  ASSERT_TRUE(app.Start(inst, "", inst + "\\tavrick.exe"));
  app.Click(IDC_START);
  EXPECT_EQ("第一次使用需安装NDIS驱动,安装后可能需重启您的服务器! \n请备份好您的数据,是否安装?",
            app.Answer(" 提示", IDYES, 15000));
  EXPECT_EQ("防火墙启动成功!", app.Answer(kAppName, IDOK, 30000));
  ASSERT_TRUE(app.WaitLabel(IDC_STATE, "启动", 5000)) << app.Label(IDC_STATE);
  ASSERT_TRUE(DriverServiceExists());
  SetDevicePort(&Win32Device());
  ASSERT_TRUE(ProbeDevice());

  // The uninstaller asks the program to exit; the program stops protection and ends by itself.
  ASSERT_TRUE(Uninstall(""));
  EXPECT_TRUE(app.Process().WaitExit(5000));
  EXPECT_EQ(0u, app.Process().ExitCode()) << "ended through its own exit command";
  EXPECT_FALSE(DriverServiceExists());
  EXPECT_TRUE(WaitUntil([] { return !ProbeDevice(); }, 5000)) << "driver still loaded";
  for (const char* name : kProgramFiles) EXPECT_FALSE(FileExists(inst + "\\" + name)) << name;
  const std::string cfg = ReadWholeFile(inst + "\\tavrick.cfg");
  EXPECT_NE(std::string::npos, cfg.find("onlinetime=0")) << "an orderly exit: no automatic start next time";
  EXPECT_FALSE(FileExists(inst + "\\tavrick.cfg.damaged")) << "the default configuration loads as it is";
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", nullptr);
}

TEST_F(InstallerTest, ASilentRunAnswersNoOtherQuestionAndChangesNothing) {
  ASSERT_EQ(0u, Install());
  CBusyProgram busy;
  ASSERT_TRUE(WaitUntil([&] { return busy.Box() != nullptr; }, 10000));
  // The uninstaller and a reinstall, side by side: each waits its full minute for the program,
  // and neither may answer its question or change a thing.
  CChildProcess uninstall, reinstall;
  ASSERT_TRUE(uninstall.Start(inst + "\\uninst.exe", "/S _?=" + inst, dir.Path()));
  ASSERT_TRUE(reinstall.Start(ExeDir() + "\\tavrick-setup-x64.exe", "/S /TESTDRIVER /D=" + inst, dir.Path()));
  ASSERT_TRUE(uninstall.WaitExit(120000));
  EXPECT_EQ(2u, uninstall.ExitCode());
  ASSERT_TRUE(reinstall.WaitExit(120000));
  EXPECT_EQ(2u, reinstall.ExitCode());  // it waits for the program as long as the uninstaller
  EXPECT_EQ(-1, busy.answer) << "the restart question was answered for the administrator";
  EXPECT_NE(nullptr, busy.Box());
  for (const char* name : kProgramFiles) EXPECT_TRUE(FileExists(inst + "\\" + name)) << name;
  EXPECT_TRUE(FileExists(LogonStartLink()));
  busy.Answer(IDNO);
  EXPECT_TRUE(WaitUntil([&] { return busy.answer == IDNO; }, 5000));
}

TEST_F(InstallerTest, StartsAtTheAdministratorsLogonUntilUninstalled) {
  DeleteFileA(LogonStartLink().c_str());
  ASSERT_EQ(0u, Install());
  ASSERT_TRUE(FileExists(LogonStartLink()));
  const std::string link = ReadWholeFile(LogonStartLink());
  EXPECT_NE(std::string::npos, link.find("tavrick.exe")) << "the link starts the installed program";
  ASSERT_TRUE(Uninstall(""));
  EXPECT_FALSE(FileExists(LogonStartLink()));
}

TEST_F(InstallerTest, AnotherFoldersDriverAndLinkedFoldersSurviveTheUninstall) {
  RemoveDriverService();
  const std::string other = dir.Path() + "\\Other";
  ASSERT_TRUE(CreateDirectoryA(other.c_str(), nullptr));
  ASSERT_TRUE(CreateForeignDriverService(other + "\\firewalldriver.sys"));
  ASSERT_EQ(0u, Install());

  // log and upgrade.old lead elsewhere: what is there is not the uninstaller's to delete.
  const std::string outside = dir.Path() + "\\outside";
  ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
  WriteWholeFile(outside + "\\keep.txt", "mine");
  ASSERT_TRUE(MakeWineFolderLink(inst + "\\log", outside));
  ASSERT_TRUE(MakeWineFolderLink(inst + "\\upgrade.old", outside));
  ASSERT_TRUE(Uninstall(" /PURGE"));
  EXPECT_EQ("mine", ReadWholeFile(outside + "\\keep.txt"));
  EXPECT_TRUE(DriverServiceExists()) << "another installation's driver service was removed";
  for (const char* name : kProgramFiles) EXPECT_FALSE(FileExists(inst + "\\" + name)) << name;
  RemoveFolderLink(inst + "\\log");
  RemoveFolderLink(inst + "\\upgrade.old");
  RemoveDriverService();
}

}  // namespace
