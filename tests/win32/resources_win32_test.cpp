// The resource window and its samplers on the real system: in process, and in the real
// program (the test build tavrick_hooked.exe where a full disk or 4 o'clock is needed).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "common/resource.h"
#include "common/version.h"
#include "config/ini_access.h"
#include "config/profile_store_win32.h"
#include "foreign_list_view_win32.h"
#include "process_driver_win32.h"
#include "resources/cpu_usage_win32.h"
#include "scratch_dir_win32.h"
#include "standin_driver_win32.h"
#include "ui/message_pump_win32.h"
#include "vendor_standin_win32.h"

namespace {

const char kResourceCaption[] = "系统资源情况";

std::string Text(HWND window, int id) {
  char text[256] = {};
  GetDlgItemTextA(window, id, text, sizeof(text));
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string HookedExe() { return ExeDir() + "\\tavrick_hooked.exe"; }

// The program in a scratch folder whose configuration starts protection by itself.
class ResourceProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureDriverLoaded());
    WriteIni(store, kConfigFile, "sysice", "onlinetime", "1");
  }
  // Starts the program and waits until it protects.
  void StartProtecting(const std::string& exe) {
    ASSERT_TRUE(program.Start(exe, "", dir.Path()));
    main = WaitForWindow(program.Pid(), "#32770", kVersionTag, 20000);
    ASSERT_NE(nullptr, main) << DescribeProcessWindows(program);
    ASSERT_TRUE(WaitUntil([&] { return Text(main, IDC_STATE) == "启动"; }, 30000)) << Text(main, IDC_STATE);
    resources = WaitForWindow(program.Pid(), "#32770", kResourceCaption, 5000);
    ASSERT_NE(nullptr, resources);
  }
  std::vector<std::vector<std::string>> DiskRows() {
    return ForeignListRows(GetDlgItem(resources, IDC_SYSINFO_DISKS), 5);
  }

  CScratchDir dir;
  CWin32ProfileStore store;
  CChildProcess program;
  HWND main = nullptr;
  HWND resources = nullptr;
};

TEST(CpuUsageSampler, ReadsTheLayoutOfThisBuildAndSeesABusyProcessor) {
  CNtSystemInformation system;
  ASSERT_TRUE(system.Available());
  CCpuSampler sampler(system);
  ASSERT_TRUE(sampler.Begin());
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, sampler.Processors());
  EXPECT_FALSE(CCpuSampler(system, sizeof(void*) == 8 ? kLayout32 : kLayout64).Begin());

  CWin32MemoryStatus memory;
  CCpuUsage usage(system, memory);
  ASSERT_NE(nullptr, usage.TimerWindow());
  EXPECT_EQ(0, usage.GetCpuUsage());
  // One processor busy for the whole time: at least its share, whatever else the machine does.
  std::atomic<bool> stop{false};
  std::thread busy([&stop] {
    volatile unsigned long long n = 0;
    while (!stop.load()) n = n + 1;
  });
  const int share = 100 / static_cast<int>(info.dwNumberOfProcessors) / 2;
  const DWORD start = GetTickCount();
  do PumpMessagesAndWait(500);  // the baseline, then figures
  while (usage.GetCpuUsage() < share && GetTickCount() - start < 10000);
  stop = true;
  busy.join();
  EXPECT_GE(usage.GetCpuUsage(), share);
  EXPECT_LE(usage.GetCpuUsage(), 100);
  usage.Stop();
  EXPECT_EQ(nullptr, usage.TimerWindow());

  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_NEAR(static_cast<int>(status.dwMemoryLoad), usage.GetMemoryUsage(), 3);
  EXPECT_GT(usage.GetMemoryUsage(), 0);
}

TEST_F(ResourceProgramTest, TheWindowShowsBothBarsAndTheFixedDisksWithTheirTotal) {
  StartProtecting(TavrickExe());
  EXPECT_FALSE(IsWindowVisible(resources));
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_RESOURCES, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(resources) != FALSE; }, 5000));

  // The captions turn into figures at the first 2-second tick.
  ASSERT_TRUE(WaitUntil([&] { return Text(resources, IDC_SYSINFO_MEM_TEXT).rfind("内存使用率:", 0) == 0; }, 8000))
      << Text(resources, IDC_SYSINFO_MEM_TEXT);
  const std::string cpu = Text(resources, IDC_SYSINFO_CPU_TEXT);
  EXPECT_EQ(0u, cpu.rfind("CPU使用率:", 0)) << cpu;
  EXPECT_EQ('%', cpu.back());
  const std::string memoryText = Text(resources, IDC_SYSINFO_MEM_TEXT);
  const int memory = std::atoi(memoryText.substr(memoryText.find(':') + 1).c_str());
  ASSERT_GT(memory, 0);
  ASSERT_LT(memory, 100);

  // Bars: black above, green from the bottom up to the figure.
  for (int id : {IDC_SYSINFO_CPU_BAR, IDC_SYSINFO_MEM_BAR}) {
    HWND bar = GetDlgItem(resources, id);
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ("MYSCALERECTCTRL", ClassOf(bar));
    EXPECT_TRUE(IsWindowVisible(bar));
  }
  HWND bar = GetDlgItem(resources, IDC_SYSINFO_MEM_BAR);
  RECT rc;
  GetClientRect(bar, &rc);
  ASSERT_GT(rc.bottom, 100);
  Sleep(2500);  // a redraw after the window came up
  HDC screen = GetDC(nullptr);
  POINT top = {rc.right / 2, 0}, bottom = {rc.right / 2, rc.bottom - 1};
  ClientToScreen(bar, &top);
  ClientToScreen(bar, &bottom);
  EXPECT_EQ(RGB(0, 0, 0), GetPixel(screen, top.x, top.y));
  EXPECT_EQ(RGB(0, 255, 0), GetPixel(screen, bottom.x, bottom.y));
  ReleaseDC(nullptr, screen);

  // C: and Z: are fixed disks under Wine; only A: to J: are looked at, so Z: is not listed.
  const auto rows = DiskRows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("0", rows[0][0]);
  EXPECT_EQ("C:", rows[0][1]);
  EXPECT_EQ("1", rows[1][0]);
  EXPECT_EQ("全部", rows[1][1]);
  ULARGE_INTEGER callerFree, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &callerFree, &total, &free));
  char expected[32];
  std::snprintf(expected, sizeof(expected), "%.2fG", static_cast<float>(total.QuadPart / 1073741824.0));
  EXPECT_EQ(expected, rows[0][2]);
  EXPECT_EQ(std::to_string(total.QuadPart >> 30) + "G", rows[1][2]);
  EXPECT_EQ('%', rows[1][4].back());
  EXPECT_EQ('%', rows[0][4].back());
}

