// Hand-over to the updater under wine64: the real program in a folder of its own, the real
// upgrade.exe beside it, and builds published on the update tests' stand-in service.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/resource.h"
#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "process_driver_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "upgrader/sha256.h"
#include "test_http_server_win32.h"
#include "vendor_standin_win32.h"

namespace {

bool Within(DWORD timeoutMs, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(200);
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::string StatusBarText(HWND main) {
  HWND bar = FindWindowExA(main, nullptr, "msctls_statusbar32", nullptr);
  char text[256] = {};
  DWORD_PTR result = 0;
  if (bar) SendMessageTimeoutA(bar, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, &result);
  return text;
}

std::string Label(HWND main, int id) {
  char text[256] = {};
  DWORD_PTR result = 0;
  if (HWND item = GetDlgItem(main, id))
    SendMessageTimeoutA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, &result);
  return text;
}

class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(StandInHost(kUpgradeStandInFolder).empty()) << "the update tests' stand-in service is not running";
    SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", StandInHost(kUpgradeStandInFolder).c_str());
    m_strOld = ReadWholeFile(TavrickExe());
    ASSERT_TRUE(CopyFileA(TavrickExe().c_str(), Program().c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(dir.File("log").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(dir.File("log\\kept.log"), "website log"));
    CWin32ProfileStore store;
    store.Put(dir.File("tavrick.cfg"), "ipfilter", "ipfilterlst", "198.51.100.9|0|永远");
  }
  void TearDown() override {
    // Whatever the updater or the program started from this folder ends with the test: an
    // updater or a stage may start one more between two looks, so until a look finds none.
    for (int round = 0; round < 10; ++round) {
      bool found = false;
      for (const std::string& image : {Program(), dir.File("upgrade.exe")}) {
        for (DWORD pid : RunningProcessesOf(image)) {
          found = true;
          HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
          if (!process) continue;
          TerminateProcess(process, 99);
          WaitForSingleObject(process, 5000);
          CloseHandle(process);
        }
      }
      if (!found) break;
    }
  }

  std::string Program() const { return dir.File("tavrick.exe"); }
  // What the program needs beside it to start protection with the loaded stand-in driver.
  void AddDriverPackage() {
    for (const char* name : {"setupdriver.dll", "scriptviruslib.dll", "firewalldriver.sys", "netsf.inf", "netsf_m.inf"})
      ASSERT_TRUE(CopyFileA((ExeDir() + "\\" + name).c_str(), dir.File(name).c_str(), FALSE)) << name;
    ASSERT_TRUE(EnsureDriverLoaded());
    ASSERT_TRUE(ResetDriver(kResetPackets | kResetTables));
  }
  // Protection ran before this start: the program starts it again by itself.
  void SetProtectTime(const char* seconds) {
    CWin32ProfileStore store;
    WriteIni(store, dir.File("tavrick.cfg"), "sysice", "onlinetime", seconds);
  }
  // The successor protects: its state label, and the driver filtering with its blocked entry.
  void ExpectProtecting(HWND main) {
    EXPECT_TRUE(Within(40000, [&] { return Label(main, IDC_STATE) == "启动"; })) << Label(main, IDC_STATE);
    CDriverCounters counters;
    ASSERT_TRUE(ReadCounters(&counters));
    EXPECT_EQ(1u, counters.dwFiltering);
    EXPECT_EQ(1u, counters.blocked.size());
  }
  // The old program started again: one copy of it, and its main window (nullptr when not back).
  HWND OldProgramBack() {
    DWORD pid = 0;
    EXPECT_TRUE(Within(30000, [&] {
      const std::vector<DWORD> running = RunningProcessesOf(Program());
      pid = running.size() == 1 ? running[0] : 0;
      return pid != 0;
    }));
    return pid ? WaitForWindow(pid, "#32770", kVersionTag, 30000) : nullptr;
  }
  void AddUpdater(const char* exe = "upgrade.exe") {
    ASSERT_TRUE(CopyFileA((ExeDir() + "\\" + exe).c_str(), dir.File("upgrade.exe").c_str(), FALSE));
  }
  std::string Record(const char* key) {
    CWin32ProfileStore store;
    return store.Get(dir.File("upgrade.ini"), "upgrade", key);
  }

  // The x64 build on the service: `program` as tavrick.exe, and the version file.
  void Publish(const std::string& program, const std::string& versionText) {
    const std::string folder = StandInData(kUpgradeStandInFolder) + "\\newsoft";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\x64").c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(folder + "\\x64\\tavrick.exe", program));
    const StandInAnswer answer =
        StandInAdmin("/tavrick/admin/publish", "arch=x64&version=" + versionText, kUpgradeStandInFolder);
    ASSERT_EQ(200u, answer.status) << answer.body;
  }
  // The served file changes after publishing, as a broken transfer or a bad mirror would.
  void Corrupt(const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(StandInData(kUpgradeStandInFolder) + "\\newsoft\\x64\\tavrick.exe", bytes));
  }

  // Starts the old program, which hands over and ends; returns the program the updater brought up.
  DWORD HandOverAndFindSuccessor(HWND& main) {
    CChildProcess old;
    EXPECT_TRUE(old.Start(Program(), "", dir.Path()));
    EXPECT_TRUE(old.WaitExit(30000)) << "the program did not hand over";
    EXPECT_EQ(0u, old.ExitCode());
    const DWORD pid = FindSuccessor(old, main);
    EXPECT_NE(nullptr, main);
    return pid;
  }

  // The program that came up after `old` ended (the updater's start), and its main window.
  DWORD FindSuccessor(CChildProcess& old, HWND& main) {
    DWORD pid = 0;
    EXPECT_TRUE(Within(60000, [&] {
      for (DWORD p : RunningProcessesOf(Program()))
        if (p != old.Pid()) pid = p;
      return pid != 0;
    })) << "no program came back up; record: " << Record("result") << " " << Record("reason");
    main = pid ? WaitForWindow(pid, "#32770", kVersionTag, 30000) : nullptr;
    return pid;
  }

  // Starts the program: it stages the published build while it runs, finds it bad, says so and
  // goes on, with the stage's reason in its log. Nothing is handed over or recorded (upgrade.ini
  // holds at most that reason), nothing beside it changes.
  HWND StartAndKeepTheOldProgram(CChildProcess& app) {
    EXPECT_TRUE(app.Start(Program(), "", dir.Path()));
    HWND main = WaitForWindow(app.Pid(), "#32770", kVersionTag, 30000);
    EXPECT_NE(nullptr, main) << DescribeProcessWindows(app);
    if (!main) return nullptr;
    EXPECT_TRUE(Within(60000, [&] { return StatusBarText(main) == "升级到2.40失败,请下载最新版本"; }))
        << StatusBarText(main);
    EXPECT_TRUE(Within(10000, [&] { return RunningProcessesOf(dir.File("upgrade.exe")).empty(); }));
    EXPECT_TRUE(app.Running());
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, RunningProcessesOf(Program()));
    for (const char* key : {"version", "result", "time"}) EXPECT_EQ("", Record(key)) << key;
    EXPECT_NE("", Record("stagereason"));
    EXPECT_NE(std::string::npos, ConfigLogOf(dir.Path()).find("下载新版本2.40失败: " + Record("stagereason")))
        << ConfigLogOf(dir.Path());
    EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
    EXPECT_FALSE(FileExists(dir.File("upgrade.old")));
    return main;
  }

  CScratchDir dir;
  std::string m_strOld;
};

TEST_F(UpgradeTest, NewerVersionIsHandedOverAndTheNewBuildComesUpWithTheOldConfiguration) {
  AddUpdater();
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  ASSERT_FALSE(next.empty());
  Publish(next, "2.40,a,b");

  HWND main = nullptr;
  const DWORD pid = HandOverAndFindSuccessor(main);
  ASSERT_NE(nullptr, main);
  EXPECT_EQ("upgrade.exe " + StandInBase(kUpgradeStandInFolder) + "/tavrick/newsoft/x64/,a,b", Record("commandline"));
  ASSERT_TRUE(Within(20000, [&] { return Record("result") == "installed"; })) << Record("result") << Record("reason");
  EXPECT_TRUE(Within(10000, [&] { return StatusBarText(main) == "当前软件最新版本:2.40"; })) << StatusBarText(main);
  EXPECT_TRUE(ReadWholeFile(Program()) == next);
  EXPECT_TRUE(ReadWholeFile(dir.File("upgrade.old\\tavrick.exe")) == m_strOld);
  CWin32ProfileStore store;
  EXPECT_EQ("198.51.100.9|0|永远", store.Get(dir.File("tavrick.cfg"), "ipfilter", "ipfilterlst"));
  EXPECT_EQ("website log", ReadWholeFile(dir.File("log\\kept.log")));
  EXPECT_EQ(std::vector<DWORD>{pid}, RunningProcessesOf(Program()));
}