TEST_F(ResourceProgramTest, AFullDiskSendsOneAlertToTheService) {
  ASSERT_FALSE(StandInBase().empty()) << "the stand-in vendor service is not running";
  const std::string mail = "disk-" + std::to_string(GetTickCount()) + "@example.com";
  WriteIni(store, kConfigFile, "msg", "diskchk", "1");
  WriteIni(store, kConfigFile, "msg", "emil", mail);
  CEnvironmentWord host("TAVRICK_SERVICE_HOST", StandInHost());
  CEnvironmentWord low("TAVRICK_HOOK_LOW_DISK", "C");
  CEnvironmentWord period("TAVRICK_HOOK_TIMER_MS", "1000");
  StartProtecting(HookedExe());

  const auto rows = DiskRows();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("C:", rows[0][1]);
  EXPECT_EQ("0.00G", rows[0][3]);

  auto alerts = [&] {
    const std::string outbox = StandInAdmin("/tavrick/admin/outbox.json?charset=gbk").body;
    size_t count = 0;
    for (size_t at = outbox.find(mail); at != std::string::npos; at = outbox.find(mail, at + 1)) ++count;
    return std::make_pair(count, outbox);
  };
  ASSERT_TRUE(WaitUntil([&] { return alerts().first > 0; }, 30000));
  EXPECT_NE(std::string::npos, alerts().second.find("服务器C:空间不足,请清理!"));
  Sleep(4000);  // four more checks and table refreshes
  EXPECT_EQ(1u, alerts().first);
}

// The command line another process was started with, from its process parameters.
std::string CommandLineOf(DWORD pid) {
  using QueryFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "NtQueryInformationProcess")));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  std::string line;
  ULONG_PTR basic[6] = {};  // exit status, PEB address, ...
  if (process && query && query(process, 0, basic, sizeof(basic), nullptr) == 0) {
    const auto peb = reinterpret_cast<const char*>(basic[1]);
    const char* parameters = nullptr;
    struct {
      USHORT Length, MaximumLength;
      PWSTR Buffer;
    } command = {};
    const size_t parametersAt = sizeof(void*) == 8 ? 0x20 : 0x10, commandAt = sizeof(void*) == 8 ? 0x70 : 0x40;
    if (ReadProcessMemory(process, peb + parametersAt, &parameters, sizeof(parameters), nullptr) &&
        ReadProcessMemory(process, parameters + commandAt, &command, sizeof(command), nullptr)) {
      std::wstring wide(command.Length / sizeof(wchar_t), L'\0');
      if (ReadProcessMemory(process, command.Buffer, &wide[0], command.Length, nullptr)) {
        char text[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof(text) - 1, nullptr, nullptr);
        line = text;
      }
    }
  }
  if (process) CloseHandle(process);
  return line;
}

TEST_F(ResourceProgramTest, TheDailyRestartStartsACopyWithRebootThatKeepsOneCopyRunning) {
  CEnvironmentWord restart("TAVRICK_HOOK_RESTART", "1");
  StartProtecting(HookedExe());
  ASSERT_TRUE(program.WaitExit(20000)) << "the program did not restart itself";
  EXPECT_EQ(0u, program.ExitCode());

  HWND copy = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (copy = FindWindowA("#32770", kVersionTag)) != nullptr; }, 20000));
  DWORD pid = 0;
  GetWindowThreadProcessId(copy, &pid);
  // Ended with the test, however it ends.
  std::unique_ptr<void, void (*)(HANDLE)> process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid),
                                                  [](HANDLE p) {
                                                    if (!p) return;
                                                    TerminateProcess(p, 0);
                                                    WaitForSingleObject(p, 10000);
                                                    CloseHandle(p);
                                                  });
  ASSERT_NE(nullptr, process.get());
  EXPECT_EQ("\"" + HookedExe() + "\" reboot", CommandLineOf(pid));
  // The protection time carries over: the copy protects again by itself, and does not restart
  // once more (the hook is gone from its environment).
  EXPECT_TRUE(WaitUntil([&] { return Text(copy, IDC_STATE) == "启动"; }, 30000)) << Text(copy, IDC_STATE);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 5000));

  // It holds the name: a normal start is refused.
  CChildProcess third;
  ASSERT_TRUE(third.Start(TavrickExe(), "", dir.Path()));
  HWND box = WaitForWindow(third.Pid(), "#32770", kAppName, 20000);
  ASSERT_NE(nullptr, box) << "a second copy ran beside the restarted one";
  EXPECT_EQ("已经运行一个程序,不能重复运行!", MessageBoxText(box));
  AnswerMessageBox(box, IDOK);
  EXPECT_TRUE(third.WaitExit(10000));
}

}  // namespace