// The build is downloaded and checked while the program runs: one cut short or with another
// digest is never handed over to, the program never ends for it.
TEST_F(UpgradeTest, ATruncatedOrWronglyDigestedBuildIsNeverHandedOverTo) {
  AddUpdater();
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  ASSERT_FALSE(next.empty());
  std::string flipped = next;
  flipped[flipped.size() / 2] ^= 0x5A;
  for (const std::string& served : {next.substr(0, next.size() / 2), flipped}) {
    SCOPED_TRACE(served.size());
    Publish(next, "2.40");
    Corrupt(served);
    CChildProcess app;
    StartAndKeepTheOldProgram(app);
    EXPECT_FALSE(FileExists(dir.File("upgrade.new\\tavrick.exe")));
    TearDown();
  }
}

// Whoever answers for the service can serve any build: a program file swapped with the manifest
// rewritten to its size and digest, or the signed manifest with one byte changed, is no list the
// vendor signed. Nothing is written into upgrade.new, the program is not handed over from.
TEST_F(UpgradeTest, ABuildWhoseManifestTheVendorDidNotSignInstallsNothing) {
  AddUpdater();
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  ASSERT_FALSE(next.empty());
  const std::string folder = StandInData(kUpgradeStandInFolder) + "\\newsoft\\x64\\";
  for (bool swapped : {true, false}) {
    SCOPED_TRACE(swapped ? "swapped file" : "one byte");
    DeleteFileA(dir.File("upgrade.ini").c_str());
    Publish(next, "2.40");
    std::string manifest = ReadWholeFile(folder + "manifest.txt");
    ASSERT_FALSE(manifest.empty());
    if (swapped) {
      const std::string other = next + "attached";
      Corrupt(other);
      manifest = "version 2.40\r\nfile tavrick.exe " + std::to_string(other.size()) + " " + Sha256Hex(other) + "\r\n";
    } else {
      manifest[manifest.size() - 3] = manifest[manifest.size() - 3] == '0' ? '1' : '0';  // a digest's digit
    }
    ASSERT_TRUE(WriteWholeFile(folder + "manifest.txt", manifest));

    CChildProcess app;
    StartAndKeepTheOldProgram(app);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File("upgrade.new\\tavrick.exe").c_str()));
    TearDown();
  }
}

// upgrade.new or upgrade.old leading to another folder (a junction; under Wine a Unix symbolic
// link): the elevated updater deletes and writes nothing there. At upgrade.new the stage fails and
// the program stays; at upgrade.old the install fails and the old program is started again.
TEST_F(UpgradeTest, AFolderLinkAtUpgradeNewOrOldFailsTheUpdateAndTheOldProgramComesBack) {
  AddUpdater();
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  ASSERT_FALSE(next.empty());
  const std::string outside = dir.File("outside");
  ASSERT_TRUE(CreateDirectoryA(outside.c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(outside + "\\keep.txt", "mine"));
  for (const char* folder : {"upgrade.new", "upgrade.old"}) {
    SCOPED_TRACE(folder);
    DeleteFileA(dir.File("upgrade.ini").c_str());
    Publish(next, "2.40");
    ASSERT_TRUE(MakeWineFolderLink(dir.File(folder), outside));
    ASSERT_TRUE(IsFolderLink(dir.File(folder)));

    if (std::string(folder) == "upgrade.new") {
      CChildProcess app;
      StartAndKeepTheOldProgram(app);
    } else {
      HWND main = nullptr;
      HandOverAndFindSuccessor(main);
      EXPECT_NE(nullptr, main);
      EXPECT_EQ("failed", Record("result"));
      EXPECT_EQ(std::string("无法使用目录") + folder + "(无法建立,或是链接)", Record("reason"));
    }
    EXPECT_EQ("mine", ReadWholeFile(outside + "\\keep.txt"));
    EXPECT_FALSE(FileExists(outside + "\\tavrick.exe"));
    EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
    TearDown();
    RemoveFolderLink(dir.File(folder));
  }
}

TEST_F(UpgradeTest, WithoutTheUpdaterTheProgramKeepsRunningAndSaysSo) {
  Publish(ReadWholeFile(ExeDir() + "\\tavrick_next.exe"), "2.40");
  CChildProcess app;
  ASSERT_TRUE(app.Start(Program(), "", dir.Path()));
  HWND main = WaitForWindow(app.Pid(), "#32770", kVersionTag, 30000);
  ASSERT_NE(nullptr, main) << DescribeProcessWindows(app);
  EXPECT_TRUE(Within(20000, [&] { return StatusBarText(main) == "无法启动upgrade.exe,最新版本:2.40"; }))
      << StatusBarText(main);
  Sleep(1000);
  EXPECT_TRUE(app.Running());
  EXPECT_FALSE(FileExists(dir.File("upgrade.ini")));
}

TEST_F(UpgradeTest, ProtectionCarriesOverToTheNewBuildWhichFiltersWithoutAQuestion) {
  AddUpdater();
  AddDriverPackage();
  SetProtectTime("100");
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  Publish(next, "2.40");

  HWND main = nullptr;
  HandOverAndFindSuccessor(main);
  ASSERT_NE(nullptr, main);
  ExpectProtecting(main);
  EXPECT_TRUE(ReadWholeFile(Program()) == next);
  EXPECT_EQ("1", Record("protect"));
  EXPECT_EQ("2.40", Record("confirmed"));  // the new build said it is up
  EXPECT_TRUE(Within(10000, [&] { return Record("result") == "installed"; })) << Record("result");
}

// The build is served slowly: all through its download the same program runs and protects, and
// nothing is handed over; once the stage has it whole, the hand-over brings up the new build.
TEST_F(UpgradeTest, TheProgramProtectsWhileTheBuildDownloadsAndHandsOverAfter) {
  AddUpdater();
  AddDriverPackage();
  SetProtectTime("100");
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  Publish(next, "2.40");
  const std::string published = StandInData(kUpgradeStandInFolder) + "\\newsoft\\";
  CTestHttpServer server;
  for (const char* name : {"version.txt", "version.txt.sig", "x64/manifest.txt", "x64/manifest.txt.sig"}) {
    std::string file = published + name;
    for (char& c : file)
      if (c == '/') c = '\\';
    const std::string bytes = ReadWholeFile(file);
    ASSERT_FALSE(bytes.empty()) << name;
    const bool build = std::string(name).rfind("x64/", 0) == 0;
    server.Route(std::string(build ? "/tavrick/newsoft/" : "/tavrick/") + name, CTestHttpServer::Mode::Text, bytes);
  }
  server.Route("/tavrick/newsoft/x64/tavrick.exe", CTestHttpServer::Mode::Slow, next, 30000);
  SetEnvironmentVariableA("TAVRICK_SERVICE_HOST", server.Host().c_str());

  CChildProcess old;
  ASSERT_TRUE(old.Start(Program(), "", dir.Path()));
  HWND main = WaitForWindow(old.Pid(), "#32770", kVersionTag, 30000);
  ASSERT_NE(nullptr, main) << DescribeProcessWindows(old);
  ExpectProtecting(main);
  ASSERT_TRUE(Within(10000, [&] { return server.CountRequests("/tavrick/newsoft/x64/tavrick.exe") == 1; }));
  EXPECT_EQ(1u, RunningProcessesOf(dir.File("upgrade.exe")).size()) << "the stage does not run";
  EXPECT_TRUE(old.Running());
  EXPECT_FALSE(FileExists(dir.File("upgrade.ini")));

  EXPECT_TRUE(old.WaitExit(60000)) << "the program did not hand over after the stage";
  HWND successor = nullptr;
  FindSuccessor(old, successor);
  ASSERT_NE(nullptr, successor);
  ExpectProtecting(successor);
  EXPECT_TRUE(Within(10000, [&] { return Record("result") == "installed"; })) << Record("result") << Record("reason");
  EXPECT_TRUE(ReadWholeFile(Program()) == next);
  EXPECT_EQ(1u, server.CountRequests("/tavrick/newsoft/x64/tavrick.exe"));  // the install used the staged file
}

// The old program protected, but the new build cannot (here: no driver beside it). Its automatic
// start asks nothing; it never confirms, ends with the roll-back code, and the old build is put
// back and started again.
TEST_F(UpgradeTest, ANewBuildThatCannotProtectIsRolledBackWithoutAQuestion) {
  AddUpdater();
  SetProtectTime("100");
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  Publish(next, "2.40");

  CChildProcess old;
  ASSERT_TRUE(old.Start(Program(), "", dir.Path()));
  ASSERT_TRUE(old.WaitExit(30000)) << "the program did not hand over";
  ASSERT_TRUE(Within(150000, [&] { return !Record("finished").empty(); })) << Record("result");
  EXPECT_EQ("failed", Record("result"));
  EXPECT_EQ("新程序无法运行,已恢复旧程序", Record("reason"));
  EXPECT_EQ("", Record("confirmed"));  // its window stood, but it never protected
  EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
  EXPECT_NE(nullptr, OldProgramBack()) << "the old program is not back";
}

// The program protects while the build is downloaded: a build that fails its check leaves the
// same process protecting, never ended.
TEST_F(UpgradeTest, AFailedDownloadLeavesTheProgramProtecting) {
  AddUpdater();
  AddDriverPackage();
  SetProtectTime("100");
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  Publish(next, "2.40");
  Corrupt(next.substr(0, next.size() / 2));

  CChildProcess app;
  HWND main = StartAndKeepTheOldProgram(app);
  ASSERT_NE(nullptr, main);
  ExpectProtecting(main);
  EXPECT_TRUE(app.Running());
}

// A "build" that runs but never comes up as the program (it never confirms its start): the
// updater ends it after its bound and puts the old program back.
TEST_F(UpgradeTest, ANewBuildThatNeverConfirmsItsStartIsRolledBack) {
  // Given 10 s instead of the shipped updater's 60 to confirm.
  CEnvironmentWord confirm("TAVRICK_HOOK_CONFIRM_SECONDS", "10");
  AddUpdater("upgrade_hooked.exe");
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string stranger = ReadWholeFile(std::string(system) + "\\notepad.exe");
  ASSERT_FALSE(stranger.empty());
  Publish(stranger, "2.40");

  CChildProcess old;
  ASSERT_TRUE(old.Start(Program(), "", dir.Path()));
  ASSERT_TRUE(old.WaitExit(30000)) << "the program did not hand over";
  // "finished" is the record's last word: result and reason are written before it.
  ASSERT_TRUE(Within(150000, [&] { return !Record("finished").empty(); })) << Record("result");
  EXPECT_EQ("failed", Record("result"));
  EXPECT_EQ("新程序无法运行,已恢复旧程序", Record("reason"));
  EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
  EXPECT_NE(nullptr, OldProgramBack()) << "the old program is not back";
}

// The folder as an updater leaves it when it is killed inside its move loop: the new program
// and one new library in place, the old program in upgrade.old, the record saying "installing".
TEST_F(UpgradeTest, AnUpdateCutOffWhileReplacingFilesIsUndoneByTheNextStart) {
  AddUpdater();
  const std::string next = ReadWholeFile(ExeDir() + "\\tavrick_next.exe");
  ASSERT_TRUE(CreateDirectoryA(dir.File("upgrade.old").c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(Program().c_str(), dir.File("upgrade.old\\tavrick.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteWholeFile(Program(), next));
  ASSERT_TRUE(WriteWholeFile(dir.File("helper.dll"), "new library"));
  CWin32ProfileStore store;
  const std::string record = dir.File("upgrade.ini");
  for (const auto& value : std::vector<std::pair<const char*, std::string>>{
           {"version", "2.40"}, {"bits", "64"}, {"from", kVersionNumber},
           {"time", std::to_string(static_cast<long long>(time(nullptr)))}, {"old", "tavrick.exe "},
           {"new", "helper.dll "}, {"result", "installing"}})
    ASSERT_TRUE(store.Put(record, "upgrade", value.first, value.second));

  CChildProcess mixed;
  ASSERT_TRUE(mixed.Start(Program(), "", dir.Path()));
  ASSERT_TRUE(mixed.WaitExit(30000)) << "the half-updated program ran";
  ASSERT_TRUE(Within(60000, [&] { return !Record("finished").empty(); })) << Record("result");
  EXPECT_EQ("failed", Record("result"));
  EXPECT_EQ("升级中断,已恢复旧程序", Record("reason"));
  EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
  EXPECT_FALSE(FileExists(dir.File("helper.dll")));
  HWND main = OldProgramBack();
  ASSERT_NE(nullptr, main) << "the old program is not back";
  EXPECT_TRUE(Within(10000, [&] { return StatusBarText(main).find(kVersionNumber) != std::string::npos ||
                                         StatusBarText(main) == "升级到2.40失败,请下载最新版本"; }))
      << StatusBarText(main);
}

// The manifest's request is bounded as a whole (31 s for its 16 KB): a server that sends its
// headers a byte at a time, or nothing at all, holds the updater no longer, and the old program
// is started again.
TEST_F(UpgradeTest, AServerThatTricklesItsHeadersOrStaysSilentCannotKeepTheOldProgramDown) {
  AddUpdater();
  CTestHttpServer server;
  server.Route("/trickle/tavrick/newsoft/x64/manifest.txt", CTestHttpServer::Mode::TrickleHead);
  server.Route("/silent/tavrick/newsoft/x64/manifest.txt", CTestHttpServer::Mode::Silent);
  for (const char* kind : {"trickle", "silent"}) {
    SCOPED_TRACE(kind);
    DeleteFileA(dir.File("upgrade.ini").c_str());
    CChildProcess updater;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(updater.Start(dir.File("upgrade.exe"), server.Base() + "/" + kind + "/tavrick/newsoft/x64/,", dir.Path()));
    const bool back = Within(60000, [&] { return !RunningProcessesOf(Program()).empty(); });
    const DWORD elapsed = GetTickCount() - start;
    std::printf("%s: the old program came back after %lu ms\n", kind, static_cast<unsigned long>(elapsed));
    ASSERT_TRUE(back) << "the updater is still held; record: " << Record("result");
    EXPECT_GE(elapsed, 30000u);  // the whole deadline was given
    EXPECT_LT(elapsed, 45000u);
    EXPECT_TRUE(updater.WaitExit(10000));
    EXPECT_EQ(1u, updater.ExitCode());
    EXPECT_EQ("failed", Record("result"));
    EXPECT_EQ("下载文件清单失败", Record("reason"));
    EXPECT_TRUE(ReadWholeFile(Program()) == m_strOld);
    TearDown();
  }
  EXPECT_EQ(1u, server.CountRequests("/trickle/tavrick/newsoft/x64/manifest.txt"));
}

// A copy started while the name was taken waits on "已经运行一个程序,不能重复运行!" with nobody
// there. Once the updater holds the name that copy is ended, and the program is started.
TEST_F(UpgradeTest, ACopyRefusedTheNameDoesNotKeepTheProgramFromComingBack) {
  AddUpdater();
  HANDLE name = CreateMutexA(nullptr, FALSE, "Global\\tavrick");  // the program, still ending
  ASSERT_NE(nullptr, name);
  CChildProcess refused;
  ASSERT_TRUE(refused.Start(Program(), "", dir.Path()));
  ASSERT_NE(nullptr, WaitForWindow(refused.Pid(), "#32770", "", 30000)) << "no box of the refused copy";
  CloseHandle(name);

  CChildProcess updater;
  const DWORD start = GetTickCount();
  ASSERT_TRUE(updater.Start(dir.File("upgrade.exe"), "http://127.0.0.1:9/elsewhere/,", dir.Path()));
  ASSERT_TRUE(updater.WaitExit(40000)) << "the updater waited for the refused copy";
  std::printf("the updater ended after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
  EXPECT_FALSE(refused.Running());
  EXPECT_EQ("命令行不是新版本目录", Record("reason"));
  DWORD pid = 0;
  EXPECT_TRUE(Within(30000, [&] {
    const std::vector<DWORD> running = RunningProcessesOf(Program());
    pid = running.size() == 1 && running[0] != refused.Pid() ? running[0] : 0;
    return pid != 0;
  }));
  EXPECT_NE(nullptr, pid ? WaitForWindow(pid, "#32770", kVersionTag, 30000) : nullptr) << "the program is not back";
}

TEST_F(UpgradeTest, ASecondUpdaterWaitsForTheFirstInsteadOfQuitting) {
  AddUpdater();
  HANDLE first = CreateMutexA(nullptr, TRUE, "Global\\tavrick-upgrade");  // an updater at work
  ASSERT_NE(nullptr, first);
  CChildProcess second;
  ASSERT_TRUE(second.Start(dir.File("upgrade.exe"), "http://127.0.0.1:9/elsewhere/,", dir.Path()));
  EXPECT_FALSE(second.WaitExit(3000)) << "the second updater quit at once";
  EXPECT_EQ("", Record("result"));
  ReleaseMutex(first);
  CloseHandle(first);
  ASSERT_TRUE(second.WaitExit(30000));
  EXPECT_EQ(1u, second.ExitCode());
  EXPECT_EQ("命令行不是新版本目录", Record("reason"));
  // It brought the program back up.
  EXPECT_TRUE(Within(30000, [&] { return RunningProcessesOf(Program()).size() == 1; }));
}

// The boot service protects with its copy when the administrator opens Tavrick and a newer
// build is published: the administrator's copy takes over, hands over to the updater, and the
// new build protects alone. The service starts no copy beside the updater or the new build.
TEST_F(UpgradeTest, WithTheBootServiceInPlaceTheAdministratorsCopyTakesOverAndUpgradesAlone) {
  AddUpdater();
  AddDriverPackage();
  SetProtectTime("100");
  ASSERT_TRUE(CopyFileA((ExeDir() + "\\tavricksvc.exe").c_str(), dir.File("tavricksvc.exe").c_str(), FALSE));
  const auto serviceCommand = [&](const char* word) {
    CChildProcess command;
    if (!command.Start(dir.File("tavricksvc.exe"), word, dir.Path()) || !command.WaitExit(90000)) return false;
    return command.ExitCode() == 0;
  };
  ASSERT_TRUE(serviceCommand("install"));
  struct CRemoved {  // stopped and deleted, as the uninstaller does, whatever the test found
    std::function<bool(const char*)> command;
    ~CRemoved() { EXPECT_TRUE(command("uninstall")); }
  } removed{serviceCommand};
  {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(nullptr, manager);
    const SC_HANDLE service = OpenServiceA(manager, "TavrickGuard", SERVICE_START);
    const bool started = service && StartServiceA(service, 0, nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(started);
  }
  // The service's copy protects (its window is on the services' desktop).
  ASSERT_TRUE(Within(60000, [&] {
    CDriverCounters counters;
    return RunningProcessesOf(Program()).size() == 1 && ReadCounters(&counters) && counters.dwFiltering == 1 &&
           counters.blocked.size() == 1;
  }));
  const DWORD serviceCopy = RunningProcessesOf(Program())[0];
  Publish(ReadWholeFile(ExeDir() + "\\tavrick_next.exe"), "2.40");

  HWND main = nullptr;
  const DWORD pid = HandOverAndFindSuccessor(main);
  ASSERT_NE(nullptr, main);
  EXPECT_NE(serviceCopy, pid);
  ExpectProtecting(main);
  EXPECT_TRUE(Within(10000, [&] { return Record("result") == "installed"; })) << Record("result");
  Sleep(12000);  // longer than the service's settle
  EXPECT_EQ(std::vector<DWORD>{pid}, RunningProcessesOf(Program()));
}

}  // namespace
